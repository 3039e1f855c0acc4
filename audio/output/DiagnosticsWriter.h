#pragma once

#include <juce_core/juce_core.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrel
{
/** Rewrites "audio-diagnostics.json" at most every 5 s. On the caller's (message) thread only the
    figures are copied; the document is built, turned into text and written atomically with its
    fsyncs on the writer's own thread, so the message thread neither builds it nor waits for the
    disk. A write not yet started when the next one is due is replaced by the newer document.
    Failed writes are not reported (the next period tries again). */
class DiagnosticsWriter
{
public:
    static constexpr int periodMs = 5000;

    DiagnosticsWriter();
    ~DiagnosticsWriter();

    DiagnosticsWriter (const DiagnosticsWriter&) = delete;
    DiagnosticsWriter& operator= (const DiagnosticsWriter&) = delete;

    /** The file to write; an empty path means no file. Message thread. */
    void setPath (const juce::File& file);

    /** Builds the document on the writer thread from what the snapshot copied. */
    using Build = std::function<juce::var()>;

    /** When the path is set and at least 5000 ms (signed difference of the 32-bit millisecond
        counter `nowMs`) passed since the last write, calls `snapshot` here (it copies what the
        document reports) and hands the build it returns to the writer thread. True when a write
        was started. Message thread. */
    bool tick (uint32_t nowMs, const std::function<Build()>& snapshot);

    /** Blocks until no write is pending or running (tests and shutdown). */
    void waitUntilIdle();

private:
    void run();

    juce::File path;
    uint32_t lastWriteMs = 0;

    std::mutex mutex;
    std::condition_variable wake;
    juce::File pendingFile;
    Build pendingBuild;
    bool hasPending = false;
    bool writing = false;
    bool quit = false;
    juce::File cleanedFile;   // writer thread only: the file whose stale temporaries are gone
    std::thread thread;
};
} // namespace vantrel
