#pragma once

#include <string>

namespace orvane::vsthost
{
/** The title of an editor window for the client's UTF-8 text: "Orvane VST3" when the text is
    empty; otherwise the text up to its first NUL, each byte that does not belong to a valid
    UTF-8 sequence replaced by U+FFFD, so the window system always gets valid UTF-8. */
std::string editorWindowTitle (const std::string& titleUtf8);
} // namespace orvane::vsthost
