// The shipped program where no output opens, and where an open JACK output loses its server: what
// the status line says, and what reaches the terminal and the audio diagnostics.

#include "session/Preferences.h"
#include "session/PreferencesFile.h"
#include "support/JackDummyServer.h"
#include "tests/app/ProgramRig.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::program_test;
namespace files = vantrel::testing;

/** Lines libjack prints by itself: looking for a server that is not there, and losing one. */
const char* const libjackTexts[] = { "Cannot connect to server", "jack server is not running", "JackShmReadWritePtr",
                                     "Cannot read socket", "JackSocketClientChannel", "CheckRes error" };

/** What the ended program wrote to its standard output and standard error. */
std::string terminalOf (RunningProgram& program)
{
    std::string text = program.standardError.loadFileAsString().toStdString();
    char buffer[4096];
    for (long n; (n = program.process.readSome (buffer, sizeof buffer, capMs)) > 0;)
        text.append (buffer, (size_t) n);
    return text;
}

void expectNoLibjackLines (const std::string& terminal)
{
    for (const char* text : libjackTexts)
        EXPECT_EQ (terminal.find (text), std::string::npos) << "libjack printed \"" << text << "\":\n" << terminal;
}

bool quitProgram (RunningProgram& program)
{
    const auto exit = sendSignal (program.pid(), "INT") ? program.waitForExit() : platform::ChildExit {};
    return exit.ended && exit.exited && exit.exitCode == 0;
}

// No JACK server and an ALSA default that names a card that is not there: the status line names
// both, with alsa-lib's reason, in Japanese and in English, and so does the audio diagnostics'
// last output error; libjack prints nothing.
TEST (NoOutput, TheStatusSaysThatNoJackServerAnsweredAndWhyAlsasDefaultDidNotOpen)
{
    const struct
    {
        bool english;
        const char* expected;
    } cases[] = {
        { false, "OUT: 出力先なし — JACKサーバーが応答しません。ALSAの既定の出力先を開けません: Vantrel Broken Default: No such device" },
        { true, "OUT: No output — No JACK server answered. ALSA's default device could not be opened: Vantrel Broken Default: No such device" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.english ? "English" : "Japanese");
        ProgramRig rig ("no-output");
        START_DISPLAY_OR_SKIP (rig)
        ASSERT_TRUE (files::writeBytes (rig.home().getChildFile (".asoundrc"),
                                        "pcm.!default { type hw; card VantrelAbsent; hint { show on; description \"Vantrel Broken Default\" } }\n"));
        Preferences preferences;
        preferences.english = c.english;
        ASSERT_TRUE (rig.local().createDirectory());
        ASSERT_TRUE (savePreferences (rig.local().getChildFile ("preferences.json"), preferences).ok);

        std::string error;
        auto program = rig.start (rig.reportFile (1).getFullPathName(), error);
        ASSERT_NE (program, nullptr) << error;
        ASSERT_TRUE (program->waitForReport()) << "no report; standard error: " << program->errorText();
        ASSERT_NE (rig.waitForWindow (mainWindowTitle), 0u) << "no main window";
        const auto report = program->readReport();
        EXPECT_EQ (report["audioOpened"], juce::var (false));
        EXPECT_EQ (report["status"].toString(), juce::String::fromUTF8 (c.expected));
        const auto diagnostics = rig.local().getChildFile ("audio-diagnostics.json");
        const auto lastError = [&] { return juce::JSON::parse (diagnostics.loadFileAsString())["lastOutputError"].toString(); };
        EXPECT_TRUE (waitFor ([&] { return lastError().isNotEmpty(); })) << "no audio diagnostics";
        const auto reason = juce::String::fromUTF8 (c.expected).fromFirstOccurrenceOf (juce::String::fromUTF8 (" — "), false, false);
        EXPECT_EQ (lastError(), reason);
        ASSERT_TRUE (quitProgram (*program)) << program->errorText();
        expectNoLibjackLines (terminalOf (*program));
    }
}

// An open JACK output whose server is killed: libjack's texts of the loss reach the audio
// diagnostics, and neither they nor the reopen attempts that follow (each looks for the server)
// reach the terminal.
TEST (NoOutput, AnOpenJackOutputsErrorsReachTheDiagnosticsAndNothingOfLibjacksTheTerminal)
{
    if (! test::JackDummyServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    test::JackDummyServer jack;
    ASSERT_TRUE (jack.start()) << jack.lastError();
    ProgramRig rig ("jack-errors");
    START_DISPLAY_OR_SKIP (rig)
    rig.jackServer = jack.serverName();

    std::string error;
    auto program = rig.start (rig.reportFile (1).getFullPathName(), error);
    ASSERT_NE (program, nullptr) << error;
    ASSERT_TRUE (program->waitForReport()) << "no report; standard error: " << program->errorText();
    ASSERT_EQ (program->readReport()["audioOpened"], juce::var (true)) << program->readReport()["status"].toString();

    const auto diagnostics = rig.local().getChildFile ("audio-diagnostics.json");
    const auto read = [&] { return juce::JSON::parse (diagnostics.loadFileAsString()); };
    ASSERT_TRUE (waitFor ([&] { return read().isObject(); })) << "no audio diagnostics";
    EXPECT_EQ (read()["driverErrors"].size(), 0) << diagnostics.loadFileAsString();

    jack.kill();
    // The loss is seen, then at least one reopen attempt has looked for the server.
    ASSERT_TRUE (waitFor ([&] {
        const auto document = read();
        return document["driverErrors"].size() > 0 && static_cast<int> (document["confirmedLossEvents"]) > 0;
    })) << diagnostics.loadFileAsString();
    const auto reopenFailed = juce::String::fromUTF8 ("指定された出力先がありません");
    EXPECT_TRUE (waitFor ([&] { return read()["lastOutputError"].toString() == reopenFailed; })) << diagnostics.loadFileAsString();
    ASSERT_TRUE (quitProgram (*program)) << program->errorText();
    expectNoLibjackLines (terminalOf (*program));
}
} // namespace
