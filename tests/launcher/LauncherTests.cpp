// The launcher program, run the way a user's desktop runs it: from another folder, on shipped
// folders laid out by the tests, with a stand-in main program that records how it was started.
#include "launcher/Launcher.h"
#include "platform/PipedProcess.h"
#include "platform/X11Window.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"
#include "support/X11Inspector.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

namespace
{
namespace fs = std::filesystem;
namespace launcher = vantrel::launcher;
namespace platform = vantrel::platform;
namespace files = vantrel::testing;
using launcher::LaunchResult;
using platform::PipedProcess;
using Environment = std::vector<std::pair<std::string, std::string>>;
using Clock = std::chrono::steady_clock;

constexpr int capMs = 60000;

bool waitUntil (const std::function<bool()>& condition)
{
    return vantrel::testing::waitUntil (condition, std::chrono::milliseconds (capMs), std::chrono::milliseconds (10));
}

std::vector<std::string> split (const std::string& text, char separator)
{
    std::vector<std::string> items;
    for (std::size_t start = 0, end; (end = text.find (separator, start)) != std::string::npos; start = end + 1)
        items.push_back (text.substr (start, end - start));
    return items;
}

std::string readText (const fs::path& file)  { return files::readBytes (juce::File (file.string())); }

/** A shipped folder of its own, under a name with a space and Japanese letters, with the built
    launcher at its top and nothing yet at support/Vantrel; `elsewhere` is another folder. */
struct ShippedFolder
{
    files::TempFolder temp { "launcher" };
    fs::path root { temp.path().getFullPathName().toStdString() };
    fs::path top = root / u8"出荷 Vantrel";
    fs::path launcher = top / "Vantrel";
    fs::path program = top / "support" / "Vantrel";
    fs::path elsewhere = root / "elsewhere";

    ShippedFolder()
    {
        fs::create_directories (top / "support");
        fs::create_directories (elsewhere);
        fs::copy_file (VANTREL_TEST_LAUNCHER, launcher);
    }

    /** Runs `command` from `elsewhere` with no display unless `environment` names one; waits for
        it to end. Fills `standardError`. */
    platform::ChildExit run (const fs::path& command, const std::vector<std::string>& arguments,
                             const Environment& environment, std::string& standardError)
    {
        PipedProcess process;
        std::string error;
        EXPECT_TRUE (process.start (options (command, arguments, environment), error)) << error;
        const auto exit = process.wait (capMs);
        standardError = readText (errorFile);
        return exit;
    }

    PipedProcess::Options options (const fs::path& command, const std::vector<std::string>& arguments,
                                   const Environment& environment)
    {
        errorFile = root / ("stderr-" + std::to_string (++runs));
        PipedProcess::Options options;
        options.program = command.string();
        options.arguments = arguments;
        options.environment = environment;
        options.unsetEnvironment = { "DISPLAY", "WAYLAND_DISPLAY" };
        options.standardErrorPath = errorFile.string();
        options.workingDirectory = elsewhere.string();
        options.inheritNothingElse = true;
        return options;
    }

    fs::path errorFile;
    int runs = 0;
};

TEST (Launcher, StartsTheMainProgramWithItsArgumentsInTheSupportFolderAndEndsAtOnce)
{
    struct Case { std::vector<std::string> arguments; bool throughLink; };
    const Case cases[] {
        { { "a", "b" }, false },
        { { "x", "y", "z" }, false },
        { {}, false },
        { { "", "with space", "quo\"te \\", u8"日本語", "--flag=1" }, false },
        { { "a", "b" }, true },   // /proc/self/exe gives the real file: its folder is the shipped one
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::to_string (c.arguments.size()) + " arguments" + (c.throughLink ? " via a link" : ""));
        ShippedFolder shipped;
        fs::copy_file (VANTREL_TEST_STAND_IN, shipped.program);
        const auto record = shipped.root / "record";
        const auto go = shipped.root / "go";
        auto command = shipped.launcher;

        if (c.throughLink)
        {
            command = shipped.elsewhere / "Vantrel-link";
            fs::create_symlink (shipped.launcher, command);
        }

        std::string standardError;
        const auto exit = shipped.run (command, c.arguments, { { "VANTREL_STAND_IN_RECORD", record.string() },
                                                               { "VANTREL_STAND_IN_GO", go.string() } }, standardError);
        // The launcher has ended while the program still waits for "go": it did not wait for it.
        EXPECT_TRUE (exit.ended && exit.exited);
        EXPECT_EQ (exit.exitCode, static_cast<int> (LaunchResult::started));
        EXPECT_EQ (standardError, "");
        EXPECT_FALSE (fs::exists (record));

        files::writeBytes (juce::File (go.string()), "go");
        ASSERT_TRUE (waitUntil ([&] { return fs::exists (record); })) << "the program never wrote its record";

        const auto support = fs::canonical (shipped.top / "support").string();
        std::vector<std::string> expected { support, "own session", support + "/Vantrel" };
        expected.insert (expected.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ (split (readText (record), '\0'), expected);
    }
}

TEST (Launcher, ReportsAMissingOrUnstartableMainProgram)
{
    enum class Put { nothing, programWithoutExecuteBits, textWithoutInterpreter, folder };
    struct Case { Put put; LaunchResult result; const char* text; };
    const Case cases[] {
        { Put::nothing, LaunchResult::programMissing, launcher::programMissingText },
        { Put::programWithoutExecuteBits, LaunchResult::startFailed, launcher::startFailedText },   // root too needs an x bit
        { Put::textWithoutInterpreter, LaunchResult::startFailed, launcher::startFailedText },      // ENOEXEC
        { Put::folder, LaunchResult::startFailed, launcher::startFailedText },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (static_cast<int> (c.put));
        ShippedFolder shipped;

        if (c.put == Put::programWithoutExecuteBits)
        {
            fs::copy_file (VANTREL_TEST_STAND_IN, shipped.program);
            fs::permissions (shipped.program, fs::perms::owner_read | fs::perms::owner_write);
        }
        else if (c.put == Put::textWithoutInterpreter)
        {
            files::writeBytes (juce::File (shipped.program.string()), "echo this is not a program\n");
            fs::permissions (shipped.program, fs::perms::owner_all);
        }
        else if (c.put == Put::folder)
            fs::create_directory (shipped.program);

        std::string standardError;
        const auto exit = shipped.run (shipped.launcher, { "a" }, {}, standardError);
        EXPECT_TRUE (exit.ended && exit.exited);
        EXPECT_EQ (exit.exitCode, static_cast<int> (c.result));
        EXPECT_EQ (standardError, std::string (c.text) + "\n");
    }
}

TEST (Launcher, ShowsTheFailureInTheFirstMessageBoxProgramInstalled)
{
    struct Case { std::vector<std::string> installed; std::vector<std::string> expectedCall; };
    const std::string text = launcher::programMissingText;
    const Case cases[] {
        { { "zenity", "kdialog", "xmessage" }, { "zenity", "--error", "--title=Vantrel!", "--no-markup", "--text=" + text } },
        { { "kdialog", "xmessage" }, { "kdialog", "--title", "Vantrel!", "--error", text } },
        { { "xmessage" }, { "xmessage", "-title", "Vantrel!", "-center", "-buttons", "OK:0", "-default", "OK", text } },
        { {}, {} },   // none installed: the text is on standard error only
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.installed.size());
        ShippedFolder shipped;
        const auto bin = shipped.root / "bin";
        const auto call = shipped.root / "box-call";
        fs::create_directory (bin);

        for (const auto& name : c.installed)   // each one records how it was called, then "closes"
        {
            files::writeBytes (juce::File ((bin / name).string()),
                                 "#!/bin/sh\nprintf '%s\\0' \"${0##*/}\" \"$@\" > \"$VANTREL_BOX_CALL\"\n");
            fs::permissions (bin / name, fs::perms::owner_all);
        }

        std::string standardError;
        const auto exit = shipped.run (shipped.launcher, {}, { { "DISPLAY", ":vantrel-test" }, { "PATH", bin.string() },
                                                             { "VANTREL_BOX_CALL", call.string() } }, standardError);
        EXPECT_EQ (exit.exitCode, static_cast<int> (LaunchResult::programMissing));
        EXPECT_EQ (standardError, text + "\n");
        EXPECT_EQ (split (readText (call), '\0'), c.expectedCall);
    }
}

TEST (Launcher, WaitsUntilTheMessageBoxOnTheDisplayIsClosed)
{
    const auto xmessage = juce::File ("/usr/bin/xmessage");
    if (platform::XvfbServer::programPath().empty() || ! xmessage.existsAsFile())
        GTEST_SKIP() << "Xvfb or xmessage (x11-utils) is not installed";

    platform::prepareX11();
    platform::XvfbServer server;
    std::string error;
    ASSERT_TRUE (server.start (700, 799, error)) << error;
    auto look = platform::X11Inspector::open (server.displayName(), error);
    ASSERT_NE (look, nullptr) << error;

    ShippedFolder shipped;
    const auto bin = shipped.root / "bin";
    fs::create_directory (bin);
    fs::create_symlink (xmessage.getFullPathName().toStdString(), bin / "xmessage");   // the only box program
    PipedProcess process;
    ASSERT_TRUE (process.start (shipped.options (shipped.launcher, {}, { { "DISPLAY", server.displayName() },
                                                                          { "PATH", bin.string() } }), error)) << error;
    std::uintptr_t box = 0;
    ASSERT_TRUE (waitUntil ([&] {
        for (const auto& window : look->topLevelWindows())
            if (window.viewable && window.title == "Vantrel!")
                box = window.id;
        return box != 0;
    })) << "no message box appeared";

    EXPECT_FALSE (process.hasEnded()) << "the launcher must wait until the box is closed";
    EXPECT_TRUE (look->requestClose (box));   // as a window manager's close box does
    const auto exit = process.wait (capMs);
    EXPECT_TRUE (exit.ended && exit.exited);
    EXPECT_EQ (exit.exitCode, static_cast<int> (LaunchResult::programMissing));
}

TEST (Launcher, TheShippedFolderHoldsTheProgramsWhereTheLauncherLooks)
{
    const auto support = fs::path (VANTREL_TEST_LAUNCHER).parent_path() / "support";
    EXPECT_EQ (fs::path (VANTREL_TEST_WORKER), support / "OrvaneVstHost");
#ifdef VANTREL_TEST_MAIN_PROGRAM
    EXPECT_EQ (fs::path (VANTREL_TEST_MAIN_PROGRAM), support / "Vantrel");
#endif
}

TEST (Launcher, FolderOfAPath)
{
    EXPECT_EQ (launcher::folderOf ("/opt/Vantrel/Vantrel"), "/opt/Vantrel");
    EXPECT_EQ (launcher::folderOf ("/Vantrel"), "");   // the root folder: support is "/support"
    EXPECT_EQ (launcher::folderOf ("Vantrel"), std::nullopt);
}
} // namespace
