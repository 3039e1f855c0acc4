#include "session/UiTextExtra.h"
#include "session/UiTextTable.h"
#include "support/EnvironmentVariable.h"
#include "support/TestFiles.h"
#include "ui/Fonts.h"
#include "ui/PixelProbe.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace vantrel
{
namespace
{
bool isIdentifierChar (char c) { return std::isalnum ((unsigned char) c) != 0 || c == '_'; }

void appendUtf8 (std::string& out, juce::juce_wchar c)
{
    char bytes[8] = {};
    const auto n = juce::CharPointer_UTF8::getBytesRequiredFor (c);
    juce::CharPointer_UTF8 (bytes).write (c);
    out.append (bytes, n);
}

/** The bytes of one escape sequence after the backslash at s[i]; i ends after it. */
void decodeEscape (const std::string& s, size_t& i, std::string& out)
{
    const char c = s[++i];
    const auto digits = [&] (size_t max, int base)
    {
        size_t end = i + 1;
        while (end < s.size() && end - i - 1 < max && juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) s[end]) >= 0
               && (base == 16 || (s[end] >= '0' && s[end] <= '7')))
            ++end;
        const auto value = std::stoul (s.substr (i + 1, end - i - 1), nullptr, base);
        i = end;
        return (juce::juce_wchar) value;
    };

    switch (c)
    {
        case 'n': out += '\n'; ++i; return;
        case 't': out += '\t'; ++i; return;
        case 'r': out += '\r'; ++i; return;
        case 'x': out += (char) digits (2, 16); return;
        case 'u': appendUtf8 (out, digits (4, 16)); return;
        case 'U': appendUtf8 (out, digits (8, 16)); return;
        default:
            if (c >= '0' && c <= '7') { --i; out += (char) digits (3, 8); return; }
            out += c;   // \" \\ \' \? and the rest stand for themselves or controls
            ++i;
    }
}

/** Every string literal of a C++ source, decoded to UTF-8 (comments and character literals
    skipped, raw strings taken as they stand). */
std::vector<std::string> stringLiterals (const std::string& s)
{
    std::vector<std::string> found;

    for (size_t i = 0; i < s.size();)
    {
        if (s.compare (i, 2, "//") == 0)
            i = s.find ('\n', i) == std::string::npos ? s.size() : s.find ('\n', i);
        else if (s.compare (i, 2, "/*") == 0)
            i = s.find ("*/", i + 2) == std::string::npos ? s.size() : s.find ("*/", i + 2) + 2;
        else if (s[i] == '\'' && ! (i > 0 && std::isxdigit ((unsigned char) s[i - 1])))   // not a digit separator
        {
            for (++i; i < s.size() && s[i] != '\''; ++i)
                if (s[i] == '\\')
                    ++i;
            ++i;
        }
        else if (s[i] == '"' && i > 0 && s[i - 1] == 'R' && (i < 2 || ! isIdentifierChar (s[i - 2]) || s[i - 2] == '8'))
        {
            const auto open = s.find ('(', i);
            const auto close = ")" + s.substr (i + 1, open - i - 1) + "\"";
            const auto end = s.find (close, open);
            found.push_back (s.substr (open + 1, end - open - 1));
            i = end + close.size();
        }
        else if (s[i] == '"')
        {
            std::string text;
            for (++i; i < s.size() && s[i] != '"';)
                if (s[i] == '\\')
                    decodeEscape (s, i, text);
                else
                    text += s[i++];
            found.push_back (text);
            ++i;
        }
        else
            ++i;
    }

    return found;
}

struct TextSource
{
    std::string where, text;
};

std::vector<TextSource> everyUiText()
{
    std::vector<TextSource> texts;
    const auto addTable = [&] (const auto& table, const char* name)
    {
        for (const auto& pair : table)
        {
            texts.push_back ({ std::string (name) + " (Japanese)", pair.japanese });
            texts.push_back ({ std::string (name) + " (English)", pair.english });
        }
    };
    addTable (uiTextPairs, "uiTextPairs");
    addTable (uiTextExtraPairs, "uiTextExtraPairs");

    for (const auto& file : juce::File (VANTREL_UI_SOURCE_DIR).findChildFiles (juce::File::findFiles, false, "*.cpp;*.h"))
        for (auto& literal : stringLiterals (file.loadFileAsString().toStdString()))
            texts.push_back ({ file.getFileName().toStdString(), std::move (literal) });

    return texts;
}

juce::String codePoint (juce::juce_wchar c) { return "U+" + juce::String::toHexString ((int) c).toUpperCase().paddedLeft ('0', 4); }

TEST (UiFontsTest, LiteralScannerDecodesEscapesAndSkipsCommentsAndCharacters)
{
    const struct { const char* source; std::vector<std::string> literals; } cases[] = {
        { R"(f ("\u25B8 a\"b\x41");)", { "\xE2\x96\xB8 a\"bA" } },
        { "x = '\"'; // \"not\"\n/* \"nor\" */ y (\"yes\");", { "yes" } },
        { "auto n = 1'000; auto r = R\"tag(\"ok\")tag\";", { "\"ok\"" } },
    };

    for (const auto& c : cases)
        EXPECT_EQ (stringLiterals (c.source), c.literals) << c.source;
}

// Every text the program can show, in both languages, has a glyph in the faces the program draws
// its UI family from (the Japanese face, or the symbol face for what that one lacks).
TEST (UiFontsTest, EveryUiTextIsCoveredByTheChosenFaces)
{
    FT_Library library = nullptr;
    ASSERT_EQ (FT_Init_FreeType (&library), 0);
    const auto texts = everyUiText();
    ASSERT_TRUE (std::any_of (texts.begin(), texts.end(), [] (auto& t) { return juce::String (t.text) == uiSansName(); }))
        << "the scan of " << VANTREL_UI_SOURCE_DIR << " found no literals";

    for (const bool bold : { false, true })
    {
        std::vector<FT_Face> faces;
        for (const auto& face : uiFaces (bold))
        {
            FT_Face opened = nullptr;
            ASSERT_EQ (FT_New_Face (library, face.file.getFullPathName().toRawUTF8(), face.index, &opened), 0)
                << face.file.getFullPathName();
            faces.push_back (opened);
        }
        ASSERT_EQ (faces.size(), 2u) << "bold " << bold << ": the UI face or the symbol face is not installed";
        EXPECT_EQ (juce::String (faces[0]->family_name), uiSansName());
        EXPECT_EQ (juce::String (faces[0]->style_name), bold ? "Bold" : "Regular");

        for (const auto& t : texts)
        {
            const auto text = juce::String::fromUTF8 (t.text.c_str());   // held while its characters are read
            for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
            {
                const auto c = *p;
                const bool covered = c < 0x20 || c == 0x7f
                                  || std::any_of (faces.begin(), faces.end(),
                                                  [c] (FT_Face f) { return FT_Get_Char_Index (f, (FT_ULong) c) != 0; });
                EXPECT_TRUE (covered) << codePoint (c) << " of \"" << t.text << "\" in " << t.where << (bold ? " (bold)" : "");
            }
        }

        for (auto* f : faces)
            FT_Done_Face (f);
    }

    FT_Done_FreeType (library);
}

int inkedPixels (const juce::Image& image)
{
    int count = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            count += image.getPixelAt (x, y).getAlpha() > 64 ? 1 : 0;
    return count;
}

bool sameImage (const juce::Image& a, const juce::Image& b)
{
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                return false;
    return true;
}

// A label on the view's own theme, in the default sans-serif family as every control uses it.
juce::Image labelSnapshot (Theme& theme, juce::juce_wchar c, bool bold)
{
    juce::Label label;
    label.setLookAndFeel (&theme);
    label.setFont (juce::Font (28.0f, bold ? juce::Font::bold : juce::Font::plain));
    label.setColour (juce::Label::textColourId, juce::Colours::white);
    label.setText (juce::String::charToString (c), juce::dontSendNotification);
    label.setBounds (0, 0, 44, 40);
    auto image = test::snapshotOf (label, "glyph-" + codePoint (c) + (bold ? "-bold" : ""));
    label.setLookAndFeel (nullptr);
    return image;
}

TEST (UiFontsTest, TheUiFamilyDrawsJapaneseAndSymbolsWhereverAControlUsesIt)
{
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();

    for (const auto& font : { juce::Font (14.0f), juce::Font (14.0f, juce::Font::bold), juce::Font (uiSansName(), 14.0f, 0) })
        EXPECT_EQ (font.getTypefacePtr()->getName(), uiSansName()) << font.getTypefaceName();

    const juce::Font brand (brandFontName(), 25.0f, juce::Font::bold | juce::Font::italic);
    EXPECT_EQ (brand.getTypefacePtr()->getName(), "Liberation Sans");
    EXPECT_EQ (brand.getTypefacePtr()->getStyle(), "Bold Italic");

    Theme theme;
    const juce::juce_wchar missing = 0x10FFFD;   // in no installed face: drawn as the box
    for (const bool bold : { false, true })
    {
        const auto box = labelSnapshot (theme, missing, bold);
        ASSERT_GT (inkedPixels (box), 0);

        for (const auto c : juce::String::fromUTF8 ("▸▾⚙設定A"))
        {
            const auto image = labelSnapshot (theme, c, bold);
            EXPECT_GT (inkedPixels (image), 10) << codePoint (c);
            EXPECT_FALSE (sameImage (image, box)) << codePoint (c) << " is drawn as a box" << (bold ? " (bold)" : "");
        }
    }

    juce::GlyphArrangement arrangement;   // the symbols sit at the size of the text around them
    arrangement.addLineOfText (juce::Font (20.0f), juce::String::fromUTF8 ("⚙設"), 0.0f, 20.0f);
    ASSERT_EQ (arrangement.getNumGlyphs(), 2);
    juce::Path gear, character;
    arrangement.getGlyph (0).createPath (gear);
    arrangement.getGlyph (1).createPath (character);
    const auto ratio = gear.getBounds().getHeight() / character.getBounds().getHeight();
    EXPECT_TRUE (ratio > 0.75f && ratio < 1.4f) << "symbol height / text height " << ratio;

    const auto inkWidth = [] (int style)   // the UI face has no italic: it is drawn slanted
    {
        juce::GlyphArrangement line;
        line.addLineOfText (juce::Font (40.0f, style), "l", 0.0f, 40.0f);
        juce::Path path;
        line.getGlyph (0).createPath (path);
        return path.getBounds().getWidth();
    };
    EXPECT_GT (inkWidth (juce::Font::bold | juce::Font::italic), inkWidth (juce::Font::bold) + 1.5f);
}

class ScopedRuntimeFolderVariable
{
public:
    explicit ScopedRuntimeFolderVariable (const juce::File& value)
        : previous (std::getenv ("XDG_RUNTIME_DIR") != nullptr ? std::getenv ("XDG_RUNTIME_DIR") : "")
    {
        platform::setEnvironmentVariable ("XDG_RUNTIME_DIR", value.getFullPathName().toStdString());
    }
    ~ScopedRuntimeFolderVariable() { platform::setEnvironmentVariable ("XDG_RUNTIME_DIR", previous); }

private:
    std::string previous;
};

juce::Array<juce::File> linkFoldersIn (const juce::File& folder)
{
    return folder.findChildFiles (juce::File::findDirectories, false, "vantrel-fonts-*");
}

// The links that make the Japanese face visible live in a folder of this process alone, which goes
// when the GUI framework shuts down; a runtime folder that is not a folder is passed over.
TEST (UiFontsTest, TheFaceLinksLiveInAPrivateFolderThatGoesAtShutdown)
{
    for (const bool runtimeIsFolder : { true, false })
    {
        testing::TempFolder temp ("fonts");
        const auto runtime = temp / "runtime";
        ASSERT_TRUE (runtimeIsFolder ? runtime.createDirectory().wasOk() : runtime.replaceWithText ("not a folder"));
        ScopedRuntimeFolderVariable variable (runtime);

        {
            juce::ScopedJuceInitialiser_GUI gui;
            installUiFonts();
            installUiFonts();   // a second call sets up nothing more

            EXPECT_EQ (juce::Font (14.0f).getTypefacePtr()->getName(), uiSansName()) << "runtime folder " << runtimeIsFolder;

            if (runtimeIsFolder)
            {
                const auto folders = linkFoldersIn (runtime);
                ASSERT_EQ (folders.size(), 1);
                EXPECT_EQ (folders[0].findChildFiles (juce::File::findFiles, false, "*.otf").size(), 2);
                const auto perms = std::filesystem::status (folders[0].getFullPathName().toStdString()).permissions();
                EXPECT_EQ (perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
                           std::filesystem::perms::none);
            }
            else
            {
                EXPECT_EQ (runtime.loadFileAsString(), "not a folder");
            }
        }

        if (runtimeIsFolder)
        {
            EXPECT_TRUE (linkFoldersIn (runtime).isEmpty()) << "the link folder outlived the framework";
        }
    }
}
} // namespace
} // namespace vantrel
