#include "session/UiText.h"

#include "session/UiLanguage.h"
#include "session/UiTextExtra.h"
#include "session/UiTextTable.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

        // The fixed table wins should a key ever be in both.
        for (const auto& pair : uiTextExtraPairs)
            built.emplace (pair.japanese, pair.english);

        jassert (built.size() == uiTextPairs.size() + uiTextExtraPairs.size());
        return built;
    }();

    return table;
}

struct Piece
{
    std::string_view japanese;
    const char* english;
};

bool isContinuationByte (char byte)  { return ((unsigned char) byte & 0xc0) == 0x80; }

juce::juce_wchar codePointAt (std::string_view text, size_t at)
{
    // Views into NUL-terminated texts: decoding stops at the terminator at the latest.
    return juce::CharPointer_UTF8 (text.data() + at).getAndAdvance();
}

size_t endOfCodePoint (std::string_view text, size_t at)
{
    auto end = at + 1;
    while (end < text.size() && isContinuationByte (text[end]))
        ++end;
    return end;
}

size_t startOfCodePointBefore (std::string_view text, size_t at)
{
    auto start = at - 1;
    while (start > 0 && isContinuationByte (text[start]))
        --start;
    return start;
}

// Every key, by its first code point, longest first.
using PieceIndex = std::unordered_map<juce::juce_wchar, std::vector<Piece>>;

const PieceIndex& pieceIndex()
{
    static const PieceIndex index = []
    {
        PieceIndex built;

        for (const auto& [japanese, english] : englishTable())
            if (! japanese.empty())
                built[codePointAt (japanese, 0)].push_back ({ japanese, english });

        for (auto& entry : built)
            std::stable_sort (entry.second.begin(), entry.second.end(), [] (const Piece& a, const Piece& b)
                              { return a.japanese.size() > b.japanese.size(); });
        return built;
    }();

    return index;
}

// Where one text ends and the next may begin: blanks and the punctuation that messages are
// joined with. Not '/', '.', '-', '_' or '・', which belong inside paths, names and words.
bool separates (juce::juce_wchar c)
{
    if (juce::CharacterFunctions::isWhitespace (c))
        return true;

    static constexpr std::u32string_view punctuation = U":;,!?()[]{}<>\"'"
                                                       U"\u3000\u3001\u3002\u300c\u300d\u300e\u300f"
                                                       U"\uff08\uff09\uff1a\uff01\uff1f\uff0c"
                                                       U"\u00b7\u2013\u2014\u2026";
    return punctuation.find ((char32_t) c) != std::u32string_view::npos;
}

bool isDigit (juce::juce_wchar c)  { return c >= '0' && c <= '9'; }

// A word this short that brings no blank or punctuation of its own is a label ("設定"), which
// inside a message is a count's unit (the 件 of 12件) or else part of a detail.
constexpr int longestLabel = 3;

// A fixed text is taken only where it stands apart from the detail around it (see the header).
bool standsApart (std::string_view text, size_t start, std::string_view piece, size_t afterLastPiece)
{
    const auto end = start + piece.size();
    const auto firstOfPiece = codePointAt (piece, 0);
    const auto lastOfPiece = codePointAt (piece, startOfCodePointBefore (piece, piece.size()));
    const auto before = start > 0 ? codePointAt (text, startOfCodePointBefore (text, start)) : 0;

    if (! separates (firstOfPiece) && ! separates (lastOfPiece)
        && std::count_if (piece.begin(), piece.end(), [] (char byte) { return ! isContinuationByte (byte); }) <= longestLabel)
        return isDigit (before) && (end == text.size() || separates (codePointAt (text, end)));

    const bool leftFree = start == 0 || start == afterLastPiece || separates (firstOfPiece) || separates (before)
                       || isDigit (before);
    const bool rightFree = end == text.size() || separates (lastOfPiece) || separates (codePointAt (text, end));
    return leftFree && rightFree;
}

const Piece* pieceAt (std::string_view text, size_t at, size_t afterLastPiece)
{
    const auto& index = pieceIndex();
    const auto bucket = index.find (codePointAt (text, at));

    if (bucket == index.end())
        return nullptr;

    for (const auto& piece : bucket->second)
        if (text.substr (at, piece.japanese.size()) == piece.japanese && standsApart (text, at, piece.japanese, afterLastPiece))
            return &piece;

    return nullptr;
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

juce::String translateMessage (const juce::String& message)
{
    if (! uiLanguage() || message.isEmpty())
        return message;

    const std::string bytes = message.toStdString();
    const std::string_view text (bytes);

    if (const auto found = englishTable().find (text); found != englishTable().end())
        return juce::String::fromUTF8 (found->second);

    std::string shown;
    shown.reserve (bytes.size() + bytes.size() / 2);
    size_t afterLastPiece = 0;

    for (size_t at = 0; at < text.size();)
    {
        if (const auto* piece = pieceAt (text, at, afterLastPiece))
        {
            shown += piece->english;
            at += piece->japanese.size();
            afterLastPiece = at;
            continue;
        }

        // A detail: kept as it stands, one whole code point at a time.
        const auto end = endOfCodePoint (text, at);
        shown.append (text.substr (at, end - at));
        at = end;
    }

    return juce::String::fromUTF8 (shown.data(), (int) shown.size());
}
} // namespace vantrel
