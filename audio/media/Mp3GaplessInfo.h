#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantrel
{
/** What an MP3 file's LAME info tag says about the silence the encoder added: encoderDelay
    samples before the audio and padding samples after it. */
struct Mp3GaplessInfo
{
    int encoderDelay = 0;
    int padding = 0;
};

/** The delay a layer III decoder adds on top of the encoder's (its filter bank), in samples. */
constexpr int mp3DecoderDelay = 529;

/** Finds the info frame at the start of an MPEG-1 layer III stream (after an ID3v2 tag, if
    any; bytes holds at least the file's first kilobytes) and reads its LAME extension.
    Empty when there is no such frame, when it is not MPEG-1 layer III (whose frames hold 1152
    samples) or when the tag carries no delay and padding. Pure; never reads outside
    [bytes, bytes + size). */
std::optional<Mp3GaplessInfo> findMp3GaplessInfo (const std::uint8_t* bytes, std::size_t size);
} // namespace vantrel
