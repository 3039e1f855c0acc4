#include "ui/Fonts.h"

#include "ui/FocusCaret.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <filesystem>
#include <map>
#include <memory>

namespace vantrel
{
namespace
{
// The framework only scans .ttf/.otf files, so the Japanese face, which Debian ships as .ttc
// collections, is made visible through .otf-named links to those collections.
const char* const uiFaceFiles[2] = { "NotoSansCJK-Regular.ttc", "NotoSansCJK-Bold.ttc" };
const char* const symbolFaceFiles[2] = { "DejaVuSans.ttf", "DejaVuSans-Bold.ttf" };

struct FreeTypeLibrary
{
    FreeTypeLibrary()                       { if (FT_Init_FreeType (&library) != 0) library = nullptr; }
    ~FreeTypeLibrary()                      { if (library != nullptr) FT_Done_FreeType (library); }
    FreeTypeLibrary (const FreeTypeLibrary&) = delete;
    FreeTypeLibrary& operator= (const FreeTypeLibrary&) = delete;
    FT_Library library = nullptr;
};

struct FreeTypeFace
{
    FreeTypeFace (FT_Library library, const juce::File& file, int index)
    {
        if (library == nullptr
            || FT_New_Face (library, file.getFullPathName().toRawUTF8(), index, &face) != 0)
            face = nullptr;
    }
    ~FreeTypeFace()                         { if (face != nullptr) FT_Done_Face (face); }
    FreeTypeFace (const FreeTypeFace&) = delete;
    FreeTypeFace& operator= (const FreeTypeFace&) = delete;
    FT_Face face = nullptr;
};

juce::File searchFontFolders (const juce::String& fileName)
{
    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    const juce::File roots[] = { juce::File ("/usr/share/fonts"), juce::File ("/usr/local/share/fonts"),
                                 home.getChildFile (".local/share/fonts"), home.getChildFile (".fonts") };

    for (const auto& root : roots)
        if (root.isDirectory())
            for (const auto& found : root.findChildFiles (juce::File::findFiles, true, fileName))
                return found;

    return {};
}

/** The installed file of one of the program's faces ([0..1] UI, [2..3] symbols; regular, bold),
    looked up once per process. */
juce::File installedFontFile (int which)
{
    static const std::array<juce::File, 4> files { searchFontFolders (uiFaceFiles[0]), searchFontFolders (uiFaceFiles[1]),
                                                   searchFontFolders (symbolFaceFiles[0]),
                                                   searchFontFolders (symbolFaceFiles[1]) };
    return files[(size_t) which];
}

/** The face of a collection whose family is `family` (the first face when none is). */
int faceIndexOfFamily (const juce::File& file, const juce::String& family)
{
    FreeTypeLibrary ft;
    FreeTypeFace first (ft.library, file, 0);

    if (first.face == nullptr)
        return 0;

    for (FT_Long index = 0; index < first.face->num_faces; ++index)
    {
        FreeTypeFace candidate (ft.library, file, (int) index);

        if (candidate.face != nullptr && family == candidate.face->family_name)
            return (int) index;
    }

    return 0;
}

/** A typeface of the UI family that takes each character from the first of its faces that has a
    glyph for it, scaled to the first face's em, so symbols the Japanese face lacks are drawn from
    the symbol face instead of as boxes. Italic is drawn slanted, since the UI face has none. */
class UiTypeface final : public juce::CustomTypeface
{
public:
    UiTypeface (const std::vector<FontFace>& faces, bool italic) : slant (italic)
    {
        for (const auto& f : faces)
        {
            auto source = std::make_unique<Source> (ft.library, f);

            if (source->typeface != nullptr)
                sources.push_back (std::move (source));
        }

        if (sources.empty())
            return;

        const auto& primary = *sources.front();

        for (auto& source : sources)
            source->scale = primary.emPerHeight > 0.0f ? source->emPerHeight / primary.emPerHeight : 1.0f;

        const auto bold = primary.typeface->getStyle().containsIgnoreCase ("Bold");
        const auto style = bold ? (italic ? "Bold Italic" : "Bold") : (italic ? "Italic" : "Regular");
        setCharacteristics (uiSansName(), style, primary.typeface->getAscent(), L' ');
    }

    bool isUsable() const noexcept          { return ! sources.empty(); }

protected:
    bool loadGlyphIfPossible (juce::juce_wchar character) override
    {
        if (sources.empty())
            return false;

        auto* chosen = sources.front().get();   // no face has it: the UI face's box

        for (auto& source : sources)
            if (FT_Get_Char_Index (source->face.face, (FT_ULong) character) != 0)
            {
                chosen = source.get();
                break;
            }

        juce::Path outline;
        chosen->typeface->getOutlineForGlyph ((int) character, outline);
        const auto width = chosen->typeface->getStringWidth (juce::String::charToString (character));

        auto transform = juce::AffineTransform::scale (chosen->scale);
        if (slant)
            transform = transform.followedBy (juce::AffineTransform::shear (-0.2f, 0.0f));

        outline.applyTransform (transform);
        addGlyph (character, outline, width * chosen->scale);
        return true;
    }

private:
    struct Source
    {
        Source (FT_Library library, const FontFace& f) : face (library, f.file, f.index)
        {
            if (face.face == nullptr || face.face->ascender - face.face->descender <= 0)
                return;

            const juce::String family (face.face->family_name), style (face.face->style_name);
            auto candidate = juce::Typeface::createSystemTypefaceFor (juce::Font (family, style, 1.0f));

            if (candidate != nullptr && candidate->getName() == family)   // the framework has the face too
                typeface = candidate;

            emPerHeight = (float) face.face->units_per_EM / (float) (face.face->ascender - face.face->descender);
        }

        FreeTypeFace face;
        juce::Typeface::Ptr typeface;
        float emPerHeight = 0.0f, scale = 1.0f;
    };

    FreeTypeLibrary ft;
    std::vector<std::unique_ptr<Source>> sources;
    const bool slant;
};

/** The default look-and-feel of the process: it maps the default sans-serif family and the UI
    family onto the UI typeface. The per-view theme cannot do this, because font lookup only ever
    asks the default look-and-feel. */
class UiFontLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    UiFontLookAndFeel()                     { setDefaultSansSerifTypefaceName (uiSansName()); }

    /** The caret of the fields outside the main view: it blinks only while its field has the focus. */
    juce::CaretComponent* createCaretComponent (juce::Component* keyFocusOwner) override
    {
        return new FocusCaret (keyFocusOwner);
    }

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font& font) override
    {
        const auto& name = font.getTypefaceName();

        if (name == juce::Font::getDefaultSansSerifFontName() || name == uiSansName())
        {
            const auto key = std::make_pair (font.isBold(), font.isItalic());
            auto& cached = typefaces[key];

            if (cached == nullptr)
            {
                auto typeface = new UiTypeface (uiFaces (key.first), key.second);
                cached = typeface;

                if (! typeface->isUsable())
                    cached = juce::LookAndFeel_V4::getTypefaceForFont (font);
            }

            return cached;
        }

        return juce::LookAndFeel_V4::getTypefaceForFont (font);
    }

private:
    std::map<std::pair<bool, bool>, juce::Typeface::Ptr> typefaces;
};

/** What installUiFonts set up, for the lifetime of the GUI framework: the private folder of
    links and the default look-and-feel. Both go when the framework shuts down. */
class UiFontInstallation final : private juce::DeletedAtShutdown
{
public:
    UiFontInstallation()
    {
        makeLinkFolder();

        if (linkFolder.isDirectory())
            juce::Typeface::scanFolderForFonts (linkFolder);

        juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
        juce::Typeface::clearTypefaceCache();

        if (uiFaces (false).size() < 2 || uiFaces (true).size() < 2)
            juce::Logger::writeToLog ("Fonts: the UI face or the symbol face is not installed "
                                      "(Debian packages fonts-noto-cjk and fonts-dejavu-core); "
                                      "some texts will show as boxes");
    }

    ~UiFontInstallation() override
    {
        if (&juce::LookAndFeel::getDefaultLookAndFeel() == &lookAndFeel)
            juce::LookAndFeel::setDefaultLookAndFeel (nullptr);

        if (linkFolder != juce::File())
        {
            std::error_code error;
            std::filesystem::remove_all (linkFolder.getFullPathName().toStdString(), error);
        }

        instance = nullptr;
    }

    static inline UiFontInstallation* instance = nullptr;

private:
    /** A folder of this process alone (a fresh random name, made by this call, owner-only), under
        the user's runtime folder when there is one, else the temporary folder. */
    void makeLinkFolder()
    {
        const juce::File runtime (juce::SystemStats::getEnvironmentVariable ("XDG_RUNTIME_DIR", {}));
        const auto base = runtime.isDirectory() ? runtime
                                                : juce::File::getSpecialLocation (juce::File::tempDirectory);
        const auto folder = base.getChildFile ("vantrel-fonts-" + juce::Uuid().toString());
        std::error_code error;

        if (! std::filesystem::create_directory (folder.getFullPathName().toStdString(), error))
        {
            juce::Logger::writeToLog ("Fonts: cannot create " + folder.getFullPathName());
            return;
        }

        linkFolder = folder;
        std::filesystem::permissions (folder.getFullPathName().toStdString(), std::filesystem::perms::owner_all,
                                      error);

        for (int which = 0; which < 2; ++which)
        {
            const auto target = installedFontFile (which);

            if (target.existsAsFile())
                target.createSymbolicLink (folder.getChildFile (target.getFileNameWithoutExtension() + ".otf"), false);
        }
    }

    UiFontLookAndFeel lookAndFeel;
    juce::File linkFolder;
};
} // namespace

juce::String uiSansName()
{
    return "Noto Sans CJK JP";
}

juce::String brandFontName()
{
    return "Liberation Sans";
}

void installUiFonts()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (UiFontInstallation::instance != nullptr)
        return;

    juce::Desktop::getInstance();   // made first, so it is shut down after the installation
    UiFontInstallation::instance = new UiFontInstallation();
}

std::vector<FontFace> uiFaces (bool bold)
{
    const auto facesOf = [] (bool boldFaces)
    {
        std::vector<FontFace> faces;
        const auto ui = installedFontFile (boldFaces ? 1 : 0);

        if (ui.existsAsFile())
            faces.push_back ({ ui, faceIndexOfFamily (ui, uiSansName()) });

        const auto symbols = installedFontFile (boldFaces ? 3 : 2);

        if (symbols.existsAsFile())
            faces.push_back ({ symbols, 0 });

        return faces;
    };
    static const std::array<std::vector<FontFace>, 2> faces { facesOf (false), facesOf (true) };   // once per process
    return faces[bold ? 1 : 0];
}
} // namespace vantrel
