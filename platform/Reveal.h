#pragma once

#include <juce_core/juce_core.h>

#include <string>

namespace vantrel::platform
{
/** Opens the folder that holds `file` (the file itself when it is a folder) in the desktop's
    file manager: starts `opener` (looked up on PATH) with the folder's absolute path as its one
    and only argument. No shell reads the path, so no character of a folder's name ($, ", ;,
    spaces, a leading '-') can become a command or an option. Returns at once; a thread of its
    own reaps the opener when it ends, so none is left behind as a zombie. False when the folder
    does not exist or the opener could not be started. Any thread. */
bool revealInFileManager (const juce::File& file, const std::string& opener = "xdg-open");
} // namespace vantrel::platform
