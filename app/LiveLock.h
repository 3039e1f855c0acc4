#pragma once

#include "session/EditGuard.h"
#include "session/Preferences.h"

#include <optional>
#include <string>

namespace vantrel
{
/** The LIVE LOCK switch and what it protects: a scope is locked while the switch is on and the
    preferences' lock scope names it. The coordinator owns it and reaches it from its operations;
    GO, the pads and the transport never ask it. Message thread only. */
class LiveLock
{
public:
    explicit LiveLock (const Preferences& preferences) noexcept : preferences (preferences) {}

    LiveLock (const LiveLock&) = delete;
    LiveLock& operator= (const LiveLock&) = delete;

    bool isOn() const noexcept  { return on; }
    /** Switches LIVE LOCK; returns the new state. */
    bool toggle() noexcept  { return on = ! on; }
    /** LIVE LOCK is on and protects this scope. */
    bool isLocked (LockScope scope) const  { return on && preferences.isLocked (scope); }

    /** The guard that the undo history applies to a change: `readOnly` while the data awaits
        recovery, the sounding rows (MAIN first, then OUTGOING), and the scopes LIVE LOCK holds. */
    EditGuard editGuard (bool readOnly, const std::optional<std::string>& main,
                         const std::optional<std::string>& outgoing) const;

private:
    const Preferences& preferences;
    bool on = false;
};
} // namespace vantrel
