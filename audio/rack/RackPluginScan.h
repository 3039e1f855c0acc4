#pragma once

// Threads: start, join and takeResults on the rack's control thread; the scan itself on a thread
// of its own, so that the block exchange goes on meanwhile; cancel and the progress queries on
// any thread. The scan thread has the background role: it runs none of the rack's entry points,
// only this class's scan, which touches its own lists, the progress atomics and the hand-over
// under this class's mutex, and the scan workers it starts and talks to.

#include "audio/rack/VstRackRecords.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vantrel
{
/** The plug-in scan that builds the rack's catalogue: every VST3 bundle found in the folders is
    asked, by a short-lived worker of its own, which effect classes it offers, so that no plug-in
    code runs inside this program. A bundle whose worker cannot start, times out or refuses is
    counted as excluded and the scan goes on. */
class RackPluginScan
{
public:
    /** The catalogue of a scan that ran to its end. */
    struct Results
    {
        std::vector<VstPluginInfo> plugins;   // sorted by name, ignoring case; duplicates marked
        juce::String summary;                 // "VST3 " + n + "件" [+ " / 除外・失敗 " + m + "件"]
        std::vector<VstScanFailure> failures; // the bundles that failed, in the order scanned
    };

    /** `stopRequested` is the rack's: a scan stops at the next entry or bundle once it is set. */
    explicit RackPluginScan (const std::atomic<bool>& stopRequested);
    ~RackPluginScan();   // cancels and joins

    RackPluginScan (const RackPluginScan&) = delete;
    RackPluginScan& operator= (const RackPluginScan&) = delete;

    /** Control thread, while no scan runs: joins the thread of a finished scan and starts a scan
        of `folders` (in this order) with `workerProgram`. */
    void start (const juce::StringArray& folders, const juce::File& workerProgram);

    /** Any thread: the running scan stops at its next entry or bundle; its results are not
        handed over. */
    void cancel() noexcept { cancelRequested = true; }

    /** Control thread: waits for the scan thread to end. */
    void join();

    /** Any thread. */
    bool isRunning() const noexcept { return running.load(); }
    std::int32_t bundlesDone() const noexcept { return done.load(); }
    std::int32_t bundlesTotal() const noexcept { return total.load(); }

    /** Any thread: results wait to be taken. Read after isRunning: a scan that no longer runs has
        handed its results over by then. */
    bool hasResults() const;

    /** Control thread: the results of the last scan that ran to its end, once. */
    std::optional<Results> takeResults();

private:
    void run (juce::StringArray folders, juce::File workerProgram);   // the scan thread
    bool cancelled() const noexcept { return cancelRequested.load() || stopRequested.load(); }

    const std::atomic<bool>& stopRequested;
    std::atomic<bool> cancelRequested { false };
    std::atomic<bool> running { false };
    std::atomic<std::int32_t> done { 0 };
    std::atomic<std::int32_t> total { 0 };

    mutable std::mutex mutex;
    std::optional<Results> finished;   // under the mutex: handed over by takeResults

    std::thread thread;   // control thread only
};
} // namespace vantrel
