#pragma once

// The adapter's rack with the real worker and the JUCE test gain plug-in, driven through the
// adapter's rack() interface as the session drives it.
#include "AdapterTestSupport.h"
#include "audio/rack/RackConfigFile.h"
#include "audio/rack/VstWorkerClient.h"
#include "support/TestFiles.h"

#include <juce_core/juce_core.h>

#include <vector>

namespace vantrel::test
{
/** The worker program the rack runs its plug-ins in. */
inline juce::File realWorker()  { return juce::File (ORVANE_TEST_WORKER); }

/** The bundle of "OrvaneTestGain": output = input x gain, gain 0..2 (parameter 0..1), 1 by
    default, a reported latency of 128 samples that it does not apply. */
inline juce::File gainBundle()
{
    return juce::File (ORVANE_TEST_GAIN_LIBRARY).getParentDirectory().getParentDirectory().getParentDirectory();
}

constexpr const char* gainPluginName = "OrvaneTestGain";
constexpr float gainPluginDefaultGain = 1.0f;

/** A profile of the rack's own: "plugins" holds a copy of the gain plug-in's bundle (and
    nothing else), "local/master-vst.json" is the rack's settings file, absent until written. */
class RackProfile
{
public:
    RackProfile()
    {
        pluginFolder().createDirectory();
        copied = gainBundle().copyDirectoryTo (pluginFolder().getChildFile (gainBundle().getFileName()));
        settingsFile().getParentDirectory().createDirectory();
    }

    bool ready() const  { return copied; }
    juce::File pluginFolder() const  { return folder / "plugins"; }
    juce::File settingsFile() const  { return folder / "local/master-vst.json"; }
    juce::File mediaFolder() const  { auto media = folder / "media"; media.createDirectory(); return media; }

private:
    testing::TempFolder folder { "adapter-rack" };
    bool copied = false;
};

/** The gain plug-in's entry in the rack's catalogue; an empty uid while it is not listed. */
inline VstPluginInfo gainPluginIn (const VstRackStatus& status)
{
    for (const auto& plugin : status.plugins)
        if (plugin.name == gainPluginName && ! plugin.duplicate)
            return plugin;
    return {};
}

/** Through the adapter's rack: adds the profile's plug-in folder (a new scan) and waits until the
    scan has listed the gain plug-in and the rack is idle. Its uid, or empty when that never
    happened. Nothing may play yet: a search folder is refused during playback. */
inline juce::String scanForGainPlugin (JuceAudioAdapter& adapter, const RackProfile& profile)
{
    if (! adapter.rack().addSearchFolder (profile.pluginFolder()))
        return {};
    juce::String uid;
    waitUntil ([&] {
        const auto status = adapter.rack().status();
        uid = gainPluginIn (status).uid;
        return uid.isNotEmpty() && ! status.scanning && ! adapter.rack().isBusy();
    }, [&adapter] { adapter.tick(); });
    return uid;
}

/** Waits until the rack is idle with `slot` loaded and enabled as asked. */
inline bool slotSettles (JuceAudioAdapter& adapter, int slot, bool enabled)
{
    return waitUntil ([&] {
        const auto status = adapter.rack().status();
        const auto& s = status.slots[(size_t) slot];
        return ! adapter.rack().isBusy() && s.loaded && s.enabled == enabled;
    }, [&adapter] { adapter.tick(); });
}

/** The gain plug-in's class id and the state the real worker saves for it at `gain` (0..2);
    both empty on failure. Made with a worker of the test's own, as a profile that was set up
    earlier would hold it. */
struct GainPluginState
{
    juce::String uid;
    juce::String stateHex;
};

inline GainPluginState gainPluginState (float gain)
{
    VstWorkerClient client;
    std::vector<juce::String> lines;
    juce::String error;
    const auto bundle = gainBundle().getFullPathName();
    if (! client.start (realWorker(), error) || ! client.command ("SCAN_VST3\t" + bundle, lines, error, 15000) || lines.size() != 2)
        return {};
    const auto uid = juce::StringArray::fromTokens (lines[0], "\t", "")[1];
    if (! client.command ("LOAD_VST3\t" + bundle + "\t" + uid, lines, error, 15000)
        || ! client.command ("CONFIG\t48000\t2\t512\trealtime", lines, error, 15000)
        || ! client.command ("PARAMS", lines, error, 15000))
        return {};
    juce::String parameter;
    for (const auto& line : lines)
    {
        const auto fields = juce::StringArray::fromTokens (line, "\t", "");
        if (fields.size() >= 3 && fields[0] == "PARAM" && fields[2] == "Gain")
            parameter = fields[1];
    }
    if (parameter.isEmpty()
        || ! client.command ("SET_PARAM\t" + parameter + "\t" + juce::String (gain / 2.0f, 6), lines, error, 15000)
        || ! client.command ("SAVE_STATE", lines, error, 15000))
        return {};
    return { uid, lines.back().substring (3) };
}
} // namespace vantrel::test
