#pragma once

namespace vantrel
{
/** Held for the duration of one stream-decoding task (the M4A/AAC and MP3 fallback decoder, the
    CD import's MP3 encoder) on the calling thread. On Linux the decoder library needs no
    per-thread start-up, so the guard always starts; it keeps the started() contract so that
    its owners treat a failed start the same way on every platform. Construction also quiets
    the decoder library's own console logging once per process (failures are reported through
    the decoder's result instead). Never fails, never throws. */
class MediaFoundationScope
{
public:
    MediaFoundationScope() noexcept;
    ~MediaFoundationScope() = default;

    MediaFoundationScope (const MediaFoundationScope&) = delete;
    MediaFoundationScope& operator= (const MediaFoundationScope&) = delete;

    /** The start-up result: true when the decoder library may be used on this thread. */
    bool started() const noexcept  { return startedOk; }

private:
    bool startedOk = false;
};
} // namespace vantrel
