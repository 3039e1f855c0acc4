#include "session/UiText.h"

#include "session/UiLanguage.h"
#include "session/UiTextTable.h"

#include <map>
#include <string_view>

namespace vantrel
{
namespace
{
using EnglishTable = std::map<std::string_view, const char*, std::less<>>;

// Built on the first English lookup; read-only afterwards. The views point into
// string literals, which live as long as the program.
const EnglishTable& englishTable()
{
    static const EnglishTable table = []
    {
        EnglishTable built;

        for (const auto& pair : uiTextPairs)
            built.emplace (pair.japanese, pair.english);

        jassert (built.size() == uiTextPairs.size());
        return built;
    }();

    return table;
}
} // namespace

juce::String translate (const char* japaneseUtf8)
{
    if (japaneseUtf8 == nullptr)
        return {};

    if (! uiLanguage())
        return juce::String::fromUTF8 (japaneseUtf8);

    const auto& table = englishTable();
    const auto found = table.find (std::string_view (japaneseUtf8));
    return juce::String::fromUTF8 (found != table.end() ? found->second : japaneseUtf8);
}
} // namespace vantrel
