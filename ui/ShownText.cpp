#include "ui/ShownText.h"

namespace vantrel
{
juce::String headOfText (const std::string& text, int maxCharacters, bool& cut)
{
    // Whole UTF-8 sequences only: a continuation byte never starts a character.
    size_t end = 0;
    for (int characters = 0; end < text.size() && characters < maxCharacters; ++characters)
        for (++end; end < text.size() && (static_cast<unsigned char> (text[end]) & 0xc0) == 0x80;)
            ++end;
    cut = end < text.size();
    return juce::String::fromUTF8 (text.data(), (int) end);
}

juce::String labelTextOf (const std::string& text, bool& cut)
{
    const auto head = headOfText (text, labelTextLimit, cut);
    return cut ? head + juce::String::fromUTF8 ("\xe2\x80\xa6") : head;
}

juce::String labelTextOf (const std::string& text)
{
    bool cut = false;
    return labelTextOf (text, cut);
}
} // namespace vantrel
