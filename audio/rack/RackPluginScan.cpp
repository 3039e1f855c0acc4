#include "audio/rack/RackPluginScan.h"

#include "vsthost/ProtocolWords.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/Vst3BundleSearch.h"
#include "audio/rack/VstPaths.h"
#include "audio/rack/VstWorkerClient.h"
#include "audio/rack/WorkerReplyFields.h"
#include "platform/ThreadContract.h"
#include "platform/ThreadPriority.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <map>

namespace vantrel
{
namespace protocol = orvane::vsthost::protocol;

namespace
{
constexpr int scanTimeoutMs = 7000;

// A CLASS line: "CLASS", class id, name, vendor, version and at least one more field.
constexpr int minimumClassFields = 6;
} // namespace

RackPluginScan::RackPluginScan (const std::atomic<bool>& stopRequestedToWatch)
    : stopRequested (stopRequestedToWatch)
{
}

RackPluginScan::~RackPluginScan()
{
    cancel();

    if (thread.joinable())
        thread.join();
}

void RackPluginScan::start (const juce::StringArray& folders, const juce::File& workerProgram)
{
    VANTREL_ASSERT_CONTROL_THREAD;

    if (thread.joinable())
        thread.join();

    running = true;
    cancelRequested = false;
    done = 0;
    total = 0;
    thread = std::thread ([this, folders, workerProgram] { platform::nameCurrentThread ("rack scan"); run (folders, workerProgram); });
}

void RackPluginScan::join()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    if (thread.joinable())
        thread.join();
}

bool RackPluginScan::hasResults() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return finished.has_value();
}

std::optional<RackPluginScan::Results> RackPluginScan::takeResults()
{
    VANTREL_ASSERT_CONTROL_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);
    auto results = std::move (finished);
    finished.reset();
    return results;
}

void RackPluginScan::run (juce::StringArray folders, juce::File workerProgram)
{
    const ThreadRoleScope backgroundRole (ThreadRole::background);
    // A thread inherits the real-time scheduling of the control thread that starts it; the scan
    // has no deadline and must not compete with the audio.
    platform::restoreNormalPriority();

    int excluded = 0;
    const auto bundles = findVst3Bundles (folders, [this] { return cancelled(); }, excluded);
    total = (std::int32_t) bundles.paths().size();

    std::vector<VstPluginInfo> entries;
    std::vector<VstScanFailure> failures;

    for (const auto& bundle : bundles.paths())
    {
        if (cancelled())
            break;

        VstWorkerClient client;
        std::vector<juce::String> reply;
        juce::String error;

        if (client.start (workerProgram, error) && client.command (juce::String (protocol::scanVst3) + "\t" + bundle, reply, error, scanTimeoutMs))
        {
            for (const auto& line : reply)
            {
                if (! line.startsWith (juce::String (protocol::classLine) + "\t"))
                    continue;

                const auto fields = splitReplyFields (line);

                if (fields.size() >= minimumClassFields && isVstUid (fields[1]))
                    entries.push_back ({ fields[1].toUpperCase(), fields[2], fields[3], fields[4], bundle, false });
            }
        }
        else
        {
            ++excluded;
            failures.push_back ({ bundle, error });
        }

        ++done;
    }

    std::map<juce::String, int> uses;

    for (const auto& entry : entries)
        ++uses[entry.uid];

    for (auto& entry : entries)
        entry.duplicate = uses[entry.uid] > 1;

    std::stable_sort (entries.begin(), entries.end(),
                      [] (const VstPluginInfo& a, const VstPluginInfo& b) { return a.name.compareIgnoreCase (b.name) < 0; });

    auto summary = rackText::scanSummary (entries.size(), excluded);

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (cancelled())
            finished.reset();
        else
            finished = Results { std::move (entries), std::move (summary), std::move (failures) };
    }

    running = false;
}
} // namespace vantrel
