#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "session/UiText.h"

namespace vantrel
{
bool SessionCoordinator::isLocked (LockScope scope) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return liveLock.isLocked (scope);
}

EditGuard SessionCoordinator::editGuard() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return liveLock.editGuard (store.recoveryRequired.load(), playback.cue().main, playback.cue().outgoing);
}

void SessionCoordinator::toggleLiveLock()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // A drag in progress becomes one history step before the lock can refuse it.
    if (mix.isDragging())
        commitEqEdit();
    const bool on = liveLock.toggle();
    if (on && preferences.current().isLocked (LockScope::vst))
        audio.rack().closeEditors();
    setStatus (on ? translate ("LIVE LOCK ON") : translate ("LIVE LOCK OFF"));
}
} // namespace vantrel
