// The coordinator's periodic service and the registration of every row and pad asset with the
// adapter.
#include "app/SessionCoordinator.h"

#include "platform/ThreadContract.h"
#include "session/CatalogValidation.h"
#include "session/UiText.h"

#include <cmath>
#include <limits>
#include <utility>

namespace vantrel
{
namespace
{
/** The file signature a row recorded when its file was taken in. */
FileSignature rowSignature (const Row& row)
{
    FileSignature signature;
    const auto maxSize = (std::uint64_t) std::numeric_limits<std::int64_t>::max();
    signature.size = row.bytes > maxSize ? 0 : (std::int64_t) row.bytes;
    signature.modified = juce::Time (row.modified);
    return signature;
}

/** A pad asset is a bare file name of the asset folder: it never leads anywhere else. */
bool isBareAssetName (const std::string& asset)
{
    return ! asset.empty() && asset != "." && asset != ".." && asset.find_first_of ("/\\") == std::string::npos;
}
} // namespace

void SessionCoordinator::whenOutputSettled (std::function<void()> action)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (audio.isConnectingOutput())
        afterOutputSettles.push_back (std::move (action));
    else
        action();
}

void SessionCoordinator::tick()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto& cue = playback.cue();
    if (! afterOutputSettles.empty() && ! audio.isConnectingOutput())
    {
        const auto actions = std::exchange (afterOutputSettles, {});
        for (const auto& action : actions)
            action();
    }
    if (quit.isQuitting())
        return;

    // Device service: a lost (or re-clocked) device pauses the tracks and forgets the pads.
    const bool wasOpen = isOutputOpen();
    if (audio.tick())
    {
        playback.holdForLostOutput();
        setStatus (translate ("出力先が切断されました。安全Pause退避しました"));
    }
    if (! wasOpen && isOutputOpen())
        setStatus (translate ("出力先を復旧しました。再開: ") + preferences.pauseKeyText());

    // The READY media that a refused GO found unprepared is ready now.
    const auto& preparingId = playback.readyPreparingRow();
    if (! preparingId.empty() && cue.ready && *cue.ready == preparingId)
    {
        const auto media = audio.loadedMedia (preparingId);
        if (media != nullptr && media->pcm != nullptr)
        {
            playback.setReadyPreparingRow ({});
            setStatus (translate ("READYの準備ができました"));
        }
    }

    // Ended tracks: an end report counts only for the play token the slot holds now.
    playback.readVoice (1);
    playback.readVoice (0);
    const auto& outgoingStatus = playback.voice (0);
    if (cue.outgoing && outgoingStatus.playToken == cue.outgoingGeneration && outgoingStatus.reachedEnd)
        playback.transport().onOutgoingFinished();

    const auto& mainStatus = playback.voice (1);
    if (cue.main && mainStatus.playToken == cue.mainGeneration && mainStatus.reachedEnd)
    {
        const auto stopAnswer = playback.transport().onMainFinished();
        if (! cue.manualReady && cue.ready)
            cue.setAnchor (cue.ready);
        // AUTO READY off: the READY row follows by itself, on this very tick.
        if (! cue.autoReady && stopAnswer != orvane::audio::SinkAnswer::refused && cue.ready && isOutputOpen())
            startGo();
    }

    // Pads that played to their end.
    const auto activePads = playback.pads().triggers;
    for (const auto& trigger : activePads)
    {
        const auto index = padIndex (trigger.bank, trigger.slot);
        if (! index)
            continue;
        const int voice = *index + 2;
        playback.readVoice (voice);
        const auto& status = playback.voice (voice);
        if (status.playToken == audio.voiceToken (voice) && status.reachedEnd)
            playback.padController().onPadFinished (trigger.bank, trigger.slot);
    }

    // Durations the loader measured: recorded and saved, never an undo step.
    if (durationsCompleteAt != history.changeCount())
    {
        bool durationsChanged = false, allKnown = true;
        for (const auto& playlist : history.current().playlists)
            for (const auto& row : playlist.rows)
            {
                if (row.duration != 0.0)
                    continue;
                const auto media = audio.loadedMedia (row.id);
                const bool measured = media != nullptr && ! media->failed() && std::isfinite (media->duration)
                                   && media->duration > 0.0 && history.setRowDuration (row.id, media->duration);
                durationsChanged = durationsChanged || measured;
                allKnown = allKnown && measured;
            }
        if (durationsChanged && ! store.recoveryRequired.load())
            submitState();
        durationsCompleteAt = allKnown ? std::optional<std::uint64_t> (history.changeCount()) : std::nullopt;
    }
    // After a failed save (a full disk), the newest state again until one succeeds.
    if (saves.retryFailed (state, now()))
        setStatus (translate ("自動保存済み"));
    // A save that had to move an entry aside to go on says which.
    if (const auto notice = store.takeNotice(); notice.isNotEmpty())
        setAlert (notice);

    finishPadCopies();
    finishLibraryCopies();

    // Idle pad voices give their media back.
    for (int bank = 1; bank <= numPadBanks; ++bank)
        for (int pad = 1; pad <= numPadsPerBank; ++pad)
        {
            bool active = false;
            for (const auto& trigger : playback.pads().triggers)
                active = active || (trigger.bank == bank && trigger.slot == pad);
            if (! active)
                audio.releasePad (bank, pad);
        }

    preloadMedia();
    audio.rack().setPlaybackActive (playback.trackSounding() || playback.padsSounding());
    takeInCdImports();
}

void SessionCoordinator::registerMedia (bool analyse)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    applyEqs();

    const auto& document = history.current();
    for (const auto& playlist : document.playlists)
    {
        const auto cacheFolder = waveformCacheFolder (store.root, playlist.id);
        const bool isOpen = playlist.id == document.current;
        for (const auto& row : playlist.rows)
        {
            juce::String cachePath;
            if (cacheFolder != juce::File())
                cachePath = cacheFolder.getChildFile (juce::String (row.id) + "-" + juce::String (row.bytes) + "-"
                                                      + juce::String (row.modified) + "-v2.bin")
                                .getFullPathName();
            audio.registerMedia (row.id, juce::String::fromUTF8 (row.source.c_str()), rowSignature (row), row.gainDb,
                                 cachePath, row.eq);
            // Only the open playlist is measured: the others are decoded when they are opened.
            if (analyse && isOpen && row.duration == 0.0)
                audio.requestPrepare (row.id, false);
        }
    }

    const auto& assets = padAssets.folder();
    for (int bank = 1; bank <= numPadBanks; ++bank)
        for (int pad = 1; pad <= numPadsPerBank; ++pad)
        {
            const auto& slot = state.pads[(size_t) *padIndex (bank, pad)];
            if (! isBareAssetName (slot.asset))
                continue;
            const auto file = assets.getChildFile (juce::String::fromUTF8 (slot.asset.c_str()));
            audio.registerMedia (padMediaKey (bank, pad), file.getFullPathName(), readFileSignature (file), slot.gainDb,
                                 {}, EqSettings {});
        }
}
} // namespace vantrel
