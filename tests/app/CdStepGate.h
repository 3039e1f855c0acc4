#pragma once
// Holding the CD importer's worker at one of its steps, for the panel tests and the screens.

#include <juce_core/juce_core.h>

#include <condition_variable>
#include <mutex>

namespace vantrel::test
{
/** Given to CdImportSetup::afterStep (`pass`, on the worker): the worker waits at the step named
    by `hold` until `release`. */
struct CdStepGate
{
    void hold (const juce::String& step)  { std::lock_guard<std::mutex> lock (mutex); holdAt = step, reached = released = false; }
    bool isReached()  { std::lock_guard<std::mutex> lock (mutex); return reached; }
    void release()
    {
        std::lock_guard<std::mutex> lock (mutex);
        released = true, holdAt.clear();
        changed.notify_all();
    }
    void pass (const juce::String& step)
    {
        std::unique_lock<std::mutex> lock (mutex);
        if (step == holdAt)
            reached = true, changed.wait (lock, [this] { return released; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    juce::String holdAt;
    bool reached = false, released = false;
};
} // namespace vantrel::test
