#include "support/CdImage.h"

namespace vantrel::test
{
namespace
{
constexpr size_t sectorBytes = 2352;

juce::String msf (size_t sector)
{
    const auto two = [] (size_t v) { return juce::String ((int) v).paddedLeft ('0', 2); };
    return two (sector / 4500) + ":" + two (sector / 75 % 60) + ":" + two (sector % 75);
}

/** A MODE1 sector: the sync pattern, the address and mode byte, then a filler of its own. */
void writeDataSector (std::uint8_t* s, size_t lba)
{
    std::fill (s, s + sectorBytes, 0);
    std::fill (s + 1, s + 11, 0xff);
    const auto address = lba + 150;
    const auto bcd = [] (size_t v) { return (std::uint8_t) ((v / 10) << 4 | v % 10); };
    s[12] = bcd (address / 4500);
    s[13] = bcd (address / 75 % 60);
    s[14] = bcd (address % 75);
    s[15] = 1;
    for (size_t i = 16; i < 2064; ++i)
        s[i] = (std::uint8_t) (i + lba);
}
} // namespace

std::vector<std::uint8_t> cdAudio (int seed, int sectors)
{
    std::vector<std::uint8_t> bytes ((size_t) std::max (sectors, 0) * sectorBytes);
    std::uint32_t state = 0x9e3779b9u * (std::uint32_t) (seed + 1);
    for (auto& b : bytes)
    {
        state = state * 1664525u + 1013904223u;
        b = (std::uint8_t) (state >> 24);
    }
    return bytes;
}

CdImage writeCdImage (const juce::File& folder, const CdImageContents& contents, const juce::String& name)
{
    folder.createDirectory();
    CdImage image;
    image.cue = folder.getChildFile (name + ".cue");
    const auto bin = folder.getChildFile (name + ".bin");

    juce::String sheet;
    if (contents.title.isNotEmpty())
        sheet << "TITLE \"" << contents.title << "\"\n";
    sheet << "FILE \"" << bin.getFileName() << "\" BINARY\n";

    bin.deleteFile();
    juce::FileOutputStream out (bin);
    size_t sector = 0;
    int number = 1;
    for (auto bytes : contents.tracks)
    {
        bytes.resize ((bytes.size() + sectorBytes - 1) / sectorBytes * sectorBytes);
        sheet << "  TRACK " << juce::String (number++).paddedLeft ('0', 2) << " AUDIO\n    INDEX 01 " << msf (sector) << "\n";
        out.write (bytes.data(), bytes.size());
        sector += bytes.size() / sectorBytes;
        image.tracks.push_back (std::move (bytes));
    }
    if (contents.dataSectors > 0)
    {
        sheet << "  TRACK " << juce::String (number).paddedLeft ('0', 2) << " MODE1/2352\n    INDEX 01 " << msf (sector) << "\n";
        std::vector<std::uint8_t> data (sectorBytes);
        for (int i = 0; i < contents.dataSectors; ++i)
        {
            writeDataSector (data.data(), sector++);
            out.write (data.data(), data.size());
        }
    }
    out.flush();
    image.cue.replaceWithText (sheet);
    return image;
}
} // namespace vantrel::test
