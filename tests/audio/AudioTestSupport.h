#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

namespace orvane::audio::testing
{
/** A private folder under the system's temporary folder, removed with everything in it. */
class TempFolder
{
public:
    TempFolder()
        : folder (juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getChildFile ("vantrel-audio-test-" + juce::Uuid().toString()))
    {
        folder.createDirectory();
    }

    ~TempFolder()  { folder.deleteRecursively(); }

    TempFolder (const TempFolder&) = delete;
    TempFolder& operator= (const TempFolder&) = delete;

    const juce::File& path() const                    { return folder; }
    juce::File operator/ (const char* relative) const  { return folder.getChildFile (relative); }

private:
    juce::File folder;
};

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
