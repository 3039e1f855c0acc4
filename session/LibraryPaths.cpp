#include "session/LibraryPaths.h"

#include "session/CatalogValidation.h"

#include <filesystem>
#include <system_error>

namespace vantrel
{
const char* const acceptedAudioExtensions = "wav;aif;aiff;mp3;flac;m4a;aac";

bool hasAcceptedAudioExtension (const juce::String& fileName)
{
    const auto dot = fileName.lastIndexOfChar ('.');

    if (dot < 0 || fileName.containsChar ('/'))
        return false;

    const auto extension = fileName.substring (dot + 1);

    if (extension.isEmpty())
        return false;

    for (const auto& accepted : juce::StringArray::fromTokens (acceptedAudioExtensions, ";", {}))
        if (extension.equalsIgnoreCase (accepted))
            return true;

    return false;
}

namespace
{
const char* const copyTemporaryMarker = "_temp";
constexpr int copyTemporaryHexDigits = 8;

bool isLowerHex (const juce::String& text, int digits)
{
    return text.length() == digits && text.containsOnly ("0123456789abcdef");
}
} // namespace

juce::String copyTemporaryName (const juce::String& destinationName, const juce::String& hex8)
{
    const juce::File destination ("/" + destinationName);
    return destination.getFileNameWithoutExtension() + copyTemporaryMarker + hex8 + destination.getFileExtension();
}

bool isCopyTemporaryNameOf (const juce::String& fileName, const juce::String& destinationName)
{
    const juce::File destination ("/" + destinationName);
    const auto head = destination.getFileNameWithoutExtension() + copyTemporaryMarker;
    const auto tail = destination.getFileExtension();

    if (head == copyTemporaryMarker || fileName.length() != head.length() + copyTemporaryHexDigits + tail.length()
        || ! fileName.startsWith (head) || ! fileName.endsWith (tail))
        return false;

    return isLowerHex (fileName.substring (head.length(), head.length() + copyTemporaryHexDigits), copyTemporaryHexDigits);
}

bool isCopyTemporaryName (const juce::String& fileName)
{
    const auto marker = fileName.indexOf (copyTemporaryMarker);
    const auto dot = fileName.lastIndexOfChar ('.');
    const auto hexStart = marker + juce::String (copyTemporaryMarker).length();

    if (marker <= 0 || dot != hexStart + copyTemporaryHexDigits || ! hasAcceptedAudioExtension (fileName))
        return false;

    return isValidId (fileName.substring (0, marker).toStdString())
        && isLowerHex (fileName.substring (hexStart, dot), copyTemporaryHexDigits);
}

bool isAbsolutePathText (const juce::String& path)
{
    return path.startsWithChar ('/');
}

bool isPathBelow (const juce::String& path, const juce::String& folder)
{
    if (folder.isEmpty() || ! isAbsolutePathText (folder))
        return false;

    if (folder == "/")
        return path.length() > 1 && path.startsWithChar ('/');

    return path.length() > folder.length() + 1 && path.startsWith (folder)
        && path[folder.length()] == '/';
}

juce::String canonicalPath (const juce::File& file)
{
    const auto path = file.getFullPathName();

    if (! isAbsolutePathText (path))
        return {};

    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical (std::filesystem::path (path.toStdString()), error);

    if (error)
        return {};

    auto text = juce::String::fromUTF8 (resolved.string().c_str());

    // A lexically normalised tail may end in '/'; the key of a file never does.
    while (text.length() > 1 && text.endsWithChar ('/'))
        text = text.dropLastCharacters (1);

    return isAbsolutePathText (text) ? text : juce::String();
}

juce::String libraryPathKey (const juce::File& file)
{
    const auto canonical = canonicalPath (file);
    return canonical.isNotEmpty() ? canonical : file.getFullPathName();
}

LibraryRoot::LibraryRoot (const juce::File& rootFolder)
    : root (rootFolder),
      rootPath (rootFolder.getFullPathName()),
      canonicalRoot (canonicalPath (rootFolder))
{
}

LibraryFileKind LibraryRoot::classify (const juce::File& file) const
{
    if (! isPathBelow (file.getFullPathName(), rootPath) || canonicalRoot.isEmpty())
        return LibraryFileKind::External;

    const auto canonical = canonicalPath (file);

    if (canonical.isEmpty() || ! isPathBelow (canonical, canonicalRoot))
        return LibraryFileKind::External;

    const auto relative = canonical.substring (canonicalRoot == "/" ? 1 : canonicalRoot.length() + 1);
    const auto parts = juce::StringArray::fromTokens (relative, "/", {});

    if (parts.size() == 3 && parts[0] == "pad" && parts[1] == "assets" && hasAcceptedAudioExtension (parts[2]))
        return LibraryFileKind::PadCopy;

    if (parts.size() == 4 && parts[0] == "playlists" && isValidId (parts[1].toStdString())
        && parts[2] == "audio" && hasAcceptedAudioExtension (parts[3]))
        return LibraryFileKind::PlaylistCopy;

    return LibraryFileKind::External;
}

juce::String LibraryRoot::relativePath (const juce::File& file) const
{
    const auto path = file.getFullPathName();

    if (! isPathBelow (path, rootPath))
        return path;

    return path.substring (rootPath == "/" ? 1 : rootPath.length() + 1);
}
} // namespace vantrel
