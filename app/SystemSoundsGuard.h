#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace vantrel
{
namespace platform
{
class SystemSoundSessions;
struct SystemSoundSession;
} // namespace platform

/** What the system-sound muter's worker last did. */
struct SystemSoundsStatus
{
    bool running = false;     // from start until the worker's last step
    bool ready = false;       // the last pass could enumerate the devices (reach the sound server)
    int mutedSessions = 0;    // system-sounds sessions muted by the last pass
    juce::String error;       // the last problem, empty when none; as stored (Japanese), translated where shown
};

/** The recovery records: session key -> the session's mute state before the program muted it. */
using SystemSoundsRecord = std::map<juce::String, bool>;

/** Keeps the system-sounds session of the sound server muted while muting is wanted, and gives
    it back its own mute state when muting is turned off or the worker stops. The original states
    are on disk ("system-sounds-recovery.json") before anything is muted, so that a later run
    restores what a crashed run left muted. A worker thread of its own makes one pass per second.

    The program uses instance(); tests make guards of their own. start, setMuted, status,
    waitForFirstPass and stop are called from one thread (the message thread), never from the
    worker. */
class SystemSoundsGuard
{
public:
    static constexpr int maxRecords = 256;
    static constexpr int64_t maxRecoveryFileBytes = 1048576;

    /** The process's guard, created at first use, destroyed at process exit. */
    static SystemSoundsGuard& instance();

    SystemSoundsGuard() = default;

    /** Stops a worker that still runs (restoring the sessions it saw). */
    ~SystemSoundsGuard();

    SystemSoundsGuard (const SystemSoundsGuard&) = delete;
    SystemSoundsGuard& operator= (const SystemSoundsGuard&) = delete;

    /** Stops a previous worker (as stop does), resets the status and starts a worker over
        `recoveryFile` (the profile's local folder + "system-sounds-recovery.json"). */
    void start (const juce::File& recoveryFile);

    /** The state the worker establishes from its next pass on (at most a second later). Any
        thread. */
    void setMuted (bool muted);

    /** A copy of the status. */
    SystemSoundsStatus status() const;

    /** Waits until the worker of the last start finished its first pass (its status then tells
        what it found); false when that did not happen within timeoutMs. */
    bool waitForFirstPass (int timeoutMs) const;

    /** Asks the worker to end and joins it; the worker first restores every session it saw. Call
        before the process exits (the application does so at shutdown). */
    void stop();

private:
    void run();
    bool applyPass (platform::SystemSoundSessions& sessions, int& mutedCount);
    void applySession (platform::SystemSoundSessions& sessions, const platform::SystemSoundSession& session, int& mutedCount);
    void restoreSeenSessions (platform::SystemSoundSessions& sessions);
    bool loadRecovery();
    bool saveRecovery() const;
    void setError (const juce::String& text);

    mutable std::mutex mutex;
    mutable std::condition_variable condition;
    bool stopRequested = false;
    bool passDone = false;
    std::atomic<bool> wantMuted { true };
    std::thread worker;
    SystemSoundsStatus state;
    juce::File recoveryFile;   // set by start before the worker starts

    // The worker's alone.
    SystemSoundsRecord records;
    std::set<juce::String> seenSessions;   // the sessions this run saw, restored when it ends
    bool muteFailed = false;               // a session of the current pass could not be muted
};
} // namespace vantrel
