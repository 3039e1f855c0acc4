#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel::launcher
{
/** The launcher's exit codes. */
enum class LaunchResult : int
{
    started = 0,          // the main program was started (the launcher does not wait for it)
    ownPathUnknown = 2,   // the launcher's own path could not be found or has no folder part
    programMissing = 3,   // support/Vantrel is missing
    startFailed = 4       // support/Vantrel could not be started
};

inline constexpr const char* programMissingText =
    u8"support フォルダーが見つかりません。ZIP全体を解凍してください。\n"
    "Extract the entire ZIP, including the support folder.";
inline constexpr const char* startFailedText =
    u8"Vantrel!を起動できません。READMEを確認してください。\n"
    "Cannot start Vantrel! Please see README.";

/** The folder part of `path`: everything before its last '/' ("" for a file in the root
    folder); nothing when the path has no '/'. */
std::optional<std::string> folderOf (const std::string& path);

/** This program's own file with every link resolved (/proc/self/exe); nothing when unreadable. */
std::optional<std::string> ownExecutablePath();

/** Starts `folder`/support/Vantrel with argv[0] = its path followed by `arguments` unchanged,
    this process's environment and standard streams (no other descriptor), the support folder
    as its current directory and a session of its own (so it outlives the launcher and its
    terminal). Does not wait for it. A failure is reported with reportFailure. */
LaunchResult launchMainProgram (const std::string& folder, const std::vector<std::string>& arguments);

/** Writes `text` and a line break to standard error and, where a display is available
    (DISPLAY or WAYLAND_DISPLAY set), shows it in an error message box captioned "Vantrel!"
    (zenity, else kdialog, else xmessage, whichever is installed) until the box is closed. */
void reportFailure (const char* text);
} // namespace vantrel::launcher
