#pragma once

#include "session/LibraryItem.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The audio extensions that the library manages and the copy accepts, as the framework's
    extension test takes them (compared without regard to case). */
extern const char* const acceptedAudioExtensions;

/** True when the name's extension (after its last '.') is an accepted audio extension. */
bool hasAcceptedAudioExtension (const juce::String& fileName);

/** The name of the temporary file through which a copy reaches the destination named
    `destinationName` ("<row id>.<ext>"): its base name, "_temp", 8 lower-case hex digits
    (`hex8`) and its extension. */
juce::String copyTemporaryName (const juce::String& destinationName, const juce::String& hex8);

/** True when `fileName` is a temporary name that the copy gives a file on its way to the
    destination named `destinationName`. */
bool isCopyTemporaryNameOf (const juce::String& fileName, const juce::String& destinationName);

/** True when `fileName` is a temporary name of the copy for any destination: a valid id, "_temp",
    8 lower-case hex digits and an accepted audio extension. Such a file is never a library file:
    it is a copy that was stopped before it was verified. */
bool isCopyTemporaryName (const juce::String& fileName);

/** True for a path rooted at '/'. A '~' path is the shell's shorthand, not a path. */
bool isAbsolutePathText (const juce::String& path);

/** True when `path` lies below `folder` (plain text comparison at '/' boundaries; the folder
    itself is not below itself). */
bool isPathBelow (const juce::String& path, const juce::String& folder);

/** The weakly canonical path: links and "." / ".." of the existing leading part resolved, the
    rest appended as it is. Empty when the path is not absolute or cannot be resolved.
    Any thread. */
juce::String canonicalPath (const juce::File& file);

/** The comparison key of a file: its canonical path, or its full path when that is empty.
    Two references name the same file when their keys are equal. Letter case is kept, since
    Linux file systems tell A.wav and a.wav apart. Any thread. */
juce::String libraryPathKey (const juce::File& file);

/** The data root with its canonical path resolved once, for classifying many files.
    Any thread; holds no lock. */
class LibraryRoot
{
public:
    explicit LibraryRoot (const juce::File& root);

    const juce::File& getRoot() const  { return root; }

    /** The kind of a file (which need not exist): managed only when both its plain path lies
        below the root and its canonical path lies at a managed place below the canonical root. */
    LibraryFileKind classify (const juce::File& file) const;

    /** The file's path relative to the root with '/' separators (the names file's key).
        Meaningful only for a file below the root. */
    juce::String relativePath (const juce::File& file) const;

private:
    juce::File root;
    juce::String rootPath;
    juce::String canonicalRoot;
};
} // namespace vantrel
