#include "app/LiveLock.h"

namespace vantrel
{
EditGuard LiveLock::editGuard (bool readOnly, const std::optional<std::string>& main,
                               const std::optional<std::string>& outgoing) const
{
    EditGuard guard;
    guard.readOnly = readOnly;
    if (main.has_value())
        guard.soundingIds.push_back (*main);
    if (outgoing.has_value())
        guard.soundingIds.push_back (*outgoing);
    guard.lockEdits = isLocked (LockScope::playlistEditing);
    guard.lockTrackGainEq = isLocked (LockScope::trackGainEq);
    guard.lockMasterEq = isLocked (LockScope::masterEq);
    return guard;
}
} // namespace vantrel
