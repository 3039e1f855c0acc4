#pragma once

#include "support/TestFiles.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

namespace orvane::audio::testing
{
using TempFolder = vantrel::testing::TempFolder;

inline std::vector<std::uint8_t> readFileBytes (const juce::File& file)
{
    juce::MemoryBlock block;
    if (! file.loadFileAsData (block))
        return {};
    const auto* data = static_cast<const std::uint8_t*> (block.getData());
    return std::vector<std::uint8_t> (data, data + block.getSize());
}

inline bool writeFileBytes (const juce::File& file, const std::vector<std::uint8_t>& bytes)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    return out.openedOk() && out.write (bytes.data(), bytes.size());
}
} // namespace orvane::audio::testing
