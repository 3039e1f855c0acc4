#include "audio/output/DeviceCatalogue.h"
#include "support/JackDummyServer.h"

#include <gtest/gtest.h>

using vantrel::OutputDeviceSettings;

namespace
{
/** A device type with a fixed name list, standing in for a framework type whose list holds
    devices the catalogue leaves out. */
class FixedListType : public juce::AudioIODeviceType
{
public:
    FixedListType (juce::StringArray names, int defaultIndex)
        : juce::AudioIODeviceType ("Fixed"), names (std::move (names)), defaultIndex (defaultIndex) {}

    void scanForDevices() override {}
    juce::StringArray getDeviceNames (bool) const override  { return names; }
    int getDefaultDeviceIndex (bool) const override  { return defaultIndex; }
    int getIndexOfDevice (juce::AudioIODevice*, bool) const override  { return -1; }
    bool hasSeparateInputsAndOutputs() const override  { return true; }
    juce::AudioIODevice* createDevice (const juce::String&, const juce::String&) override  { return nullptr; }

private:
    juce::StringArray names;
    int defaultIndex;
};

/** A JACK type whose server refuses the first `refusals` scans (a busy server), then lists "system". */
class BusyJackType : public juce::AudioIODeviceType
{
public:
    explicit BusyJackType (int refusalCount) : juce::AudioIODeviceType ("JACK"), refusals (refusalCount) {}

    void scanForDevices() override  { names = scans++ < refusals ? juce::StringArray() : juce::StringArray ("system"); }
    juce::StringArray getDeviceNames (bool) const override  { return names; }
    int getDefaultDeviceIndex (bool) const override  { return 0; }
    int getIndexOfDevice (juce::AudioIODevice*, bool) const override  { return -1; }
    bool hasSeparateInputsAndOutputs() const override  { return true; }
    juce::AudioIODevice* createDevice (const juce::String&, const juce::String&) override  { return nullptr; }

private:
    const int refusals;
    int scans = 0;
    juce::StringArray names;
};

std::vector<OutputDeviceSettings> catalogue (std::initializer_list<const char*> names)
{
    std::vector<OutputDeviceSettings> list;
    for (const char* name : names)
        list.push_back ({ "Fixed", name, juce::String ("id-") + name, 0.0, 0, 0 });
    return list;
}

TEST (DeviceCatalogue, KindsAreJackThenAlsaAndOnlyTheirNamesCreateTypes)
{
    EXPECT_EQ (vantrel::outputTypeNames(), juce::StringArray ({ "JACK", "ALSA" }));

    struct Case { const char* name; const char* created; };
    for (const Case c : { Case { "JACK", "JACK" }, Case { "ALSA", "ALSA" }, Case { "", "ALSA" },
                          Case { "ASIO", nullptr }, Case { "Windows Audio", nullptr }, Case { "alsa", nullptr },
                          Case { "ALSA HW", nullptr } })
    {
        SCOPED_TRACE (c.name);
        const auto type = vantrel::createOutputType (c.name);
        if (c.created == nullptr)
            EXPECT_EQ (type, nullptr);
        else
        {
            ASSERT_NE (type, nullptr);
            EXPECT_EQ (type->getTypeName(), c.created);
        }
    }
}

TEST (DeviceCatalogue, EachCallCreatesAFreshType)
{
    const auto first = vantrel::createOutputType ("ALSA");
    const auto second = vantrel::createOutputType ("ALSA");
    ASSERT_NE (first, nullptr);
    EXPECT_NE (first.get(), second.get());
}

TEST (DeviceCatalogue, DefaultDeviceIsFoundByNameNotByTheFrameworkIndex)
{
    // The framework's default is its third name; the catalogue left the first name out, so the
    // framework's index would point past the catalogue or at another device.
    FixedListType type ({ "Left out", "Stage", "Booth" }, 2);
    EXPECT_EQ (vantrel::defaultOutputDeviceIndex (type, catalogue ({ "Stage", "Booth" })), 1);
    EXPECT_EQ (vantrel::defaultOutputDeviceIndex (type, catalogue ({ "Booth", "Stage" })), 0);
    EXPECT_EQ (vantrel::defaultOutputDeviceIndex (type, catalogue ({ "Stage" })), -1);

    FixedListType noDefault ({ "Stage" }, -1);
    EXPECT_EQ (vantrel::defaultOutputDeviceIndex (noDefault, catalogue ({ "Stage" })), -1);
}

TEST (DeviceCatalogue, AlsaNamesAreNumberedAsTheFrameworkDoesAndMustLineUp)
{
    const juce::StringArray ids { "default", "front:CARD=A,DEV=0", "front:CARD=B,DEV=0", "hw:C,0" };
    const juce::StringArray names { "Default", "USB Audio", "USB Audio", "Other" };
    const juce::StringArray framework { "Default", "USB Audio (1)", "USB Audio (2)", "Other" };

    const auto listed = vantrel::alignAlsaDevices (framework, names, ids);
    ASSERT_EQ (listed.size(), 4u);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ (listed[(size_t) i].type, "ALSA");
        EXPECT_EQ (listed[(size_t) i].name, framework[i]);
        EXPECT_EQ (listed[(size_t) i].id, ids[i]);
        EXPECT_EQ (listed[(size_t) i].sampleRate, 0.0);
    }

    // Any difference in count, order or text gives no list at all.
    for (const juce::StringArray& other : { juce::StringArray { "Default", "USB Audio (1)", "USB Audio (2)" },
                                            juce::StringArray { "USB Audio (1)", "Default", "USB Audio (2)", "Other" },
                                            juce::StringArray { "Default", "USB Audio", "USB Audio (2)", "Other" } })
        EXPECT_TRUE (vantrel::alignAlsaDevices (other, names, ids).empty());
}

TEST (DeviceCatalogue, AlsaListingMatchesTheFrameworksOwnNames)
{
    const auto type = vantrel::createOutputType ("ALSA");
    ASSERT_NE (type, nullptr);
    const auto listed = vantrel::listAudioDevices (*type);
    juce::StringArray names;
    for (const auto& device : listed)
    {
        names.add (device.name);
        EXPECT_TRUE (device.id.isNotEmpty());
    }
    // The recomputed ids line up with every name the framework offers.
    EXPECT_EQ (names, type->getDeviceNames (false));
}

TEST (DeviceCatalogue, JackListsTheServersClientsWithTheirIds)
{
    if (! vantrel::test::JackDummyServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    vantrel::test::JackDummyServer server;
    ASSERT_TRUE (server.start()) << server.lastError();

    const auto type = vantrel::createOutputType ("JACK");
    ASSERT_NE (type, nullptr);
    const auto listed = vantrel::listAudioDevices (*type);
    const auto system = std::find_if (listed.begin(), listed.end(), [] (const OutputDeviceSettings& d) { return d.name == "system"; });
    ASSERT_NE (system, listed.end());
    EXPECT_EQ (*system, (OutputDeviceSettings { "JACK", "system", "JACK:system", 0.0, 0, 0 }));
    EXPECT_EQ (vantrel::defaultOutputDeviceIndex (*type, listed), 0);

    // The server gone, a fresh type lists nothing.
    server.stop();
    const auto after = vantrel::createOutputType ("JACK");
    EXPECT_TRUE (vantrel::listAudioDevices (*after).empty());
}
} // namespace

// A first start takes the JACK server's "system" even when the busy server refused its first
// scans; a server that never answers leaves the choice to ALSA (no device here: an empty id).
TEST (DeviceCatalogue, AFirstStartAsksABusyJackServerAgainBeforeTakingAlsa)
{
    struct Case { int refusals; const char* type; const char* id; };
    for (const Case c : { Case { 0, "JACK", "JACK:system" }, Case { 2, "JACK", "JACK:system" },
                          Case { 1000, "ALSA", "" } })
    {
        SCOPED_TRACE (c.refusals);
        const auto chosen = vantrel::chooseFirstStartOutput ([&] (const juce::String& kind) {
            return kind == "JACK" ? std::make_unique<BusyJackType> (c.refusals) : std::unique_ptr<BusyJackType>();
        });
        EXPECT_EQ (chosen.type, c.type);
        EXPECT_EQ (chosen.id, c.id);
    }
}
