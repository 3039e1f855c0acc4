// The system-sound muter against a private PulseAudio daemon and a private PipeWire (its
// pipewire-pulse server, as Debian 12's desktops run it): the event-role entry and the
// event-role streams are muted only after their original state is on disk, given back when
// muting ends, and given back by a later run after a crash.
#include "PipeWireTestServer.h"
#include "PulseTestServer.h"

#include "app/SystemSoundsGuard.h"
#include "platform/SystemSoundSessions.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{
using vantrel::SystemSoundsGuard;
using vantrel::SystemSoundsRecord;
using vantrel::SystemSoundsStatus;
using vantrel::platform::ChildProcess;
using vantrel::test::PipeWireTestServer;
using vantrel::test::PulseProtocolServer;
using vantrel::test::PulseTestServer;
using vantrel::test::waitUntil;
using vantrel::testing::ja;
using vantrel::testing::readBytes;
using vantrel::testing::TempFolder;
using vantrel::testing::writeBytes;

constexpr int capMs = 60000;

const char* const skipReason = "pulseaudio, pactl or pacat is missing (scripts/setup.sh test installs pulseaudio and pulseaudio-utils, "
                               "the daemon only where neither pipewire-audio nor pipewire-alsa is installed)";

juce::String cannotStartText()   { return ja ("システム音の制御を開始できません。復元記録を保持しています。"); }
juce::String keptForNextRunText() { return ja ("未復元のシステム音設定を次回起動用に保持しています。"); }

/** The records of a recovery file's bytes; nothing when they are not a file of schema 1. */
std::optional<SystemSoundsRecord> recordsIn (const std::string& bytes)
{
    const auto root = juce::JSON::parse (juce::String::fromUTF8 (bytes.data(), static_cast<int> (bytes.size())));
    const auto* sessions = root.getProperty ("sessions", {}).getArray();

    if (! root.getProperty ("schema", {}).isInt() || static_cast<int> (root.getProperty ("schema", {})) != 1 || sessions == nullptr)
        return std::nullopt;

    SystemSoundsRecord records;

    for (const auto& entry : *sessions)
        records[entry.getProperty ("id", {}).toString()] = static_cast<bool> (entry.getProperty ("muted", {}));

    return records;
}

std::string recoveryText (int otherSessions)
{
    std::string text = "{\"schema\": 1, \"sessions\": [";

    for (int index = 0; index < otherSessions; ++index)
        text += (index > 0 ? "," : "") + std::string ("{\"id\": \"other-server|") + std::to_string (index) + "\", \"muted\": true}";

    return text + "]}";
}

const char* const pipeWireSkipReason = "pipewire, pipewire-pulse, wireplumber, pipewire-jack or dbus-daemon is missing "
                                       "(scripts/setup.sh installs them)";

/** The server a case runs against, by the parameter's name. */
std::unique_ptr<PulseProtocolServer> makeServer (const std::string& kind, const juce::File& folder)
{
    if (kind == "PipeWire")
        return std::make_unique<PipeWireTestServer> (folder);
    return std::make_unique<PulseTestServer> (folder);
}

class SystemSoundsGuardTest : public ::testing::TestWithParam<std::string>
{
protected:
    void SetUp() override
    {
        if (GetParam() == "PipeWire" ? ! PipeWireTestServer::installed() : ! PulseTestServer::installed())
            GTEST_SKIP() << (GetParam() == "PipeWire" ? pipeWireSkipReason : skipReason);

        ASSERT_TRUE (server.start()) << "the private " << GetParam() << " server did not answer";
    }

    /** What the guard and a client of the server see, for a failure's message. */
    std::string seen()
    {
        std::vector<vantrel::platform::SystemSoundSession> sessions;
        const bool enumerated = observer.enumerate (sessions);
        std::string text = "sessions seen by a client (" + std::string (enumerated ? "enumerated" : "not enumerated") + "):";

        for (const auto& session : sessions)
            text += " " + session.key + (session.muted ? " muted" : " not muted");

        const auto status = lastGuardStatus;
        return text + "; the guard: running " + std::to_string (status.running) + ", ready " + std::to_string (status.ready)
               + ", muted sessions " + std::to_string (status.mutedSessions) + ", error \"" + status.error.toStdString()
               + "\"; recovery \"" + readBytes (recovery) + "\"";
    }

    /** The event-role entry as a client of the server reads it. */
    bool entryMuted()
    {
        std::vector<vantrel::platform::SystemSoundSession> sessions;
        return observer.enumerate (sessions) && sessions.size() == 1 && sessions[0].muted;
    }

    bool eventStreamsMuted (bool muted, size_t count)
    {
        const auto streams = server.eventStreams();
        bool all = streams.size() == count;

        for (const auto& stream : streams)
            all = all && stream.muted == muted;

        return all;
    }

    SystemSoundsRecord originalUnmuted() const  { return { { server.sessionKey(), false } }; }

    std::optional<SystemSoundsRecord> records() const  { return recordsIn (readBytes (recovery)); }

    TempFolder temp { "system-sounds" };
    std::unique_ptr<PulseProtocolServer> chosen = makeServer (GetParam(), temp / "pulse");
    PulseProtocolServer& server = *chosen;
    juce::File recovery = temp / "local/system-sounds-recovery.json";
    vantrel::platform::SystemSoundSessions observer;
    SystemSoundsStatus lastGuardStatus;
};

TEST_P (SystemSoundsGuardTest, MutingWritesTheOriginalFirstThenMutesPlayingAndNewEventStreams)
{
    ChildProcess playing;
    ASSERT_TRUE (server.startEventStream (playing));

    SystemSoundsGuard guard;
    guard.setMuted (true);
    guard.start (recovery);

    // The moment the entry reads muted, its original state must already be on disk.
    std::string bytesWhenMuted;
    const bool muted = waitUntil ([&] { return entryMuted() && ! (bytesWhenMuted = readBytes (recovery)).empty(); }, capMs);
    lastGuardStatus = guard.status();
    ASSERT_TRUE (muted) << seen();
    EXPECT_EQ (recordsIn (bytesWhenMuted), originalUnmuted()) << bytesWhenMuted;

    EXPECT_TRUE (waitUntil ([&] { return eventStreamsMuted (true, 1); }, capMs)) << "the stream that was already playing";
    ASSERT_TRUE (waitUntil ([&] { return guard.status().mutedSessions == 1; }, capMs));
    const auto status = guard.status();
    EXPECT_TRUE (status.running && status.ready);
    EXPECT_EQ (status.error, "");

    ChildProcess later;
    ASSERT_TRUE (server.startEventStream (later));
    EXPECT_TRUE (waitUntil ([&] { return eventStreamsMuted (true, 2); }, capMs)) << "a stream started while muted";
}

TEST_P (SystemSoundsGuardTest, MutingOffRestoresTheOriginalAndKeepsTheEntryVolume)
{
    {
        // An entry with a volume of its own: an event stream turned down to 40 %.
        ChildProcess turnedDown;
        ASSERT_TRUE (server.startEventStream (turnedDown));
        server.pactl ({ "set-sink-input-volume", server.eventStreams().at (0).index, "40%" });
        ASSERT_TRUE (waitUntil ([&] { return server.eventStreams().at (0).volume.find ("40%") != std::string::npos; }, capMs));
        turnedDown.kill();
        turnedDown.waitUntilEnded();
        ASSERT_TRUE (waitUntil ([&] { return server.eventStreams().empty(); }, capMs));
    }

    // With no stream playing, only the muter's own writes touch the entry.
    SystemSoundsGuard guard;
    guard.setMuted (true);
    guard.start (recovery);
    ASSERT_TRUE (waitUntil ([&] { return guard.status().mutedSessions == 1 && entryMuted(); }, capMs));
    guard.setMuted (false);
    EXPECT_TRUE (waitUntil ([&] { return ! entryMuted(); }, capMs));
    EXPECT_TRUE (waitUntil ([&] { return records() == SystemSoundsRecord {}; }, capMs)) << readBytes (recovery);
    EXPECT_TRUE (waitUntil ([&] { return guard.status().mutedSessions == 0; }, capMs));

    ChildProcess playing;
    ASSERT_TRUE (server.startEventStream (playing));
    const auto streams = server.eventStreams();
    ASSERT_EQ (streams.size(), 1u);
    EXPECT_FALSE (streams[0].muted);
    EXPECT_NE (streams[0].volume.find ("40%"), std::string::npos) << "the entry lost its volume: " << streams[0].volume;

    // A stream that plays while muting starts and ends follows the session both ways.
    guard.setMuted (true);
    EXPECT_TRUE (waitUntil ([&] { return eventStreamsMuted (true, 1); }, capMs));
    guard.setMuted (false);
    EXPECT_TRUE (waitUntil ([&] { return ! entryMuted() && eventStreamsMuted (false, 1); }, capMs));

    guard.stop();
    EXPECT_FALSE (guard.status().running);
    EXPECT_EQ (guard.status().error, "");
}

TEST_P (SystemSoundsGuardTest, NothingIsMutedWhenTheOriginalCannotBeSaved)
{
    ASSERT_TRUE (writeBytes (temp / "blocker", "a file where the folder should be"));
    ChildProcess playing;
    ASSERT_TRUE (server.startEventStream (playing));

    SystemSoundsGuard guard;
    guard.setMuted (true);
    guard.start (temp / "blocker/system-sounds-recovery.json");
    ASSERT_TRUE (guard.waitForFirstPass (capMs));

    const auto status = guard.status();
    EXPECT_TRUE (status.ready);
    EXPECT_EQ (status.mutedSessions, 0);
    EXPECT_EQ (status.error, ja ("元のシステム音設定を保存できないため、ミュートを変更しません。"));
    EXPECT_FALSE (entryMuted());
    EXPECT_TRUE (eventStreamsMuted (false, 1));
}

TEST_P (SystemSoundsGuardTest, AKilledRunIsRestoredByTheNextRun)
{
    for (const bool mutingWanted : { false, true })
    {
        SCOPED_TRACE (mutingWanted ? "next run with muting on" : "next run with muting off");
        ChildProcess holder;
        ASSERT_TRUE (holder.start (VANTREL_SYSTEM_SOUNDS_HOLDER, { recovery.getFullPathName().toStdString() }));
        std::string output;
        while (output.find ('\n') == std::string::npos && holder.readOutput (output, capMs)) {}
        ASSERT_EQ (output, "muted\n");
        holder.kill();
        holder.waitUntilEnded();

        ASSERT_TRUE (entryMuted()) << "the daemon keeps what the killed run set";
        ASSERT_EQ (records(), originalUnmuted());

        SystemSoundsGuard next;
        next.setMuted (mutingWanted);
        next.start (recovery);

        if (mutingWanted)
        {
            // The recorded original survives the passes that keep the session muted ...
            ASSERT_TRUE (waitUntil ([&] { return next.status().mutedSessions == 1; }, capMs));
            EXPECT_EQ (records(), originalUnmuted());
            next.stop();   // ... and is what stop gives back.
            EXPECT_FALSE (entryMuted());
        }
        else
        {
            EXPECT_TRUE (waitUntil ([&] { return ! entryMuted(); }, capMs));
            EXPECT_TRUE (waitUntil ([&] { return records() == SystemSoundsRecord {}; }, capMs));
            next.stop();
        }

        EXPECT_EQ (records(), SystemSoundsRecord {});
        EXPECT_EQ (next.status().error, "");
    }
}

TEST_P (SystemSoundsGuardTest, AServerGoneAtStopKeepsTheRecordForTheRunAfterItsRestart)
{
    SystemSoundsGuard guard;
    guard.setMuted (true);
    guard.start (recovery);
    ASSERT_TRUE (waitUntil ([&] { return guard.status().mutedSessions == 1; }, capMs));

    server.stop();
    EXPECT_TRUE (waitUntil ([&] { return ! guard.status().ready; }, capMs));
    guard.stop();
    EXPECT_EQ (guard.status().error, keptForNextRunText());
    EXPECT_EQ (records(), originalUnmuted());

    ASSERT_TRUE (server.start());
    ASSERT_TRUE (entryMuted()) << "the restarted daemon restores its stored entry";
    SystemSoundsGuard next;
    next.setMuted (false);
    next.start (recovery);
    EXPECT_TRUE (waitUntil ([&] { return ! entryMuted(); }, capMs)) << "the same session after the restart";
    EXPECT_TRUE (waitUntil ([&] { return records() == SystemSoundsRecord {}; }, capMs));
}

TEST_P (SystemSoundsGuardTest, RecordsOfOtherSessionsCountTowardsTheCap)
{
    const struct
    {
        int others;
        bool muted;
        const char* error;
    } cases[] = {
        { SystemSoundsGuard::maxRecords - 1, true, "" },
        { SystemSoundsGuard::maxRecords, false, "System-sound recovery capacity exceeded" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.others);
        ASSERT_TRUE (writeBytes (recovery, recoveryText (c.others)));
        SystemSoundsGuard guard;
        guard.setMuted (true);
        guard.start (recovery);
        ASSERT_TRUE (guard.waitForFirstPass (capMs));
        // A loaded server may show a mute only after the first pass read it back: a later pass counts it.
        if (c.muted)
        {
            EXPECT_TRUE (waitUntil ([&] { return guard.status().mutedSessions == 1 && entryMuted(); }, capMs));
        }

        EXPECT_EQ (guard.status().mutedSessions, c.muted ? 1 : 0);
        EXPECT_EQ (guard.status().error, c.error);
        EXPECT_EQ (entryMuted(), c.muted);
        const auto onDisk = records();
        ASSERT_TRUE (onDisk.has_value());
        EXPECT_EQ (onDisk->size(), static_cast<size_t> (c.others + (c.muted ? 1 : 0)));

        // The other sessions were never seen, so their records stay for a later run.
        guard.stop();
        EXPECT_TRUE (waitUntil ([&] { return ! entryMuted(); }, capMs));
        EXPECT_EQ (guard.status().error, keptForNextRunText());
        EXPECT_EQ (records(), recordsIn (recoveryText (c.others)));
    }
}

TEST_P (SystemSoundsGuardTest, ARefusedRecoveryFileStopsAllControlAndStaysAsItIs)
{
    const std::string tooLarge = "{\"schema\": 1, \"sessions\": [" + std::string (1048576, ' ') + "]}";
    const struct
    {
        const char* what;
        std::string bytes;
    } cases[] = {
        { "another schema", "{\"schema\": 2, \"sessions\": []}" },
        { "schema as text", "{\"schema\": \"1\", \"sessions\": []}" },
        { "no schema", "{\"sessions\": []}" },
        { "not JSON", "{\"schema\": 1, \"sessions\": [" },
        { "damaged bytes", "{\"schema\": 1, \"sessions\": [{\"id\": \"a\xff\", \"muted\": true}]}" },
        { "sessions not an array", "{\"schema\": 1, \"sessions\": {}}" },
        { "257 sessions", recoveryText (SystemSoundsGuard::maxRecords + 1) },
        { "empty id", "{\"schema\": 1, \"sessions\": [{\"id\": \"\", \"muted\": true}]}" },
        { "id not text", "{\"schema\": 1, \"sessions\": [{\"id\": 7, \"muted\": true}]}" },
        { "muted not a bool", "{\"schema\": 1, \"sessions\": [{\"id\": \"a\", \"muted\": \"yes\"}]}" },
        { "entry not an object", "{\"schema\": 1, \"sessions\": [1]}" },
        { "a good entry, then a bad one", "{\"schema\": 1, \"sessions\": [{\"id\": \"a\", \"muted\": true}, {\"id\": \"b\"}]}" },
        { "larger than 1 MiB", tooLarge },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ASSERT_TRUE (writeBytes (recovery, c.bytes));
        SystemSoundsGuard guard;
        guard.setMuted (true);
        guard.start (recovery);
        ASSERT_TRUE (guard.waitForFirstPass (capMs));

        const auto status = guard.status();
        EXPECT_TRUE (status.running);
        EXPECT_FALSE (status.ready);
        EXPECT_EQ (status.mutedSessions, 0);
        EXPECT_EQ (status.error, cannotStartText());
        EXPECT_FALSE (entryMuted());

        guard.stop();
        EXPECT_TRUE (readBytes (recovery) == c.bytes) << "the file changed";
    }
}

INSTANTIATE_TEST_SUITE_P (Servers, SystemSoundsGuardTest, ::testing::Values ("PulseAudio", "PipeWire"),
                          [] (const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST (SystemSoundsGuardWithoutServer, NoReachableServerIsNotReadyAndClaimsNothing)
{
    TempFolder temp ("system-sounds-none");
    const bool daemon = PulseTestServer::installed();
    PulseTestServer withoutStreamRestore (temp / "pulse", false);

    for (const bool serverRuns : { false, true })
    {
        SCOPED_TRACE (serverRuns ? "a server without stored stream entries" : "no server");

        if (serverRuns && ! daemon)
            GTEST_SKIP() << skipReason;

        if (serverRuns)
            ASSERT_TRUE (withoutStreamRestore.start());
        else
            vantrel::platform::setEnvironmentVariable ("PULSE_SERVER", "unix:" + (temp / "no-socket").getFullPathName().toStdString());

        SystemSoundsGuard guard;
        guard.setMuted (true);
        guard.start (temp / "local/system-sounds-recovery.json");
        ASSERT_TRUE (guard.waitForFirstPass (capMs));

        const auto status = guard.status();
        EXPECT_TRUE (status.running);
        EXPECT_FALSE (status.ready);
        EXPECT_EQ (status.mutedSessions, 0);
        EXPECT_EQ (status.error, "");
        guard.stop();
        EXPECT_FALSE (guard.status().running);
    }
}
} // namespace
