#include "audio/output/DiagnosticsWriter.h"

#include "session/AtomicFileWriter.h"
#include "platform/ThreadName.h"

namespace vantrel
{
DiagnosticsWriter::DiagnosticsWriter()
    : thread ([this] { platform::nameCurrentThread ("diagnostics"); run(); })
{
}

DiagnosticsWriter::~DiagnosticsWriter()
{
    {
        std::lock_guard<std::mutex> lock (mutex);
        quit = true;
    }
    wake.notify_all();
    thread.join();
}

void DiagnosticsWriter::setPath (const juce::File& file)
{
    path = file;
}

bool DiagnosticsWriter::tick (uint32_t nowMs, const std::function<Build()>& snapshot)
{
    if (path == juce::File() || static_cast<int32_t> (nowMs - lastWriteMs) < periodMs)
        return false;
    lastWriteMs = nowMs;
    auto build = snapshot();
    {
        std::lock_guard<std::mutex> lock (mutex);
        pendingFile = path;
        pendingBuild = std::move (build);
        hasPending = true;
    }
    wake.notify_all();
    return true;
}

void DiagnosticsWriter::waitUntilIdle()
{
    std::unique_lock<std::mutex> lock (mutex);
    wake.wait (lock, [this] { return ! hasPending && ! writing; });
}

void DiagnosticsWriter::run()
{
    std::unique_lock<std::mutex> lock (mutex);
    for (;;)
    {
        wake.wait (lock, [this] { return quit || hasPending; });
        if (! hasPending)
            return;
        const auto file = pendingFile;
        const auto build = std::move (pendingBuild);
        pendingBuild = nullptr;
        hasPending = false;
        writing = true;
        lock.unlock();
        // The first write to a file clears the temporary siblings that an earlier run, killed
        // mid-write, left of it. Nothing reads the file back, so a failed write only waits for
        // the next period.
        if (file != cleanedFile)
        {
            removeStaleTemporaryFiles (file.getParentDirectory(),
                                       [name = file.getFileName()] (const juce::String& target) { return target == name; });
            cleanedFile = file;
        }
        if (build)
            writeFileAtomically (file, juce::JSON::toString (build(), false, 15), true);
        lock.lock();
        writing = false;
        wake.notify_all();
    }
}
} // namespace vantrel
