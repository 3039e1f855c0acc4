#include "app/SystemSoundsGuard.h"

#include "platform/SystemSoundSessions.h"
#include "session/AtomicFileWriter.h"
#include "platform/ThreadName.h"

#include <chrono>
#include <vector>

namespace vantrel
{
namespace
{
// The stored texts (Japanese; the dialogs show them through the text table).
juce::String cannotStartText()        { return juce::String::fromUTF8 ("システム音の制御を開始できません。復元記録を保持しています。"); }
juce::String keptForNextRunText()     { return juce::String::fromUTF8 ("未復元のシステム音設定を次回起動用に保持しています。"); }
juce::String cannotSaveOriginalText() { return juce::String::fromUTF8 ("元のシステム音設定を保存できないため、ミュートを変更しません。"); }
juce::String cannotMuteText()         { return juce::String::fromUTF8 ("一部のシステム音をミュートできません。"); }
const char* const cannotRestoreText = "Cannot restore system sound mute; recovery record retained";
const char* const cannotSaveRestoredText = "Cannot save restored system sound state";
const char* const capacityExceededText = "System-sound recovery capacity exceeded";

bool isNumber (const juce::var& value)
{
    return value.isInt() || value.isInt64() || value.isDouble();
}
} // namespace

SystemSoundsGuard& SystemSoundsGuard::instance()
{
    static SystemSoundsGuard guard;
    return guard;
}

SystemSoundsGuard::~SystemSoundsGuard()
{
    stop();
}

void SystemSoundsGuard::start (const juce::File& file)
{
    stop();
    {
        const std::lock_guard<std::mutex> lock (mutex);
        stopRequested = false;
        passDone = false;
        state = {};
        state.running = true;
        recoveryFile = file;
    }
    worker = std::thread ([this] { platform::nameCurrentThread ("system sounds"); run(); });
}

void SystemSoundsGuard::setMuted (bool muted)
{
    wantMuted.exchange (muted);
    condition.notify_all();
}

SystemSoundsStatus SystemSoundsGuard::status() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return state;
}

bool SystemSoundsGuard::waitForFirstPass (int timeoutMs) const
{
    std::unique_lock<std::mutex> lock (mutex);
    return condition.wait_for (lock, std::chrono::milliseconds (timeoutMs), [this] { return passDone; });
}

void SystemSoundsGuard::stop()
{
    jassert (std::this_thread::get_id() != worker.get_id());
    {
        const std::lock_guard<std::mutex> lock (mutex);
        stopRequested = true;
    }
    condition.notify_all();

    if (worker.joinable())
        worker.join();
}

void SystemSoundsGuard::setError (const juce::String& text)
{
    const std::lock_guard<std::mutex> lock (mutex);
    state.error = text;
}

void SystemSoundsGuard::run()
{
    seenSessions.clear();
    records.clear();
    {
        // The client (and the connection it opens) lives for this run only.
        platform::SystemSoundSessions sessions;
        const bool passesAllowed = sessions.isValid() && loadRecovery();

        if (! passesAllowed)
            setError (cannotStartText());   // the recovery file is left as it is

        for (;;)
        {
            int mutedCount = 0;
            muteFailed = false;
            const bool enumerated = passesAllowed && applyPass (sessions, mutedCount);
            {
                const std::lock_guard<std::mutex> lock (mutex);
                // A mute that a slow server showed too late is done by a later pass: its error
                // would otherwise stay on the status line while every session is muted.
                if (enumerated && ! muteFailed && state.error == cannotMuteText())
                    state.error.clear();
                state.ready = enumerated;
                state.mutedSessions = mutedCount;
                passDone = true;
            }
            condition.notify_all();

            std::unique_lock<std::mutex> lock (mutex);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (1);
            condition.wait_until (lock, deadline, [this] { return stopRequested; });

            if (stopRequested)
                break;
        }

        if (passesAllowed)
            restoreSeenSessions (sessions);
    }
    seenSessions.clear();
    const std::lock_guard<std::mutex> lock (mutex);
    state.running = false;
}

bool SystemSoundsGuard::applyPass (platform::SystemSoundSessions& sessions, int& mutedCount)
{
    std::vector<platform::SystemSoundSession> found;

    if (! sessions.enumerate (found))
        return false;

    for (const auto& session : found)
        applySession (sessions, session, mutedCount);

    return true;
}

void SystemSoundsGuard::applySession (platform::SystemSoundSessions& sessions,
                                      const platform::SystemSoundSession& session, int& mutedCount)
{
    const auto key = juce::String::fromUTF8 (session.key.c_str());
    seenSessions.insert (key);
    const auto record = records.find (key);

    if (! wantMuted.load())
    {
        if (record == records.end())
            return;

        if (! sessions.setMute (session.key, record->second))
        {
            setError (cannotRestoreText);
            return;
        }

        records.erase (record);

        if (! saveRecovery())
            setError (cannotSaveRestoredText);

        return;
    }

    // A session that already has a record keeps its original (after a crash, the state from
    // before the crashed run). Nothing is muted before its original state is on disk.
    if (record == records.end())
    {
        if (static_cast<int> (records.size()) >= maxRecords)
        {
            setError (capacityExceededText);
            return;
        }

        records[key] = session.muted;

        if (! saveRecovery())
        {
            records.erase (key);
            setError (cannotSaveOriginalText());
            return;
        }
    }

    bool muted = false;

    if (sessions.setMute (session.key, true) && sessions.getMute (session.key, muted) && muted)
        ++mutedCount;
    else
    {
        muteFailed = true;
        setError (cannotMuteText());
    }
}

void SystemSoundsGuard::restoreSeenSessions (platform::SystemSoundSessions& sessions)
{
    for (auto record = records.begin(); record != records.end();)
    {
        if (seenSessions.count (record->first) != 0 && sessions.setMute (record->first.toStdString(), record->second))
            record = records.erase (record);
        else
            ++record;
    }

    // Records that could not be restored stay in the file for a later run.
    if (! saveRecovery() || ! records.empty())
        setError (keptForNextRunText());
}

bool SystemSoundsGuard::loadRecovery()
{
    records.clear();

    if (! recoveryFile.exists())
        return true;   // no file: no records

    juce::var root;

    if (! readJsonFile (recoveryFile, root, maxRecoveryFileBytes).ok || root.getDynamicObject() == nullptr)
        return false;

    const auto schema = root.getProperty ("schema", {});
    const auto* list = root.getProperty ("sessions", {}).getArray();

    if (! isNumber (schema) || static_cast<double> (schema) != 1.0 || list == nullptr || list->size() > maxRecords)
        return false;

    SystemSoundsRecord loaded;

    for (const auto& entry : *list)
    {
        const auto id = entry.getProperty ("id", {});
        const auto muted = entry.getProperty ("muted", {});

        if (! id.isString() || id.toString().isEmpty() || ! muted.isBool())
            return false;

        loaded[id.toString()] = static_cast<bool> (muted);   // a repeated id keeps the last value
    }

    records = std::move (loaded);
    return true;
}

bool SystemSoundsGuard::saveRecovery() const
{
    juce::Array<juce::var> list;

    for (const auto& [key, muted] : records)
    {
        auto entry = std::make_unique<juce::DynamicObject>();
        entry->setProperty ("id", key);
        entry->setProperty ("muted", muted);
        list.add (juce::var (entry.release()));
    }

    auto root = std::make_unique<juce::DynamicObject>();
    root->setProperty ("schema", 1);
    root->setProperty ("sessions", list);
    const auto text = juce::JSON::toString (juce::var (root.release())) + "\n";
    return writeFileAtomically (recoveryFile, text, false, maxRecoveryFileBytes).ok;
}
} // namespace vantrel
