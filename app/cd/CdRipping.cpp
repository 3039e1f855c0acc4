// Reading a disc's table of contents and ripping one track into a WAV file.
#include "app/cd/AudioCdImport.h"

#include <cstring>

namespace vantrel
{
namespace
{
constexpr int leadInFrames = 150;
constexpr int lastAddressFrames = 450150;   // 100 minutes, the lead-in included
/** Between the last audio track of the first session and the first track of the next one: the
    lead-out (6750), the next lead-in (4500) and the track's pregap (150). */
constexpr int sessionGapFrames = 11400;
constexpr int wavHeaderBytes = 44;
constexpr int readAttempts = 3;

bool isSet (const std::atomic<bool>* flag)  { return flag != nullptr && flag->load(); }
bool isData (const platform::CdTocEntry& entry)  { return (entry.control & 0x04) != 0; }

juce::String hexOf (std::uint64_t value)
{
    static const char* const digits = "0123456789abcdef";
    juce::String text;
    do
    {
        text = juce::String::charToString ((juce::juce_wchar) digits[value & 0xf]) + text;
        value >>= 4;
    } while (value != 0);
    return text;
}

/** The disc key's hash, in unsigned arithmetic: it wraps, and prints the same 64 bits a signed
    wrapping sum would. */
juce::String keyHash (const juce::String& text)
{
    std::uint64_t hash = 0;
    for (auto c : text)
        hash = hash * 101u + (std::uint64_t) c;
    return hexOf (hash);
}

void putU32 (std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = (std::uint8_t) (value >> (8 * i));
}

void putU16 (std::uint8_t* at, std::uint16_t value)
{
    at[0] = (std::uint8_t) value;
    at[1] = (std::uint8_t) (value >> 8);
}

/** The 44-byte header of a 44.1 kHz 16-bit stereo PCM file holding dataBytes. */
void writeWavHeader (std::uint8_t* h, std::uint32_t dataBytes)
{
    std::memcpy (h, "RIFF", 4);
    putU32 (h + 4, dataBytes + 36);
    std::memcpy (h + 8, "WAVEfmt ", 8);
    putU32 (h + 16, 16);
    putU16 (h + 20, 1);
    putU16 (h + 22, 2);
    putU32 (h + 24, 44100);
    putU32 (h + 28, 176400);
    putU16 (h + 32, 4);
    putU16 (h + 34, 16);
    std::memcpy (h + 36, "data", 4);
    putU32 (h + 40, dataBytes);
}

[[noreturn]] void fail (const char* japaneseText)
{
    throw std::runtime_error (japaneseText);
}
} // namespace

std::unique_ptr<CdDeviceHandle> AudioCdImport::openDrive (const juce::String& drive) const
{
    auto device = setup.drives.open ? setup.drives.open (drive) : platform::openCdDevice (drive);
    return std::make_unique<CdDeviceHandle> (std::move (device), setup.requestTimeLimitMs);
}

std::vector<CdDisc> AudioCdImport::listDiscs (const std::atomic<bool>* flag)
{
    std::vector<CdDisc> found;
    const auto drives = setup.drives.list ? setup.drives.list() : platform::listCdDrives();
    for (const auto& drive : drives)
    {
        if (isSet (flag))
            break;
        auto handle = openDrive (drive);
        if (auto disc = readDisc (*handle, drive, flag))
            found.push_back (std::move (*disc));
    }
    return found;
}

std::optional<CdDisc> AudioCdImport::readDisc (CdDeviceHandle& device, const juce::String& drive, const std::atomic<bool>* flag)
{
    platform::CdToc toc;
    if (! device.readToc (toc, flag))
        return {};

    // Every track first..last and the lead-out must be there.
    const auto count = (unsigned) (toc.lastTrack - toc.firstTrack);
    if (count > 98 || toc.entries.size() < (size_t) count + 2)
        return {};

    CdDisc disc;
    disc.drive = drive;
    juce::String title;
    if (! device.title (title, flag) && isSet (flag))
        return {};
    disc.title = title.trim().isEmpty() ? juce::String ("Audio CD") : title.trim();

    juce::String tocText;
    for (size_t i = 0; i <= count; ++i)
    {
        const auto& entry = toc.entries[i];
        const auto& next = toc.entries[i + 1];
        if (entry.frames < leadInFrames)
            return {};
        const int start = entry.frames - leadInFrames;
        const int end = next.frames - leadInFrames;
        if (start >= end || next.frames > lastAddressFrames)
            return {};

        const int control = entry.control & 0x0f;
        tocText << entry.number << ":" << start << ":" << end << ":" << control << ";";
        if (isData (entry))
            continue;

        // An audio track followed by a data track of a later session (an enhanced disc) ends
        // where its session's lead-out begins, not where the data track does.
        int audioEnd = end;
        if (isData (next) && next.session > entry.session)
            audioEnd -= sessionGapFrames;
        if (audioEnd <= start)
            return {};
        disc.tracks.push_back ({ entry.number, start, audioEnd - start, "Track " + juce::String (entry.number).paddedLeft ('0', 2) });
    }
    if (disc.tracks.empty())
        return {};

    disc.discKey = drive + ":" + keyHash (tocText);
    return disc;
}

void AudioCdImport::ripTrack (CdDeviceHandle& device, const CdTrack& track, const juce::File& wav,
                              const std::atomic<bool>* flag, const std::function<void (double)>& progress)
{
    if ((std::int64_t) track.sectorCount * 588 > maxTrackFrames)
        fail ("このトラックはVantrelの音源メモリ上限を超えます");

    const auto dataBytes = (std::uint32_t) track.sectorCount * (std::uint32_t) platform::CdDevice::sectorBytes;
    // A file already there would be appended to: only a new file is written.
    std::unique_ptr<juce::FileOutputStream> stream;
    if (! wav.exists())
        stream = std::make_unique<juce::FileOutputStream> (wav, 16384);
    if (stream == nullptr || stream->failedToOpen())
        fail ("CD音源の保存先を作成できません");

    std::uint8_t header[wavHeaderBytes];
    writeWavHeader (header, dataBytes);
    if (! stream->write (header, sizeof (header)))
        fail ("CD音源を書き込めません。空き容量を確認してください");

    const size_t blockBytes = (size_t) platform::CdDevice::maxSectorsPerRead * platform::CdDevice::sectorBytes;
    std::vector<std::uint8_t> first (blockBytes), second (blockBytes);
    int done = 0;
    while (done < track.sectorCount)
    {
        if (isSet (flag))
            fail ("CD取込をキャンセルしました");

        const int n = std::min (track.sectorCount - done, platform::CdDevice::maxSectorsPerRead);
        const int length = n * platform::CdDevice::sectorBytes;
        bool accepted = false;
        for (int attempt = 0; attempt < readAttempts && ! accepted; ++attempt)
        {
            if (isSet (flag))
                fail ("CD取込をキャンセルしました");
            const int a = device.readAudio (track.startSector + done, n, first.data(), flag);
            const int b = device.readAudio (track.startSector + done, n, second.data(), flag);
            accepted = a == length && b == length && std::memcmp (first.data(), second.data(), (size_t) length) == 0;
        }
        if (! accepted)
            fail (isSet (flag) ? "CD取込をキャンセルしました" : "CDの読込結果が一致しません。ディスク・接続を確認してください");

        if (! stream->write (first.data(), (size_t) length))
            fail ("CD音源を書き込めません。空き容量を確認してください");
        done += n;
        if (progress)
            progress ((double) done / (double) track.sectorCount);
    }

    stream->flush();
    const bool failed = stream->getStatus().failed();
    stream.reset();
    if (failed || wav.getSize() != (juce::int64) dataBytes + wavHeaderBytes)
        fail ("CD音源の保存が完了しませんでした");
}
} // namespace vantrel
