// The ALSA output path against playback PCMs the test declares itself: a private ".asoundrc" of
// null PCMs with hints, so the framework's "ALSA" type, the catalogue and the adapter see the same
// known devices on any machine. Only the declared PCMs and their relative order are asserted:
// a machine's own cards may be listed among them.
#include "AdapterTestSupport.h"
#include "audio/output/DeviceCatalogue.h"
#include "audio/output/JuceAudioAdapter.h"
#include "support/TestFiles.h"
#include "platform/AlsaPcmList.h"
#include "support/EnvironmentVariable.h"
#include "tests/app/PulseTestServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <utility>

namespace vantrel
{
// Failures print the fields, not the bytes.
static void PrintTo (const OutputDeviceSettings& device, std::ostream* out)
{
    *out << device.type << " \"" << device.name << "\" id=" << device.id << " rate=" << device.sampleRate
         << " buffer=" << device.bufferSize << " pair=" << device.outputPair;
}
} // namespace vantrel

namespace
{
using vantrel::JuceAudioAdapter;
using vantrel::OutputDeviceSettings;
using vantrel::testing::ja;

// Every PCM discards its samples and accepts any rate and format. alsa-lib hints the PCMs in
// the order they are declared; with "defaults.namehint.showall" on (alsa.conf's default) a PCM
// without a hint is hinted too, so "show off" keeps one out. "default" and "pulse" are replaced
// unhinted: the framework adds them itself and puts them first. Two outputs share a description
// with a capture-only PCM ("dsnoop" prefix) between them; the custom namehint entries give an
// input-only PCM (sharing the stage's description), an output-only one and ids the framework
// filters out.
const char* const declaredConfiguration = R"(
pcm.!default { type null; hint { show off } }
pcm.!pulse { type null; hint { show off } }
pcm.vantrel_stage { type null; hint { show on; description "Vantrel Test Stage" } }
pcm.vantrel_twin_b { type null; hint { show on; description "Vantrel Test Twin" } }
pcm.dsnoop_vantrel { type null; hint { show on; description "Vantrel Test Twin" } }
pcm.vantrel_booth { type null; hint { show on; description "Vantrel Test Booth
Left and right" } }
pcm.vantrel_twin_a { type null; hint { show on; description "Vantrel Test Twin" } }
pcm.vantrel_bare { type null; hint { show on } }
pcm.vantrel_wings { type null; hint { show on; description "Vantrel 舞台袖" } }
pcm.vantrel_mic { type null; hint { show off } }
pcm.vantrel_send { type null; hint { show off } }
namehint.pcm {
    mic "vantrel_mic|Vantrel Test Stage|IOIDInput"
    send "vantrel_send|Vantrel Test Send|IOIDOutput"
    plughw "plughw:CARD=Vantrel,DEV=0|Vantrel Test Plug"
    card "default:CARD=Vantrel|Vantrel Test Card Default"
    sysdefault "sysdefault:CARD=Vantrel|Vantrel Test Card System"
}
)";

/** Every id the configuration declares or hints, listed or not. */
const juce::StringArray declaredIds { "default", "pulse", "vantrel_stage", "vantrel_twin_b", "dsnoop_vantrel",
                                      "vantrel_booth", "vantrel_twin_a", "vantrel_bare", "vantrel_wings",
                                      "vantrel_mic", "vantrel_send", "plughw:CARD=Vantrel,DEV=0",
                                      "default:CARD=Vantrel", "sysdefault:CARD=Vantrel" };

OutputDeviceSettings alsa (const juce::String& name, const juce::String& id)
{
    return { "ALSA", name, id, 0.0, 0, 0 };
}

/** The declared outputs as the framework names them, in its order. */
const std::vector<OutputDeviceSettings> expectedOutputs {
    alsa ("Default ALSA Output", "default"),
    alsa ("Pulseaudio output", "pulse"),
    alsa ("Vantrel Test Stage", "vantrel_stage"),
    alsa ("Vantrel Test Twin (1)", "vantrel_twin_b"),
    alsa ("Vantrel Test Booth; Left and right", "vantrel_booth"),
    alsa ("Vantrel Test Twin (2)", "vantrel_twin_a"),
    alsa ("vantrel_bare", "vantrel_bare"),
    alsa (ja ("Vantrel 舞台袖"), "vantrel_wings"),
    alsa ("Vantrel Test Send", "vantrel_send"),
};

/** Points alsa-lib at a configuration while it lives: HOME (and XDG_CONFIG_HOME, when set) name
    a private folder holding it as ".asoundrc", and alsa-lib's cached configuration is dropped on
    the way in and out, so ALSA users before and after in this process keep their own. */
class DeclaredAlsaConfiguration
{
public:
    explicit DeclaredAlsaConfiguration (const std::string& text)
    {
        if (std::getenv ("HOME") == nullptr
            || ! vantrel::testing::writeBytes (folder / ".asoundrc", text)
            || ! (folder / "config").createDirectory())
            return;
        ready = redirect ("HOME", folder.path()) && redirect ("XDG_CONFIG_HOME", folder / "config");
        vantrel::platform::reloadAlsaConfiguration();
    }

    ~DeclaredAlsaConfiguration()
    {
        for (const auto& [name, value] : saved)
            vantrel::platform::setEnvironmentVariable (name, value);
        vantrel::platform::reloadAlsaConfiguration();
    }

    DeclaredAlsaConfiguration (const DeclaredAlsaConfiguration&) = delete;
    DeclaredAlsaConfiguration& operator= (const DeclaredAlsaConfiguration&) = delete;

    /** The file is written and the environment points at it. */
    bool ready = false;

private:
    /** Replaces a variable that is set; one that is not set stays unset (HOME is checked first). */
    bool redirect (const char* name, const juce::File& target)
    {
        const char* previous = std::getenv (name);
        if (previous == nullptr)
            return true;
        saved.emplace_back (name, previous);
        return vantrel::platform::setEnvironmentVariable (name, target.getFullPathName().toStdString());
    }

    vantrel::testing::TempFolder folder { "alsa-config" };
    std::vector<std::pair<std::string, std::string>> saved;
};

std::vector<OutputDeviceSettings> onlyDeclared (const std::vector<OutputDeviceSettings>& devices)
{
    std::vector<OutputDeviceSettings> declared;
    for (const auto& device : devices)
        if (declaredIds.contains (device.id))
            declared.push_back (device);
    return declared;
}

const OutputDeviceSettings& entryWithId (const std::vector<OutputDeviceSettings>& devices, const char* id)
{
    static const OutputDeviceSettings none;
    for (const auto& device : devices)
        if (device.id == id)
            return device;
    return none;
}

/** The catalogue of a fresh "ALSA" type. */
std::vector<OutputDeviceSettings> alsaCatalogue()
{
    const auto type = vantrel::createOutputType ("ALSA");
    return type != nullptr ? vantrel::listAudioDevices (*type) : std::vector<OutputDeviceSettings> {};
}

class AlsaDeclaredPcmTest : public ::testing::Test
{
protected:
    DeclaredAlsaConfiguration configuration { declaredConfiguration };

    void SetUp() override
    {
        if (std::getenv ("HOME") == nullptr)
            GTEST_SKIP() << "HOME is not set: the declared configuration could not be put back";
        ASSERT_TRUE (configuration.ready);
    }

    /** Waits until the device callbacks pass `count` (the null PCM is not paced: its thread
        calls back as fast as it is scheduled). */
    static bool callbacksPass (const JuceAudioAdapter& adapter, std::int64_t count)
    {
        return vantrel::test::waitUntil ([&] { return adapter.statistics().callbacks.load() > count; });
    }

    static void expectCapabilities (const JuceAudioAdapter::DeviceCapabilities& capabilities)
    {
        EXPECT_TRUE (capabilities.sampleRates.contains (48000.0));
        EXPECT_TRUE (capabilities.sampleRates.contains (44100.0));
        EXPECT_TRUE (capabilities.bufferSizes.contains (512));
        EXPECT_GE (capabilities.outputChannelNames.size(), 2);
    }
};

TEST_F (AlsaDeclaredPcmTest, CatalogueListsEveryDeclaredOutputWithItsOwnIdInTheFrameworksOrder)
{
    const auto type = vantrel::createOutputType ("ALSA");
    ASSERT_NE (type, nullptr);
    const auto listed = vantrel::listAudioDevices (*type);

    // Every framework name lines up with a recomputed id; nothing is dropped to make it fit.
    juce::StringArray names;
    for (const auto& device : listed)
    {
        EXPECT_EQ (device.type, "ALSA");
        names.add (device.name);
    }
    EXPECT_EQ (names, type->getDeviceNames (false));

    // Declared outputs in order, numbered as the framework numbers them; the input-only, the
    // capture-only ("dsnoop") and the filtered card ids are left out.
    EXPECT_EQ (onlyDeclared (listed), expectedOutputs);
    ASSERT_GE (listed.size(), 2u);
    EXPECT_EQ (listed[0], expectedOutputs[0]);
    EXPECT_EQ (listed[1], expectedOutputs[1]);
    EXPECT_EQ (vantrel::defaultOutputDeviceIndex (*type, listed), 0);

    // The input-only PCM reached the framework as an input, so its absence above is the filter's.
    const auto inputs = type->getDeviceNames (true);
    EXPECT_TRUE (inputs.contains ("Vantrel Test Stage (2)")) << inputs.joinIntoString (" | ");
    EXPECT_FALSE (inputs.contains ("Vantrel Test Send"));
}

TEST (AlsaDeclaredPcm, HintedDefaultAndPulseAreMovedToTheFrontUnderTheirOwnNames)
{
    // Declared after the stage, pulse before default ("!" appends the replacement).
    DeclaredAlsaConfiguration configuration { R"(
pcm.vantrel_stage { type null; hint { show on; description "Vantrel Test Stage" } }
pcm.!pulse { type null; hint { show on; description "Vantrel Test Pulse" } }
pcm.!default { type null; hint { show on; description "Vantrel Test Default" } }
)" };
    if (std::getenv ("HOME") == nullptr)
        GTEST_SKIP() << "HOME is not set: the declared configuration could not be put back";
    ASSERT_TRUE (configuration.ready);

    const auto type = vantrel::createOutputType ("ALSA");
    ASSERT_NE (type, nullptr);
    const auto listed = vantrel::listAudioDevices (*type);
    ASSERT_GE (listed.size(), 3u);
    EXPECT_EQ (listed[0], alsa ("Vantrel Test Default", "default"));
    EXPECT_EQ (listed[1], alsa ("Vantrel Test Pulse", "pulse"));
    EXPECT_EQ (onlyDeclared (listed), std::vector<OutputDeviceSettings> ({ listed[0], listed[1],
                                                                          alsa ("Vantrel Test Stage", "vantrel_stage") }));
    EXPECT_EQ (vantrel::defaultOutputDeviceIndex (*type, listed), 0);
}

TEST (AlsaDeclaredPcm, TheProcessSeesItsOwnConfigurationAgainAfterwards)
{
    // Tests of the whole binary share one process: nothing declared may outlive its test.
    const char* home = std::getenv ("HOME");
    if (home == nullptr)
        GTEST_SKIP() << "HOME is not set";
    const std::string ownHome = home;
    {
        DeclaredAlsaConfiguration configuration { declaredConfiguration };
        ASSERT_TRUE (configuration.ready);
        ASSERT_FALSE (onlyDeclared (alsaCatalogue()).empty());
    }
    ASSERT_NE (std::getenv ("HOME"), nullptr);
    EXPECT_EQ (std::getenv ("HOME"), ownHome);
    for (const auto& device : alsaCatalogue())
        EXPECT_FALSE (device.id.startsWith ("vantrel_")) << device.id;
}

TEST_F (AlsaDeclaredPcmTest, AdapterRunsADeclaredPcmAndReportsCapabilitiesOpenOrNot)
{
    JuceAudioAdapter adapter;
    const auto devices = adapter.listOutputDevices ({ "ALSA", {}, {}, 0.0, 0, 0 });
    EXPECT_EQ (devices, alsaCatalogue());
    const auto stage = entryWithId (devices, "vantrel_stage");
    const auto twin = entryWithId (devices, "vantrel_twin_a");
    ASSERT_EQ (stage, expectedOutputs[2]);
    ASSERT_EQ (twin, expectedOutputs[5]);

    // A device that is not open is asked through a temporary one.
    expectCapabilities (adapter.deviceCapabilities (twin));
    EXPECT_FALSE (adapter.showDriverControlPanel());

    const auto opened = adapter.selectOutput (stage);
    ASSERT_TRUE (opened.ok) << opened.message;
    EXPECT_TRUE (adapter.hasDevice());
    EXPECT_TRUE (adapter.isRunning());
    EXPECT_EQ (adapter.sampleRate(), 48000.0);
    EXPECT_EQ (adapter.storedOutputSettings(), stage);
    EXPECT_TRUE (callbacksPass (adapter, adapter.statistics().callbacks.load()));
    EXPECT_FALSE (adapter.tick());   // a running device is not taken for a lost one

    const auto whileOpen = adapter.deviceCapabilities (stage);
    expectCapabilities (whileOpen);
    EXPECT_TRUE (whileOpen.sampleRates.contains (adapter.sampleRate()));
    expectCapabilities (adapter.deviceCapabilities (twin));
    EXPECT_FALSE (adapter.showDriverControlPanel());   // ALSA has no driver panel

    // The adapter's own close stops the device without a stop notification.
    adapter.closeDevice();
    EXPECT_FALSE (adapter.hasDevice());
    EXPECT_FALSE (adapter.isRunning());
    EXPECT_EQ (adapter.statistics().stopNotifications.load(), 0);
    EXPECT_EQ (adapter.statistics().deviceErrors.load(), 0);
    EXPECT_FALSE (adapter.tick());
}

TEST_F (AlsaDeclaredPcmTest, TheIdSelectsTheDeviceAndTheNameIsTheFrameworksCurrentOne)
{
    JuceAudioAdapter adapter;
    ASSERT_TRUE (adapter.selectOutput (expectedOutputs[2]).ok);

    // A stale display name does not matter: the id finds the second twin, renamed on open.
    const auto switched = adapter.selectOutput (alsa ("Vantrel Test Twin", "vantrel_twin_a"));
    ASSERT_TRUE (switched.ok) << switched.message;
    EXPECT_EQ (adapter.storedOutputSettings(), expectedOutputs[5]);
    EXPECT_TRUE (adapter.isRunning());
    EXPECT_TRUE (callbacksPass (adapter, adapter.statistics().callbacks.load()));
    adapter.closeDevice();
    EXPECT_EQ (adapter.statistics().stopNotifications.load(), 0);
}

TEST_F (AlsaDeclaredPcmTest, AnIdThatIsNoDeclaredOutputFailsAndLeavesNothingOpen)
{
    const auto noSuchOutput = ja ("指定された出力先がありません");
    // Unknown, input-only, capture-only, and filtered by the framework although hinted.
    for (const char* id : { "vantrel_missing", "vantrel_mic", "dsnoop_vantrel", "plughw:CARD=Vantrel,DEV=0" })
    {
        for (const bool openBefore : { false, true })
        {
            SCOPED_TRACE (juce::String (id) + (openBefore ? " (replacing an open device)" : ""));
            JuceAudioAdapter adapter;
            if (openBefore)
            {
                ASSERT_TRUE (adapter.selectOutput (expectedOutputs[2]).ok);
            }
            const auto result = adapter.selectOutput (alsa ("Vantrel Test Stage", id));
            EXPECT_FALSE (result.ok);
            EXPECT_EQ (result.message, noSuchOutput);
            EXPECT_EQ (adapter.lastError(), noSuchOutput);
            EXPECT_FALSE (adapter.hasDevice());
            EXPECT_FALSE (adapter.isRunning());
            EXPECT_EQ (adapter.statistics().stopNotifications.load(), 0);
        }
    }
}
// The output dialog's "PulseAudio Sound Server" (the system's "pulse" PCM, PulseAudio's ALSA
// plug-in) chosen while a private PulseAudio daemon answers: the plug-in asks for its first block
// about 2 s after the open; the output is not given up meanwhile, and a GO then plays on.
TEST (AlsaPulse, TheChosenPulseAudioEntryPlaysAndItsSlowFirstBlockIsNoLoss)
{
    if (! vantrel::test::PulseTestServer::installed())
        GTEST_SKIP() << "pulseaudio or pulseaudio-utils is not installed";
    vantrel::testing::TempFolder folder ("alsa-pulse");
    vantrel::test::PulseTestServer pulse (folder / "pulse", false);
    ASSERT_TRUE (pulse.start()) << "the private PulseAudio did not answer";
    vantrel::platform::reloadAlsaConfiguration();

    JuceAudioAdapter adapter (vantrel::test::constantMedia (10.0, 0.25f), [] { return std::int64_t { 0 }; },
                              vantrel::test::privateRackOptions());
    const auto devices = adapter.listOutputDevices ({ "ALSA", {}, {}, 0.0, 0, 0 });
    const auto entry = entryWithId (devices, "pulse");
    ASSERT_EQ (entry.name, "PulseAudio Sound Server");
    const auto opened = adapter.selectOutput (entry);
    ASSERT_TRUE (opened.ok) << opened.message;
    ASSERT_TRUE ((folder / "media").createDirectory());
    ASSERT_TRUE (vantrel::test::prepareStandIn (adapter, folder / "media", "row"));
    ASSERT_TRUE (vantrel::test::tickUntil (adapter, [&] { return adapter.statistics().callbacks.load() > 0
                                                              || adapter.statistics().confirmedLossEvents.load() > 0; }));
    EXPECT_EQ (adapter.statistics().confirmedLossEvents.load(), 0) << vantrel::test::describeDevice (adapter);
    ASSERT_EQ (adapter.submit (orvane::audio::AudioCommand { orvane::audio::AudioCommandKind::goFromSilence, std::string ("row"), 0.0, 7 }),
               orvane::audio::SinkAnswer::accepted);
    EXPECT_TRUE (vantrel::test::tickUntil (adapter, [&] { return adapter.voiceStatus (1).position > 48000; }))
        << vantrel::test::describeDevice (adapter);
    EXPECT_EQ (adapter.statistics().confirmedLossEvents.load(), 0) << vantrel::test::describeDevice (adapter);
    adapter.closeDevice();
    vantrel::platform::reloadAlsaConfiguration();
}

} // namespace
