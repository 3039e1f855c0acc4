// Audio files on a file system that refuses shared memory maps (FUSE with direct I/O, some
// network mounts) load as they do anywhere else: the loader reads them.

#include "MediaTestSupport.h"
#include "audio/media/MediaLoad.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;
using namespace vantrel::testing;

/** The files of `source` seen again under `mountPoint` through bindfs with direct I/O, which
    refuses every shared map with ENODEV. Needs root and the bindfs tool; unmounted when it goes
    (which ends bindfs). */
struct DirectIoMount
{
    juce::File mountPoint;
    bool mounted = false;

    DirectIoMount (const juce::File& source, const juce::File& where) : mountPoint (where)
    {
        mountPoint.createDirectory();
        mounted = runTool ({ "bindfs", "-o", "direct_io", source.getFullPathName(), mountPoint.getFullPathName() });
    }
    ~DirectIoMount()
    {
        if (mounted)
            ::umount2 (mountPoint.getFullPathName().toRawUTF8(), MNT_DETACH);
    }
    DirectIoMount (const DirectIoMount&) = delete;
    DirectIoMount& operator= (const DirectIoMount&) = delete;
};

TEST (MapRefusingFileSystem, WavAndAiffLoadAsFromALocalDiskAndACutOneStillFails)
{
    if (test::programOnPath ("bindfs").empty())
        GTEST_SKIP() << "bindfs is not installed (scripts/setup.sh test installs it)";

    TempFolder folder;
    const auto source = folder / "source";
    ASSERT_TRUE (source.createDirectory());
    for (const char* name : { "tone.wav", "tone.aiff", "cut.wav" })
        ASSERT_TRUE (soxSynth (source.getChildFile (name), 44100, 2, PcmEncoding::int16, toneEffects (2, 2.0)));
    auto cut = readFileBytes (source.getChildFile ("cut.wav"));
    cut.resize (cut.size() * 6 / 10);
    ASSERT_TRUE (writeFileBytes (source.getChildFile ("cut.wav"), cut));

    const DirectIoMount mount (source, folder / "mounted");
    ASSERT_TRUE (mount.mounted);
    {
        // The rig does what such a file system does: reading works, a map does not.
        const auto file = mount.mountPoint.getChildFile ("tone.wav");
        ASSERT_EQ (readFileBytes (file), readFileBytes (source.getChildFile ("tone.wav")));
        const juce::MemoryMappedFile map (file, juce::MemoryMappedFile::readOnly);
        ASSERT_EQ (map.getData(), nullptr);
    }

    struct Case
    {
        const char* name;
        double deviceRate;   // 44.1 kHz: read straight into the PCM; 48 kHz: decoded and resampled
    };
    for (const auto& c : { Case { "tone.wav", 44100.0 }, Case { "tone.wav", 48000.0 }, Case { "tone.aiff", 44100.0 },
                           Case { "tone.aiff", 48000.0 }, Case { "cut.wav", 44100.0 }, Case { "cut.wav", 48000.0 } })
    {
        SCOPED_TRACE (juce::String (c.name) + " at " + juce::String (c.deviceRate));
        const auto local = loadMedia (requestFor (source.getChildFile (c.name), c.deviceRate), nullptr);
        const auto mounted = loadMedia (requestFor (mount.mountPoint.getChildFile (c.name), c.deviceRate), nullptr);

        EXPECT_EQ (mounted->error, local->error);
        ASSERT_EQ (mounted->pcm == nullptr, local->pcm == nullptr);
        if (local->pcm != nullptr)
        {
            EXPECT_EQ (mounted->pcm->frames(), local->pcm->frames());
            EXPECT_TRUE (*mounted->pcm == *local->pcm);
        }
    }
    // The local loads themselves: the whole files play, the cut one fails.
    EXPECT_TRUE (loadMedia (requestFor (source.getChildFile ("tone.wav"), 48000.0), nullptr)->error.isEmpty());
    EXPECT_FALSE (loadMedia (requestFor (source.getChildFile ("cut.wav"), 48000.0), nullptr)->error.isEmpty());
}
} // namespace
} // namespace vantrel
