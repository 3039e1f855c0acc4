// Gains and EQs of rows, playlist buses and MASTER: live values while a control is dragged, one
// history step per drag or per single change; the master gain and the limiter of the output stage.
#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "session/CatalogValidation.h"

#include <cmath>

namespace vantrel
{
namespace
{
const std::string masterTarget = "@master";
const std::string playlistPrefix = "@playlist:";

/** The playlist id of a "@playlist:" target (possibly empty); nothing for any other target. */
std::optional<std::string> playlistIdOf (const std::string& target)
{
    if (target.size() >= playlistPrefix.size() && target.compare (0, playlistPrefix.size(), playlistPrefix) == 0)
        return target.substr (playlistPrefix.size());
    return std::nullopt;
}

/** The EQ a target names in the document, or null: MASTER EQ, a playlist's bus EQ or a row's EQ. */
template <typename Document>
auto findEq (Document& document, const std::string& target) -> decltype (&document.masterEq)
{
    if (target == masterTarget)
        return &document.masterEq;
    if (const auto id = playlistIdOf (target))
    {
        for (auto& playlist : document.playlists)
            if (playlist.id == *id)
                return &playlist.eq;
        return nullptr;
    }
    auto* row = findRowById (document, target);
    return row != nullptr ? &row->eq : nullptr;
}

juce::String utf8 (const std::string& text)  { return juce::String::fromUTF8 (text.c_str()); }
} // namespace

bool SessionCoordinator::canEditEq (const std::string& target) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (quit.isQuitting() || store.recoveryRequired.load() || findEq (history.current(), target) == nullptr)
        return false;
    if (target == masterTarget)
        return ! isLocked (LockScope::masterEq);
    if (playlistIdOf (target).has_value())
        return true;
    return ! isLocked (LockScope::trackGainEq);
}

EqSettings* SessionCoordinator::eqForTarget (const std::string& target)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // The pointer lets the caller change the working document: it counts as a live change.
    EqSettings* found = nullptr;
    history.changeLiveValues ([&] (CatalogDocument& document) { found = findEq (document, target); });
    return found;
}

const EqSettings* SessionCoordinator::eqForTarget (const std::string& target) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return findEq (history.current(), target);
}

juce::String SessionCoordinator::eqTitle (const std::string& target) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto& document = history.current();
    if (target == masterTarget)
        return "MASTER EQ";
    if (const auto id = playlistIdOf (target))
    {
        for (const auto& playlist : document.playlists)
            if (playlist.id == *id)
                return "PLAYLIST EQ / " + utf8 (playlist.name);
        return {};
    }
    if (const auto* row = findRowById (document, target))
        return "TRACK EQ / " + utf8 (row->title);
    return {};
}

void SessionCoordinator::beginEqEdit()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load() || eqEditBefore.has_value())
        return;
    eqEditBefore = history.current();
}

void SessionCoordinator::setLiveEq (const std::string& target, const EqSettings& eq)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! canEditEq (target) || ! eq.isValid())
        return;
    history.changeLiveValues ([&] (CatalogDocument& document) {
        if (target == masterTarget)
        {
            document.masterEq = eq;
            audio.setMasterEq (eq);
        }
        else if (const auto id = playlistIdOf (target))
        {
            for (auto& playlist : document.playlists)
            {
                if (playlist.id != *id)
                    continue;
                playlist.eq = eq;
                if (playlist.id == document.current)
                    audio.setPlaylistEq (eq, playlist.gainDb);
            }
        }
        else if (auto* row = findRowById (document, target))
        {
            row->eq = eq;
            audio.setMediaEq (target, eq);
        }
    });
}

void SessionCoordinator::setLiveRowGain (const std::string& rowId, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! canEditEq (rowId) || findRowById (history.current(), rowId) == nullptr)
        return;
    history.changeLiveValues ([&] (CatalogDocument& document) {
        auto* row = findRowById (document, rowId);
        row->gainDb = clampGainDb (gainDb);
        audio.setMediaGain (rowId, row->gainDb);
    });
}

void SessionCoordinator::setLivePlaylistGain (const std::string& playlistId, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (quit.isQuitting() || store.recoveryRequired.load())
        return;
    const auto gain = clampGainDb (gainDb);
    history.changeLiveValues ([&] (CatalogDocument& document) {
        for (auto& playlist : document.playlists)
        {
            if (playlist.id != playlistId)
                continue;
            playlist.gainDb = gain;
            if (playlist.id == document.current)
                audio.setPlaylistEq (playlist.eq, gain);
        }
    });
}

bool SessionCoordinator::commitEqEdit()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! eqEditBefore.has_value())
        return false;
    // The step runs from the values before the drag to those at its end.
    auto candidate = history.current();
    history.changeLiveValues ([this] (CatalogDocument& document) { restoreMixValues (document, *eqEditBefore); });
    eqEditBefore.reset();
    const bool committed = commitMixEdit (std::move (candidate));
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
    if (const auto id = playlistIdOf (target))
    {
        for (auto& playlist : candidate.playlists)
            if (playlist.id == *id)
                playlist.eq = eq;
    }
    else
    {
        *findEq (candidate, target) = eq;   // canEditEq found it
    }
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
    // The adapter ignores values equal to those it holds; the rows' values are pushed only when
    // the document changed since the last push (GO pushes first, and a catalog is long).
    const auto& document = history.current();
    if (rowMixPushedAt != history.changeCount())
    {
        for (const auto& playlist : document.playlists)
        {
            for (const auto& row : playlist.rows)
            {
                audio.setMediaGain (row.id, row.gainDb);
                audio.setMediaEq (row.id, row.eq);
            }
        }
        rowMixPushedAt = history.changeCount();
    }
    if (const auto* open = currentPlaylist (document))
        audio.setPlaylistEq (open->eq, open->gainDb);
    else
        audio.setPlaylistEq (EqSettings(), 0.0f);
    audio.setMasterEq (document.masterEq);
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
    const auto* live = std::as_const (*this).eqForTarget (target);
    if (live == nullptr)
        return false;
    eqClipboard = *live;
    return true;
}

bool SessionCoordinator::pasteEq (const std::string& target)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto* live = std::as_const (*this).eqForTarget (target);
    if (! eqClipboard.has_value() || live == nullptr || ! canEditEq (target))
        return false;
    auto pasted = *eqClipboard;
    pasted.enabled = live->enabled;   // the target keeps its own on/off
    return commitEq (target, pasted);
}

bool SessionCoordinator::popAnalyzerFrame (orvane::audio::AnalyzerFrame& frame)
{
    return audio.popAnalyzerFrame (frame);
}

} // namespace vantrel
