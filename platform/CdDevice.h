#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel::platform
{
/** One entry of a disc's table of contents, as the drive reports it. */
struct CdTocEntry
{
    int number = 0;    // track number 1..99; 0xAA for the lead-out
    int control = 0;   // control nibble: bit 0 pre-emphasis, bit 1 copy permitted, bit 2 data, bit 3 four channels
    int frames = 0;    // start address in frames (minutes x 4500 + seconds x 75 + frames), the 150-frame lead-in included
    int session = 1;   // the session the entry begins in (the lead-out: the last session)
};

/** A disc's table of contents: the tracks first..last in table order, then the lead-out. */
struct CdToc
{
    int firstTrack = 0;
    int lastTrack = 0;
    std::vector<CdTocEntry> entries;
};

/** One opened CD drive or disc image. Every call blocks until the drive answers (a wedged drive may
    never answer): callers that must stay responsive run the calls on a thread of their own. One
    caller at a time. */
class CdDevice
{
public:
    static constexpr int sectorBytes = 2352;     // one sector of CD-DA: 588 stereo frames of 16 bits
    static constexpr int maxSectorsPerRead = 16;

    virtual ~CdDevice() = default;

    /** False when the drive holds no readable disc. */
    virtual bool readToc (CdToc& toc) = 0;
    /** The disc's title (CD-Text, else the volume label); empty when it has none. */
    virtual juce::String title() = 0;
    /** Reads `count` (1..16) audio sectors from `sector` (counted from the start of the program
        area, the lead-in subtracted) into `out`, 2352 bytes each: 16-bit little-endian stereo, left
        first. Returns the bytes read, or -1 on failure. */
    virtual int readAudio (int sector, int count, std::uint8_t* out) = 0;
};

/** The CD drives of this machine (/dev/sr0, /dev/sr1 ...), in name order. Any thread. */
std::vector<juce::String> listCdDrives();

/** Opens a CD drive (a device node) or a disc image (a CUE sheet with its BIN, a cdrdao TOC file);
    null when it cannot be opened. Any thread. */
std::unique_ptr<CdDevice> openCdDevice (const juce::String& path);
} // namespace vantrel::platform
