// The plug-in scan: one short-lived worker per bundle found in the VST3 folders, on a thread of
// its own so that the block exchange goes on meanwhile.
#include "audio/rack/MasterVstRack.h"

#include "vsthost/ProtocolWords.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/Vst3BundleSearch.h"
#include "audio/rack/VstPaths.h"
#include "audio/rack/WorkerReplyFields.h"
#include "platform/ThreadPriority.h"

#include <algorithm>
#include <map>

namespace vantrel
{
namespace protocol = orvane::vsthost::protocol;

namespace
{
constexpr int scanTimeoutMs = 7000;
} // namespace

void MasterVstRack::startScan()
{
    if (scanThread.joinable())
        scanThread.join();

    scanRunning = true;
    scanCancel = false;
    scanDone = 0;
    scanTotal = 0;

    auto folders = options.standardFolders.value_or (vantrel::defaultVst3Folders());

    {
        const std::lock_guard<std::mutex> lock (mutex);

        for (const auto& folder : searchFolders)
            folders.addIfNotAlreadyThere (folder);

        message = rackText::text (rackText::scanning);
    }

    scanThread = std::thread ([this, folders] { scan (folders); });
}

void MasterVstRack::scan (juce::StringArray folders)
{
    // A thread inherits the real-time scheduling of the control thread that starts it; the scan
    // has no deadline and must not compete with the audio.
    platform::restoreNormalPriority();

    const auto cancelled = [this] { return scanCancel.load() || stopRequested.load(); };
    int excluded = 0;
    const auto bundles = findVst3Bundles (folders, cancelled, excluded);
    scanTotal = (std::int32_t) bundles.paths().size();

    std::vector<VstPluginInfo> entries;

    for (const auto& bundle : bundles.paths())
    {
        if (cancelled())
            break;

        VstWorkerClient client;
        std::vector<juce::String> reply;
        juce::String error;

        if (client.start (workerExecutable, error) && client.command (juce::String (protocol::scanVst3) + "\t" + bundle, reply, error, scanTimeoutMs))
        {
            for (const auto& line : reply)
            {
                if (! line.startsWith (juce::String (protocol::classLine) + "\t"))
                    continue;

                const auto fields = splitReplyFields (line);

                if (fields.size() >= 6 && isVstUid (fields[1]))
                    entries.push_back ({ fields[1].toUpperCase(), fields[2], fields[3], fields[4], bundle, false });
            }
        }
        else
            ++excluded;

        ++scanDone;
    }

    std::map<juce::String, int> uses;

    for (const auto& entry : entries)
        ++uses[entry.uid];

    for (auto& entry : entries)
        entry.duplicate = uses[entry.uid] > 1;

    std::stable_sort (entries.begin(), entries.end(),
                      [] (const VstPluginInfo& a, const VstPluginInfo& b) { return a.name.compareIgnoreCase (b.name) < 0; });

    {
        const std::lock_guard<std::mutex> lock (mutex);
        scanResults = std::move (entries);
        scanSummary = rackText::scanSummary (scanResults.size(), excluded);
        scanResultsReady = ! cancelled();
    }

    scanRunning = false;
}
} // namespace vantrel
