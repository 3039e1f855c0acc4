#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantrel
{
/** What the four header bytes of an MPEG audio frame (layer I, II or III; MPEG-1, 2 or 2.5) say. */
struct Mp3FrameHeader
{
    int layer = 0;              // 1, 2 or 3
    bool mpeg1 = false;         // false for MPEG-2 and 2.5, whose layer III frames hold 576 samples
    bool mono = false;
    int sampleRate = 0;         // Hz
    int samplesPerFrame = 0;    // 384, 576 or 1152
    int frameBytes = 0;         // the whole frame, header included; 0 for a free-format frame
};

/** The header at bytes[0..3], or empty when these bytes are not a valid frame header. Pure. */
std::optional<Mp3FrameHeader> readMp3FrameHeader (const std::uint8_t* bytes, std::size_t size);

/** The length of the ID3v2 tag at the start of bytes (footer included); 0 when there is none. */
std::size_t id3v2TagLength (const std::uint8_t* bytes, std::size_t size);

/** What a layer III stream's info frame (the "Xing" or "Info" frame an encoder writes in place
    of the first audio frame) announces. */
struct Mp3InfoFrame
{
    int samplesPerFrame = 1152;            // of the stream's frames
    std::optional<std::uint32_t> frames;   // audio frames in the stream, the info frame not counted
    bool hasGapless = false;               // the LAME extension gives the two numbers below
    int encoderDelay = 0;                  // samples of silence the encoder put before the audio
    int padding = 0;                       // and after it
};

/** The delay a layer III decoder adds on top of the encoder's (its filter bank), in samples. */
constexpr int mp3DecoderDelay = 529;

/** True when the frame at bytes[0..size) is an info frame ("Xing" or "Info" after the side
    information, or "VBRI" 32 bytes after the header): it carries no audio. Pure. */
bool isMp3InfoFrame (const std::uint8_t* bytes, std::size_t size);

/** Finds the info frame at the start of a layer III stream: the first frame header within
    4096 bytes after an ID3v2 tag, if any (bytes holds at least the file's first kilobytes).
    Empty when that frame is not an info frame. The encoder's delay and padding are read from
    a LAME extension (written by LAME and by FFmpeg's encoders) only. Pure; never reads
    outside [bytes, bytes + size). */
std::optional<Mp3InfoFrame> findMp3InfoFrame (const std::uint8_t* bytes, std::size_t size);
} // namespace vantrel
