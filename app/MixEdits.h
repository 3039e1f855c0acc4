#pragma once

#include "audio/output/JuceAudioAdapter.h"
#include "session/CatalogRecords.h"
#include "session/UndoHistory.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel
{
/** The gains and EQs of rows, playlist buses and MASTER as the working document holds them and
    the engine plays them: the targets the EQ panel names ("@master", "@playlist:<id>", a row id),
    live values while a control is dragged, the document from before the drag, the EQ clipboard
    and the push of the values to the engine. Whether a target may be edited now (LIVE LOCK,
    recovery, quitting) and the history steps stay the coordinator's. Message thread only. */
class MixEdits
{
public:
    enum class Target { master, playlist, row };

    MixEdits (UndoHistory& history, JuceAudioAdapter& audio) noexcept : history (history), audio (audio) {}

    MixEdits (const MixEdits&) = delete;
    MixEdits& operator= (const MixEdits&) = delete;

    static Target targetKind (const std::string& target);

    /** The EQ a target names in the working document, or null. */
    const EqSettings* eq (const std::string& target) const;
    /** The same EQ to change in place: the call counts as a live change of the document. */
    EqSettings* eqForLiveChange (const std::string& target);
    /** "MASTER EQ", "PLAYLIST EQ / <name>" or "TRACK EQ / <title>"; empty when the target is gone. */
    juce::String title (const std::string& target) const;
    /** Puts `eq` on the target in `document`; false when the document has no such target. */
    static bool putEq (CatalogDocument& document, const std::string& target, const EqSettings& eq);

    // Live values: the working document and the engine change, no history step. A target that
    // is gone changes nothing.
    void setLiveEq (const std::string& target, const EqSettings& eq);
    void setLiveRowGain (const std::string& rowId, float gainDb);
    void setLivePlaylistGain (const std::string& playlistId, float gainDb);

    /** A drag starts: the document as it is now is kept until the drag ends (a second start
        changes nothing). */
    void beginDrag();
    bool isDragging() const noexcept  { return before.has_value(); }
    /** The drag ends: returns the document at its end and puts the values from before it back
        in the working document; nothing when no drag was pending. */
    std::optional<CatalogDocument> endDrag();
    /** During a drag, the values from before it put back into `document` (what is saved). */
    void restoreBeforeDrag (CatalogDocument& document) const;

    /** Copies the target's EQ to the clipboard; false when the target is gone. */
    bool copyEq (const std::string& target);
    /** The clipboard's EQ with the target's own on/off; nothing when the clipboard is empty or
        the target is gone. */
    std::optional<EqSettings> clipboardFor (const std::string& target) const;
    const std::optional<EqSettings>& clipboard() const noexcept  { return eqClipboard; }

    /** Hands the working document's values to the engine; the rows' values only when the
        document changed since their last push (GO pushes first, and a catalog is long). */
    void pushToEngine();

private:
    /** Tests fill the clipboard without a target to copy from. */
    friend class SessionCoordinatorTestAccess;

    UndoHistory& history;
    JuceAudioAdapter& audio;
    std::optional<CatalogDocument> before;
    std::optional<EqSettings> eqClipboard;
    std::uint64_t rowsPushedAt = ~std::uint64_t {};   // the history's change count at the last push of the rows' values
};

/** The values of `before` put back into `document`: MASTER EQ, and the bus EQ and gain of every
    playlist and the EQ and gain of every row that `before` also holds. */
void restoreMixValues (CatalogDocument& document, const CatalogDocument& before);
} // namespace vantrel
