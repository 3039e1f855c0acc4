#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace orvane::vsthost
{
class PluginBackend;

/** What LIVE_STATUS reports, shared by the UI thread (writer) and the protocol thread (reader).
    `mutex` guards every field but pendingEditorRequests, which is changed atomically. */
struct LiveStatus
{
    std::mutex mutex;
    bool editorOpen = false;
    std::uint64_t changeCount = 0;
    std::uint32_t latencySamples = 0;
    std::atomic<std::int32_t> pendingEditorRequests { 0 };
    std::string lastEditorError;
    bool reloadRequested = false;
};

/** UI thread. Copies the backend's editor flag, change count, latency and reload request into the record; with
    no backend the record stays as it is. The backend is asked before the mutex is taken, so no
    backend lock is ever taken under it. */
void updateLiveStatus (LiveStatus& status, PluginBackend* backend);
} // namespace orvane::vsthost
