#pragma once

namespace vantrel
{
/** A quit in progress: whether one runs, and whether the output it closed was open, so that a
    quit abandoned because it could not keep everything opens that output again. While a quit
    runs, the tick and the edits stand still. Message thread only. */
class QuitProgress
{
public:
    bool isQuitting() const noexcept  { return quitting; }
    /** A quit starts; `outputOpen`: the output it is about to close is open. */
    void begin (bool outputOpen) noexcept
    {
        outputOpenBefore = outputOpen;
        quitting = true;
    }
    /** The quit is abandoned; true when the output it closed must be opened again. */
    bool abandon() noexcept
    {
        quitting = false;
        return outputOpenBefore;
    }

private:
    bool quitting = false;
    bool outputOpenBefore = false;
};
} // namespace vantrel
