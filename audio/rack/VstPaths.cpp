#include "audio/rack/VstPaths.h"

#include <filesystem>

namespace vantrel
{
namespace
{
bool isHexDigit (juce::juce_wchar c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool allHex (const juce::String& text)
{
    for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
        if (! isHexDigit (*p))
            return false;

    return true;
}
} // namespace

juce::String normalizeVstPath (const juce::File& file)
{
    const auto full = file.getFullPathName();

    if (full.isEmpty())
        return {};

    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical (std::filesystem::path (full.toStdString()), error);

    if (error || canonical.empty())
        return {};

    auto text = juce::String::fromUTF8 (canonical.string().c_str());

    // weakly_canonical keeps a trailing separator of a missing tail; a folder's path has none.
    while (text.length() > 1 && text.endsWithChar ('/'))
        text = text.dropLastCharacters (1);

    return text;
}

bool isVstUid (const juce::String& text)
{
    return text.length() == 32 && allHex (text);
}

bool isVstStateHex (const juce::String& text)
{
    return text.length() <= 0x2000000 && text.length() % 2 == 0 && allHex (text);
}

bool isAbsoluteVstPath (const juce::String& text)
{
    return text.startsWithChar ('/');
}
} // namespace vantrel
