// Gains and EQs of rows, playlist buses and MASTER: live values while a control is dragged, one
// history step per drag or per single change; the master gain and the limiter of the output stage.
// Each operation guards the change; the mix part and the history do the work.
#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "session/CatalogValidation.h"

#include <utility>

namespace vantrel
{
bool SessionCoordinator::canEditEq (const std::string& target) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (quit.isQuitting() || store.recoveryRequired.load() || mix.eq (target) == nullptr)
        return false;
    switch (MixEdits::targetKind (target))
    {
        case MixEdits::Target::master:
            return ! isLocked (LockScope::masterEq);
        case MixEdits::Target::playlist:
            return true;
        case MixEdits::Target::row:
            break;
    }
    return ! isLocked (LockScope::trackGainEq);
}

EqSettings* SessionCoordinator::eqForTarget (const std::string& target)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // The pointer lets the caller change the working document: it counts as a live change.
    return mix.eqForLiveChange (target);
}

const EqSettings* SessionCoordinator::eqForTarget (const std::string& target) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return mix.eq (target);
}

juce::String SessionCoordinator::eqTitle (const std::string& target) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return mix.title (target);
}

void SessionCoordinator::beginEqEdit()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load())
        return;
    mix.beginDrag();
}

void SessionCoordinator::setLiveEq (const std::string& target, const EqSettings& eq)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! canEditEq (target) || ! eq.isValid())
        return;
    mix.setLiveEq (target, eq);
}

void SessionCoordinator::setLiveRowGain (const std::string& rowId, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! canEditEq (rowId))
        return;
    mix.setLiveRowGain (rowId, gainDb);
}

void SessionCoordinator::setLivePlaylistGain (const std::string& playlistId, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (quit.isQuitting() || store.recoveryRequired.load())
        return;
    mix.setLivePlaylistGain (playlistId, gainDb);
}

bool SessionCoordinator::commitEqEdit()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = mix.endDrag();
    if (! candidate.has_value())
        return false;
    const bool committed = commitMixEdit (std::move (*candidate));
    if (! committed)
        applyEqs();   // the engine plays the restored values again
    return committed;
}

bool SessionCoordinator::commitEq (const std::string& target, const EqSettings& eq)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! canEditEq (target) || ! eq.isValid())
        return false;
    auto candidate = history.current();
    MixEdits::putEq (candidate, target, eq);   // canEditEq found the target
    return commitMixEdit (std::move (candidate));
}

bool SessionCoordinator::commitRowGain (const std::string& rowId, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! canEditEq (rowId))
        return false;
    auto candidate = history.current();
    auto* row = findRowById (candidate, rowId);
    if (row == nullptr)
        return false;
    row->gainDb = clampGainDb (gainDb);
    return commitMixEdit (std::move (candidate));
}

bool SessionCoordinator::commitPlaylistGain (const std::string& playlistId, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (quit.isQuitting() || store.recoveryRequired.load())
        return false;
    auto candidate = history.current();
    for (auto& playlist : candidate.playlists)
    {
        if (playlist.id == playlistId)
        {
            playlist.gainDb = clampGainDb (gainDb);
            return commitMixEdit (std::move (candidate));
        }
    }
    return false;
}

bool SessionCoordinator::commitMixEdit (CatalogDocument candidate)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (candidate == history.current())
        return true;
    if (! history.commit (std::move (candidate), editGuard()))
        return false;
    // Media, READY and the cue stay as they are: only values changed.
    applyEqs();
    persist();
    return true;
}

void SessionCoordinator::applyEqs()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    mix.pushToEngine();
}

void SessionCoordinator::setMasterGain (float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (isLocked (LockScope::masterGain))
        return;
    masterLevels.setMasterGain (gainDb);
}

void SessionCoordinator::setLimiterParameter (int which, float value)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (isLocked (LockScope::limiter))
        return;
    masterLevels.setLimiterParameter (which, value);
}

void SessionCoordinator::setLimiterEnabled (bool on)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (isLocked (LockScope::limiter) || store.recoveryRequired.load())
        return;
    masterLevels.setLimiterEnabled (on);
    state.limiterEnabled = on;
    persist();
}

bool SessionCoordinator::copyEq (const std::string& target)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return mix.copyEq (target);
}

bool SessionCoordinator::pasteEq (const std::string& target)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto pasted = mix.clipboardFor (target);
    if (! pasted.has_value() || ! canEditEq (target))
        return false;
    return commitEq (target, *pasted);
}

bool SessionCoordinator::popAnalyzerFrame (orvane::audio::AnalyzerFrame& frame)
{
    return audio.popAnalyzerFrame (frame);
}

} // namespace vantrel
