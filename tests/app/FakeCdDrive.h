#pragma once

#include "app/cd/AudioCdImport.h"
#include "platform/CdDevice.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vantrel::test
{
/** A scripted disc: its table of contents, title and the bytes of its program area. */
struct FakeDisc
{
    platform::CdToc toc;
    juce::String title;
    std::vector<std::uint8_t> audio;   // from sector 0; reads beyond its end give zeros, as an image does
};

/** A disc of audio tracks of the given lengths in sectors, back to back from sector 0, each
    filled with its own deterministic pattern (track n's samples count up from n x 1000); with
    `dataTrack` one data track of 300 sectors follows (control 4). */
inline FakeDisc fakeDisc (const std::vector<int>& sectorCounts, bool dataTrack = false, const juce::String& title = {})
{
    FakeDisc disc;
    disc.title = title;
    disc.toc.firstTrack = 1;
    int sector = 0;
    int number = 1;
    for (int count : sectorCounts)
    {
        disc.toc.entries.push_back ({ number, 0, sector + 150, 1 });
        const auto first = disc.audio.size();
        disc.audio.resize (first + (size_t) count * platform::CdDevice::sectorBytes);
        for (size_t i = 0; i < (size_t) count * 1176; ++i)
        {
            const auto value = (std::uint16_t) (number * 1000 + i * 7);
            disc.audio[first + 2 * i] = (std::uint8_t) (value & 0xff);
            disc.audio[first + 2 * i + 1] = (std::uint8_t) (value >> 8);
        }
        sector += count;
        ++number;
    }
    if (dataTrack)
    {
        disc.toc.entries.push_back ({ number, 4, sector + 150, 1 });
        sector += 300;
        ++number;
    }
    disc.toc.lastTrack = number - 1;
    disc.toc.entries.push_back ({ 0xAA, 0, sector + 150, 1 });
    return disc;
}

/** One fake drive, shared by the test and every device opened on it. */
struct FakeDrive
{
    std::mutex mutex;
    FakeDisc disc;
    bool hasDisc = true;
    /** Replaces the drive's read when set (it may block, fail or return other bytes). */
    std::function<int (int sector, int count, std::uint8_t* out)> read;
    std::atomic<int> reads { 0 };

    /** What an ordinary drive reads: the disc's bytes, zeros beyond its end. */
    int readDisc (int sector, int count, std::uint8_t* out)
    {
        std::lock_guard<std::mutex> lock (mutex);
        if (! hasDisc)
            return -1;
        const auto bytes = (size_t) count * platform::CdDevice::sectorBytes;
        std::memset (out, 0, bytes);
        const auto first = (size_t) sector * platform::CdDevice::sectorBytes;
        if (first < disc.audio.size())
            std::memcpy (out, disc.audio.data() + first, std::min (bytes, disc.audio.size() - first));
        return (int) bytes;
    }
};

class FakeCdDevice : public platform::CdDevice
{
public:
    explicit FakeCdDevice (std::shared_ptr<FakeDrive> d) : drive (std::move (d)) {}

    bool readToc (platform::CdToc& toc) override
    {
        std::lock_guard<std::mutex> lock (drive->mutex);
        if (! drive->hasDisc)
            return false;
        toc = drive->disc.toc;
        return true;
    }

    juce::String title() override
    {
        std::lock_guard<std::mutex> lock (drive->mutex);
        return drive->disc.title;
    }

    int readAudio (int sector, int count, std::uint8_t* out) override
    {
        ++drive->reads;
        std::function<int (int, int, std::uint8_t*)> read;
        {
            std::lock_guard<std::mutex> lock (drive->mutex);
            read = drive->read;
        }
        return read ? read (sector, count, out) : drive->readDisc (sector, count, out);
    }

private:
    std::shared_ptr<FakeDrive> drive;
};

/** A drive source over named fake drives, listed in name order. */
inline CdDriveSource fakeDrives (std::map<juce::String, std::shared_ptr<FakeDrive>> drives)
{
    CdDriveSource source;
    source.list = [drives]
    {
        std::vector<juce::String> names;
        for (auto& entry : drives)
            names.push_back (entry.first);
        return names;
    };
    source.open = [drives] (const juce::String& name) -> std::unique_ptr<platform::CdDevice>
    {
        auto found = drives.find (name);
        if (found == drives.end())
            return nullptr;
        return std::make_unique<FakeCdDevice> (found->second);
    };
    return source;
}
} // namespace vantrel::test
