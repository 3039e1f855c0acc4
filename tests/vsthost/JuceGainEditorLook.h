#pragma once

// What the JUCE test plug-in's editor looks like, shared by the plug-in and the tests that find
// it on the screen: a solid body with a solid strip across the top, in two sizes chosen by the
// plug-in's "Editor large" parameter.

#include <cstdint>

namespace gain_editor
{
inline constexpr std::uint32_t bodyColour = 0x2A9D8F;    // 0xRRGGBB
inline constexpr std::uint32_t stripColour = 0xE9C46A;
inline constexpr int stripHeight = 40;
inline constexpr int smallWidth = 400;
inline constexpr int smallHeight = 300;
inline constexpr int largeWidth = 560;
inline constexpr int largeHeight = 420;
inline constexpr const char* sizeParameterTitle = "Editor large";
} // namespace gain_editor
