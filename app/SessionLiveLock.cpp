#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "session/UiText.h"

namespace vantrel
{
bool SessionCoordinator::isLocked (LockScope scope) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return liveLock && preferences.isLocked (scope);
}

EditGuard SessionCoordinator::editGuard() const
{
    EditGuard guard;
    guard.readOnly = store.recoveryRequired.load();
    if (cue.main.has_value())
        guard.soundingIds.push_back (*cue.main);
    if (cue.outgoing.has_value())
        guard.soundingIds.push_back (*cue.outgoing);
    guard.lockEdits = isLocked (LockScope::playlistEditing);
    guard.lockTrackGainEq = isLocked (LockScope::trackGainEq);
    guard.lockMasterEq = isLocked (LockScope::masterEq);
    return guard;
}

void SessionCoordinator::toggleLiveLock()
{
    // A drag in progress becomes one history step before the lock can refuse it.
    if (eqEditBefore.has_value())
        commitEqEdit();
    liveLock = ! liveLock;
    if (liveLock && preferences.isLocked (LockScope::vst))
        audio.rack().closeEditors();
    setStatus (liveLock ? translate ("LIVE LOCK ON") : translate ("LIVE LOCK OFF"));
}
} // namespace vantrel
