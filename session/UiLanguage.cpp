#include "session/UiLanguage.h"

#include <atomic>

namespace vantrel
{
namespace
{
static_assert (std::atomic<bool>::is_always_lock_free, "the language switch must be a lock-free byte");

std::atomic<bool> currentLanguageIsEnglish { false };

constexpr juce::int64 maxDefaultLanguageFileBytes = 16;
} // namespace

bool uiLanguage()
{
    return currentLanguageIsEnglish.load();
}

void setUiLanguage (bool english)
{
    currentLanguageIsEnglish.exchange (english);
}

bool defaultLanguageIsEnglish (const juce::File& programFolder)
{
    const auto file = programFolder.getChildFile (defaultLanguageFileName);

    if (! file.existsAsFile())
        return false;

    // Read at most one byte past the limit, so a file that grows meanwhile cannot
    // make us read more than that.
    juce::FileInputStream stream (file);

    if (! stream.openedOk())
        return false;

    juce::MemoryBlock bytes;
    stream.readIntoMemoryBlock (bytes, maxDefaultLanguageFileBytes + 1);

    if ((juce::int64) bytes.getSize() > maxDefaultLanguageFileBytes)
        return false;

    // Decoded as the framework decodes a whole text file (a byte-order mark is skipped).
    return juce::String::createStringFromData (bytes.getData(), (int) bytes.getSize()).trim() == "en";
}

bool firstRunEnglish()
{
    static const bool english = defaultLanguageIsEnglish (
        juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory());
    return english;
}
} // namespace vantrel
