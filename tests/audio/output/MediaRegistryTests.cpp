// The adapter's media registry on its own: what a start may play at a rate, the loads it asks
// for and adopts, and the cache trim that never takes the PCM a voice still reads.
#include "AdapterTestSupport.h"
#include "audio/output/MediaRegistry.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{
using namespace vantrel;
using Readiness = MediaRegistry::Start::Readiness;

/** Constant PCM of 0.1 s at the requested rate; the key "broken" fails with a read error. */
MediaLoader::LoadFunction mediaOrFailure (std::atomic<int>& loads)
{
    return [&loads] (const MediaLoadRequest& request, CancelFlag cancel) {
        std::shared_ptr<LoadedMedia> media;
        if (request.key == "broken")
        {
            media = std::make_shared<LoadedMedia>();
            media->error = "read error";
        }
        else
            media = test::constantMedia (0.1, 0.5f) (request, cancel);
        ++loads;
        return media;
    };
}

struct RegistryRig
{
    std::atomic<int> loads { 0 };
    MediaRegistry registry { mediaOrFailure (loads) };
    vantrel::testing::TempFolder folder { "media-registry" };

    juce::File fileFor (const std::string& key, const char* content = "stand-in")
    {
        const auto file = folder / juce::String (key);
        file.replaceWithText (content);
        return file;
    }

    void add (const std::string& key, float gainDb = 0.0f, const EqSettings& eq = {})
    {
        const auto file = fileFor (key);
        registry.registerMedia (key, file.getFullPathName(), readFileSignature (file), gainDb, {}, eq, 48000.0);
    }

    /** Adopts the loader's results until `key` holds media. */
    bool adopted (const std::string& key)
    {
        return test::waitUntil ([&] {
            registry.adoptLoadResults();
            return registry.loadedMedia (key) != nullptr;
        });
    }
};

TEST (MediaRegistry, AStartPlaysOnlyRegisteredMediaPreparedAtTheRateFromTheFileAsRegistered)
{
    struct Case
    {
        const char* name;
        std::function<MediaRegistry::Start (RegistryRig&)> run;
        Readiness expected;
    };
    EqSettings eq;
    eq.enabled = true;
    eq.bands[3] = { true, 0, 1000.0, -6.0, 1.0 };

    const Case cases[] = {
        { "never registered", [] (RegistryRig& r) { return r.registry.prepareStart ("row", 48000.0); }, Readiness::notRegistered },
        { "registered, nothing adopted yet", [] (RegistryRig& r) {
              r.add ("row");
              return r.registry.prepareStart ("row", 48000.0);
          }, Readiness::preparing },
        { "the load failed", [] (RegistryRig& r) {
              r.add ("broken");
              r.registry.prepareStart ("broken", 48000.0);
              EXPECT_TRUE (r.adopted ("broken"));
              return r.registry.prepareStart ("broken", 48000.0);
          }, Readiness::loadFailed },
        { "the file changed after its load", [] (RegistryRig& r) {
              r.add ("row");
              r.registry.prepareStart ("row", 48000.0);
              EXPECT_TRUE (r.adopted ("row"));
              r.fileFor ("row", "a longer stand-in");
              return r.registry.prepareStart ("row", 48000.0);
          }, Readiness::fileChanged },
        { "prepared at another rate", [] (RegistryRig& r) {
              r.add ("row");
              r.registry.requestPrepare ("row", true, 48000.0);
              EXPECT_TRUE (r.adopted ("row"));
              return r.registry.prepareStart ("row", 44100.0);
          }, Readiness::preparing },
        { "prepared at the rate", [eq] (RegistryRig& r) {
              r.add ("row", -7.5f, eq);
              r.registry.requestPrepare ("row", false, 48000.0);
              EXPECT_TRUE (r.adopted ("row"));
              return r.registry.prepareStart ("row", 48000.0);
          }, Readiness::ready },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        RegistryRig rig;
        const auto start = c.run (rig);
        EXPECT_EQ (start.readiness, c.expected);
        EXPECT_EQ (start.media != nullptr, c.expected == Readiness::ready);
        if (c.expected == Readiness::loadFailed)
        {
            EXPECT_EQ (start.loadError, "read error");
        }
        if (c.expected == Readiness::ready)
        {
            EXPECT_EQ (start.media->pcm->sampleRate, 48000.0);
            EXPECT_EQ (start.gainDb, -7.5f);
            EXPECT_TRUE (start.eq == eq);
        }
    }
}

TEST (MediaRegistry, ALoadOfAFileRegisteredOverBeforeItsResultWasTakenIsDropped)
{
    RegistryRig rig;
    rig.add ("row");
    rig.registry.requestPrepare ("row", true, 48000.0);
    ASSERT_TRUE (test::waitUntil ([&] { return rig.loads.load() == 1; }));

    const auto other = rig.fileFor ("row-other", "another stand-in");
    rig.registry.registerMedia ("row", other.getFullPathName(), readFileSignature (other), 0.0f, {}, {}, 48000.0);
    rig.registry.adoptLoadResults();
    EXPECT_EQ (rig.registry.loadedMedia ("row"), nullptr);
    EXPECT_EQ (rig.registry.prepareStart ("row", 48000.0).readiness, Readiness::preparing);
    EXPECT_TRUE (rig.adopted ("row"));
    EXPECT_EQ (rig.registry.prepareStart ("row", 48000.0).readiness, Readiness::ready);
}

TEST (MediaRegistry, TheTrimDropsTheLeastRecentlyUsedPcmThatNoVoiceReads)
{
    struct Case
    {
        const char* name;
        bool olderInUse;
        bool olderKept, newerKept;
    };
    const Case cases[] = {
        { "no voice reads either", false, false, true },
        { "a voice reads the older", true, true, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        RegistryRig rig;
        for (const char* key : { "older", "newer" })
        {
            rig.add (key);
            rig.registry.requestPrepare (key, true, 48000.0);
            ASSERT_TRUE (rig.adopted (key));
        }
        const auto older = rig.registry.loadedMedia ("older");
        const auto newer = rig.registry.loadedMedia ("newer");
        rig.registry.setCacheLimit (older->pcm->byteSize());   // room for one of the two
        rig.registry.trimCache ([&] (const std::shared_ptr<LoadedMedia>& m) { return c.olderInUse && m == older; });
        EXPECT_EQ (older->pcm != nullptr, c.olderKept);
        EXPECT_EQ (newer->pcm != nullptr, c.newerKept);
    }
}
} // namespace
