#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane::vsthost
{
// The plug-in state envelope: the 8-byte magic "OVST3S2\0" (it doubles as the version mark),
// componentSize and controllerSize as uint32 little-endian, then the component's bytes and the
// controller's bytes. The two sizes add up to at most 64 MiB. On the wire it is hex text, two
// digits per byte: written in lower case, read in either case.

inline constexpr std::uint64_t maxStatePayloadBytes = 67108864;   // 64 MiB
inline constexpr std::size_t stateEnvelopeHeaderBytes = 16;

/** Each byte as two lower-case hex digits. */
std::string toHexString (const std::uint8_t* bytes, std::size_t length);

/** The envelope of the two parts as hex text; empty when the parts add up to more than 64 MiB. */
std::string stateEnvelopeText (const std::vector<std::uint8_t>& component, const std::vector<std::uint8_t>& controller);

/** The two parts of a decoded envelope. */
struct StateEnvelopeParts
{
    std::vector<std::uint8_t> component;
    std::vector<std::uint8_t> controller;
};

/** Decodes envelope text. On failure returns false with `message` set to
    "invalid or oversized VST3 state envelope" (odd or oversized text, a pair that is not two hex
    digits, fewer than 16 bytes), "unsupported VST3 state envelope version" (another magic) or
    "invalid VST3 state sizes" (sizes above 64 MiB together, or not matching the bytes). Every
    character is checked before the header is looked at. */
bool decodeStateEnvelope (const std::string& text, StateEnvelopeParts& parts, std::string& message);
} // namespace orvane::vsthost
