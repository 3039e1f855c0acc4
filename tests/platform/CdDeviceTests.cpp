// Generated disc images read through the libcdio layer exactly as a drive is read.
#include "platform/CdDevice.h"
#include "support/CdImage.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using vantrel::testing::TempFolder;
using platform::CdDevice;

std::vector<std::uint8_t> readSectors (CdDevice& device, int sector, int count)
{
    std::vector<std::uint8_t> bytes ((size_t) count * CdDevice::sectorBytes, 0x55);
    return device.readAudio (sector, count, bytes.data()) == (int) bytes.size() ? bytes : std::vector<std::uint8_t> {};
}

TEST (CdDevice, ReadsGiveTheImagesBytesAndNothingPastItsEnd)
{
    TempFolder folder ("cd-device");
    const auto image = test::writeCdImage (folder.path(), { { test::cdAudio (1, 20), test::cdAudio (2, 21) }, 0, {} });
    auto device = platform::openCdDevice (image.cue.getFullPathName());
    ASSERT_NE (device, nullptr);

    std::vector<std::uint8_t> all;
    for (int sector = 0; sector < 41; sector += 16)
    {
        const auto block = readSectors (*device, sector, std::min (16, 41 - sector));
        ASSERT_FALSE (block.empty()) << sector;
        all.insert (all.end(), block.begin(), block.end());
    }
    auto expected = image.tracks[0];
    expected.insert (expected.end(), image.tracks[1].begin(), image.tracks[1].end());
    EXPECT_TRUE (all == expected);

    // A read that would run past the lead-out fails instead of leaving part of the buffer unread.
    EXPECT_TRUE (readSectors (*device, 30, 12).empty());
    EXPECT_TRUE (readSectors (*device, 41, 1).empty());
    EXPECT_EQ (platform::openCdDevice ((folder / "missing.cue").getFullPathName()), nullptr);
}

TEST (CdDevice, AnOpenDriveDescribesTheDiscPutInSinceTheLastReading)
{
    TempFolder folder ("cd-device");
    const auto image = test::writeCdImage (folder.path(), { { test::cdAudio (1, 40) }, 0, {} });
    auto device = platform::openCdDevice (image.cue.getFullPathName());
    ASSERT_NE (device, nullptr);
    platform::CdToc before, after;
    ASSERT_TRUE (device->readToc (before));

    const auto swapped = test::writeCdImage (folder.path(), { { test::cdAudio (1, 40), test::cdAudio (5, 30) }, 0, "Other" });
    ASSERT_TRUE (device->readToc (after));
    EXPECT_EQ (before.lastTrack, 1);
    EXPECT_EQ (after.lastTrack, 2);
    EXPECT_EQ (after.entries.back().frames, 150 + 70);
    EXPECT_EQ (device->title(), "Other");
    EXPECT_TRUE (readSectors (*device, 40, 16) == std::vector<std::uint8_t> (swapped.tracks[1].begin(), swapped.tracks[1].begin() + 16 * 2352));
}
} // namespace
