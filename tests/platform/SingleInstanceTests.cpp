#include "platform/SingleInstance.h"

#include "support/ForkedCall.h"
#include "support/ForkedProcess.h"
#include "support/TestFiles.h"
#include "support/UnixSocketClient.h"
#include "support/UserSwitch.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace
{
using namespace vantrel::platform;
namespace fs = std::filesystem;
using vantrel::testing::TempFolder;

constexpr int capMs = 60'000;

/** Counts the raise requests of a running copy and keeps its log lines. */
class Recorder
{
public:
    SingleInstance::RaiseCallback callback()
    {
        return [this] { std::lock_guard<std::mutex> lock (mutex); ++raises; changed.notify_all(); };
    }

    SingleInstance::LogFunction log()
    {
        return [this] (const std::string& line) { std::lock_guard<std::mutex> lock (mutex); lines += line + "\n"; };
    }

    /** Waits (capped) until exactly `count` raises arrived; false when fewer or more came. */
    bool waitForRaises (int count)
    {
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait_for (lock, std::chrono::milliseconds (capMs), [&] { return raises >= count; });
        return raises == count;
    }

    std::string logText()
    {
        std::lock_guard<std::mutex> lock (mutex);
        return lines;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    int raises = 0;
    std::string lines;
};

std::string pathOf (const TempFolder& temp, const char* relative)
{
    return (temp / relative).getFullPathName().toStdString();
}

/** Every entry below `root` with its type, permissions, size and modification time in ns. */
std::map<std::string, std::string> snapshot (const std::string& root)
{
    std::map<std::string, std::string> entries;
    auto describe = [&] (const fs::path& path)
    {
        std::error_code error;
        const auto status = fs::symlink_status (path, error);
        auto text = std::to_string (static_cast<int> (status.type())) + " " + std::to_string (static_cast<int> (status.permissions()));

        if (status.type() == fs::file_type::regular)
            text += " " + std::to_string (fs::file_size (path, error));

        if (status.type() != fs::file_type::symlink)
            text += " " + std::to_string (fs::last_write_time (path, error).time_since_epoch().count());

        entries[path.string()] = text;
    };

    describe (root);
    std::error_code error;

    for (fs::recursive_directory_iterator it (root, error), end; it != end; it.increment (error))
        describe (it->path());

    return entries;
}

/** A second start of the program in another process: it must find the instance busy and reach
    the running copy. The child's output tells what it saw. */
ForkedCallResult secondStart (const std::string& folder)
{
    return runInForkedChild ([&] (std::string& output)
    {
        SingleInstance second ({});
        const auto acquired = second.acquire (folder);

        if (acquired.state != InstanceLock::busy)
        {
            output = "not busy: " + acquired.error;
            return 1;
        }

        const auto notified = SingleInstance::notifyRunning (folder, capMs);
        output = notified.delivered() ? "delivered" : "not delivered: " + notified.error;
        return notified.delivered() ? 0 : 2;
    });
}

bool waitForFile (const std::string& path)
{
    return vantrel::testing::waitUntil ([&] { return fs::exists (path); }, std::chrono::milliseconds (capMs),
                                        std::chrono::milliseconds (10));
}
} // namespace

TEST (SingleInstance, SecondStartInAnotherProcessRaisesTheFirstAndTouchesNoFile)
{
    TempFolder temp ("instance");
    const auto folder = pathOf (temp, "profile/local/instance");
    Recorder recorder;
    SingleInstance first (recorder.callback(), recorder.log());

    ASSERT_EQ (first.acquire (folder).state, InstanceLock::acquired);
    EXPECT_EQ (fs::status (folder).permissions() & fs::perms::mask, fs::perms::owner_all);
    EXPECT_EQ (fs::status (folder + "/Vantrel.socket").type(), fs::file_type::socket);

    SingleInstance sameProcess ({});
    EXPECT_EQ (sameProcess.acquire (folder).state, InstanceLock::busy);

    const auto before = snapshot (temp.path().getFullPathName().toStdString());
    const auto second = secondStart (folder);
    EXPECT_TRUE (second.exited && second.exitCode == 0) << second.output;
    EXPECT_TRUE (recorder.waitForRaises (1));
    EXPECT_EQ (snapshot (temp.path().getFullPathName().toStdString()), before);

    // Release removes the socket and frees the lock; the lock file stays for the next start.
    first.release();
    EXPECT_FALSE (fs::exists (fs::symlink_status (folder + "/Vantrel.socket")));
    EXPECT_TRUE (fs::is_regular_file (folder + "/Vantrel.lock"));
    EXPECT_EQ (SingleInstance::notifyRunning (folder, 100).outcome, RaiseDelivery::noListener);
    EXPECT_EQ (sameProcess.acquire (folder).state, InstanceLock::acquired);
}

TEST (SingleInstance, CrashedHolderFreesTheLockAndItsStaleSocketIsReplaced)
{
    TempFolder temp ("instance-crash");
    const auto folder = pathOf (temp, "instance");
    const auto marker = pathOf (temp, "holder-ready");
    ForkedProcess holder;

    ASSERT_TRUE (holder.start ([&]
    {
        SingleInstance crashing ({});

        if (crashing.acquire (folder).state != InstanceLock::acquired)
            return 1;

        std::ofstream (marker) << "held";

        for (;;)
            std::this_thread::sleep_for (std::chrono::seconds (1));
    }));

    ASSERT_TRUE (waitForFile (marker));
    SingleInstance next ({});
    EXPECT_EQ (next.acquire (folder).state, InstanceLock::busy);
    EXPECT_TRUE (SingleInstance::notifyRunning (folder, capMs).delivered());

    ASSERT_TRUE (holder.kill());
    EXPECT_EQ (holder.wait().signal, SIGKILL);
    ASSERT_EQ (fs::status (folder + "/Vantrel.socket").type(), fs::file_type::socket);   // left by the crash

    Recorder recorder;
    SingleInstance restarted (recorder.callback());
    ASSERT_EQ (restarted.acquire (folder).state, InstanceLock::acquired);
    const auto second = secondStart (folder);
    EXPECT_TRUE (second.exited && second.exitCode == 0) << second.output;
    EXPECT_TRUE (recorder.waitForRaises (1));
}

TEST (SingleInstance, AnotherUserCannotReachOrRaiseTheRunningCopy)
{
    const auto nobody = lookUpUser ("nobody");

    if (! runningAsRoot() || ! nobody.found)
        GTEST_SKIP() << "needs root and the user nobody to run a client as another user";

    TempFolder temp ("instance-foreign");
    fs::permissions (temp.path().getFullPathName().toStdString(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);

    for (auto parent = fs::path (temp.path().getFullPathName().toStdString()).parent_path(); parent != parent.root_path(); parent = parent.parent_path())
        if ((fs::status (parent).permissions() & fs::perms::others_exec) == fs::perms::none)
            GTEST_SKIP() << parent << " cannot be entered by other users";

    const auto folder = pathOf (temp, "instance");
    const auto socketPath = folder + "/Vantrel.socket";
    Recorder recorder;
    SingleInstance first (recorder.callback(), recorder.log());
    ASSERT_EQ (first.acquire (folder).state, InstanceLock::acquired);

    const auto asNobody = [&] (const std::function<std::string()>& body)
    {
        return runInForkedChild ([&] (std::string& output)
        {
            if (! becomeUser (nobody))
                return 3;

            output = body();
            return 0;
        });
    };

    // The private folder keeps another user out before any socket is reached.
    const auto blocked = asNobody ([&]
    {
        UnixSocketClient client;
        return std::to_string (client.connectTo (socketPath)) + " "
             + (SingleInstance::notifyRunning (folder, 100).delivered() ? "delivered" : "not delivered");
    });
    EXPECT_EQ (blocked.output, std::to_string (EACCES) + " not delivered");

    // Opened up for this test only: the listener itself refuses the foreign peer.
    fs::permissions (folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions (socketPath, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    const auto refused = asNobody ([&]
    {
        UnixSocketClient client;
        const auto code = client.connectTo (socketPath);
        client.send (SingleInstance::raiseMessage);
        const auto reply = client.readUntilClosed (capMs);
        return std::to_string (code) + (reply.closed ? " closed" : " open") + " [" + reply.bytes + "]";
    });
    EXPECT_EQ (refused.output, "0 closed []");
    EXPECT_NE (recorder.logText().find ("refused a connection from user " + std::to_string (nobody.uid)), std::string::npos);

    fs::permissions (folder, fs::perms::owner_all);
    const auto second = secondStart (folder);
    EXPECT_TRUE (second.exited && second.exitCode == 0) << second.output;
    EXPECT_TRUE (recorder.waitForRaises (1));   // the foreign requests raised nothing
}

TEST (SingleInstance, ListenerIgnoresBadClientsAndKeepsServing)
{
    enum class Then { close, halfClose, stayOpen };
    const struct { const char* name; std::string bytes; Then then; } clients[] = {
        { "garbage line", "hello\n", Then::close },
        { "wrong case", "vantrel!/raise\n", Then::close },
        { "request with bytes after it", std::string (SingleInstance::raiseMessage) + "X", Then::close },
        { "request without its newline, then half-closed", "Vantrel!/raise", Then::halfClose },
        { "nothing, then half-closed", "", Then::halfClose },
        { "1 MB without a newline", std::string (1 << 20, 'x'), Then::close },
        { "silent client", "", Then::stayOpen },
    };

    TempFolder temp ("instance-bad");
    const auto folder = pathOf (temp, "instance");
    Recorder recorder;
    SingleInstance first (recorder.callback(), recorder.log());
    ASSERT_EQ (first.acquire (folder).state, InstanceLock::acquired);
    int raises = 0;

    for (const auto& row : clients)
    {
        SCOPED_TRACE (row.name);
        UnixSocketClient client;
        ASSERT_EQ (client.connectTo (folder + "/Vantrel.socket"), 0);
        client.send (row.bytes);

        if (row.then == Then::halfClose)
            client.shutdownWriting();

        if (row.then == Then::stayOpen)   // served while the silent client still holds its connection
        {
            EXPECT_TRUE (SingleInstance::notifyRunning (folder, capMs).delivered());
            EXPECT_TRUE (recorder.waitForRaises (++raises));
        }

        const auto reply = client.readUntilClosed (capMs);
        EXPECT_TRUE (reply.closed);
        EXPECT_EQ (reply.bytes, "");   // no acknowledgement for anything but the request
        EXPECT_TRUE (SingleInstance::notifyRunning (folder, capMs).delivered());
        EXPECT_TRUE (recorder.waitForRaises (++raises));
    }

    // A flood of connections that never finish a message: the oldest give way to new ones.
    std::vector<std::unique_ptr<UnixSocketClient>> flood;

    for (int i = 0; i < 5 * SingleInstance::maxPendingConnections; ++i)
    {
        flood.push_back (std::make_unique<UnixSocketClient>());
        ASSERT_EQ (flood.back()->connectTo (folder + "/Vantrel.socket"), 0);
        flood.back()->send ("Vantrel!");
    }

    EXPECT_TRUE (SingleInstance::notifyRunning (folder, capMs).delivered());
    EXPECT_TRUE (recorder.waitForRaises (++raises));

    for (auto& client : flood)
        EXPECT_TRUE (client->readUntilClosed (capMs).closed);

    const auto log = recorder.logText();
    EXPECT_NE (log.find ("too many connections at once"), std::string::npos);
    EXPECT_NE (log.find ("longer than 64 bytes"), std::string::npos);
    EXPECT_NE (log.find ("no complete message within"), std::string::npos);
}

TEST (SingleInstance, UnsafeFoldersAreRefusedAndLeftAlone)
{
    TempFolder temp ("instance-unsafe");
    const auto root = temp.path().getFullPathName().toStdString();
    const auto privateFolder = pathOf (temp, "private");
    fs::create_directory (privateFolder);
    fs::permissions (privateFolder, fs::perms::owner_all);

    const struct { const char* name; std::function<void (const std::string&)> make; const char* reason; bool needsRoot; } rows[] = {
        { "group-writable", [] (const std::string& p) { fs::create_directory (p); fs::permissions (p, fs::perms::owner_all | fs::perms::group_all); }, "open to its group or others", false },
        { "readable by others", [] (const std::string& p) { fs::create_directory (p); fs::permissions (p, fs::perms::owner_all | fs::perms::others_read); }, "open to its group or others", false },
        { "symbolic link", [&] (const std::string& p) { fs::create_directory_symlink (privateFolder, p); }, "symbolic link", false },
        { "regular file", [] (const std::string& p) { std::ofstream (p) << "x"; }, "not a folder", false },
        { "another user's", [] (const std::string& p)
          {
              fs::create_directory (p);
              fs::permissions (p, fs::perms::owner_all);
              ASSERT_TRUE (changeOwner (p, lookUpUser ("nobody")));
          }, "belongs to user", true },
        { "relative path", [] (const std::string&) {}, "not an absolute path", false },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);

        if (row.needsRoot && ! runningAsRoot())
            continue;   // only root can give a folder to another user

        const auto folder = std::string (row.name) == "relative path" ? std::string ("instance") : root + "/" + row.name;
        row.make (folder);
        const auto before = snapshot (root);

        SingleInstance instance ({});
        const auto acquired = instance.acquire (folder);
        EXPECT_EQ (acquired.state, InstanceLock::failed);
        EXPECT_NE (acquired.error.find (row.reason), std::string::npos) << acquired.error;
        EXPECT_EQ (SingleInstance::notifyRunning (folder, 100).outcome, RaiseDelivery::failed);
        EXPECT_EQ (snapshot (root), before);
    }

    EXPECT_FALSE (fs::exists (fs::current_path() / "instance"));
}

TEST (SingleInstance, FolderPathLongerThanASocketAddressStillWorks)
{
    TempFolder temp ("instance-long");
    const auto folder = pathOf (temp, "a-rather-long-profile-folder-name/and-another-long-sub-folder/local/instance");
    ASSERT_GT (folder.size() + std::string ("/Vantrel.socket").size(), 108u);

    Recorder recorder;
    SingleInstance first (recorder.callback());
    const auto acquired = first.acquire (folder);
    ASSERT_EQ (acquired.state, InstanceLock::acquired) << acquired.error;
    const auto second = secondStart (folder);
    EXPECT_TRUE (second.exited && second.exitCode == 0) << second.output;
    EXPECT_TRUE (recorder.waitForRaises (1));
}
