#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
/** What a path is, for deciding where the profile lives. */
enum class PathKind : int
{
    absent = 0,
    directory = 1,
    otherFile = 2,
    unusable = 3   // cannot be inspected, or a symbolic link
};

PathKind classifyPath (const juce::File& path);

enum class ProfileFolderStatus : int
{
    ok = 0,
    cannotVerify = 1,
    bothVersionsExist = 2
};

struct ProfileFolderResult
{
    juce::File path;   // set only with status ok
    ProfileFolderStatus status = ProfileFolderStatus::cannotVerify;
};

/** The local application-data folder: $XDG_DATA_HOME when it is an absolute path, else
    $HOME/.local/share; empty when neither can be worked out. */
juce::File localApplicationDataFolder();

/** Makes a missing local application-data folder and its missing parents, owner-only, as the
    first program that writes there does on this system; an existing one is left as it is for
    resolveProfileFolder to judge. Empty when the folder is there, else why it cannot be made
    (the detail of the alert that stops the start). */
juce::String createMissingDataHome (const juce::File& base);

/** Picks the profile folder below `base`: the current version's folder ("Vantrel/Ver1") or the
    previous one's ("Vantrel_Lumaro/Ver1C5"), whichever exists (the current one when neither does;
    nothing is created here). Both existing, or anything on the way that is not a plain folder
    (a file, a symbolic link, an unreadable entry), refuses the start: the program never merges
    or picks between two versions of the saved data. */
ProfileFolderResult resolveProfileFolder (const juce::File& base);

/** The alerts that stop the start, in Japanese with English below. */
juce::String profileCannotBeVerifiedText();
juce::String profileBothVersionsText();
} // namespace vantrel
