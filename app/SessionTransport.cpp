// The transport operations: READY, GO, PAUSE, the stops, the seek, the modes, keeping media
// prepared, and the read-only views of the lanes, the meters and the EQ window's target.
#include "app/SessionCoordinator.h"

#include "platform/ThreadContract.h"
#include "session/CatalogValidation.h"
#include "session/UiText.h"

#include <algorithm>
#include <cmath>

namespace vantrel
{
using orvane::audio::GoKind;
using orvane::audio::GoResult;
using orvane::audio::SinkAnswer;

namespace
{
bool holdsRow (const Playlist* playlist, const std::string& id)
{
    if (playlist == nullptr)
        return false;
    return std::any_of (playlist->rows.begin(), playlist->rows.end(), [&] (const Row& row) { return row.id == id; });
}

/** A frame position in seconds at the PCM's rate; 0 without PCM or a usable rate. */
double secondsAt (const LoadedMedia* media, std::int64_t frames)
{
    if (media == nullptr || media->pcm == nullptr)
        return 0.0;
    const auto rate = media->pcm->sampleRate;
    if (! std::isfinite (rate) || rate <= 0.0)
        return 0.0;
    return (double) frames / rate;
}
} // namespace

GoResult SessionCoordinator::go()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    return startGo();
}

GoResult SessionCoordinator::startGo()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    applyEqs();
    const auto readyId = playback.cue().ready;
    const auto result = playback.transport().go();
    playback.setReadyPreparingRow ({});

    if (readyId && result.outcome != SinkAnswer::accepted)
    {
        const auto media = audio.loadedMedia (*readyId);
        if (media == nullptr || (media->pcm == nullptr && ! media->failed()))
            playback.setReadyPreparingRow (*readyId);   // the tick tells when it is ready
    }

    if (result.outcome == SinkAnswer::accepted)
    {
        playback.recordGo (result, readyId);
        updateReady();
        preloadMedia();
        setStatus (translate ("GO"));
    }
    else if (! readyId)
        setStatus (translate ("READYなし"));
    else if (result.kind == GoKind::twoSounding)
        setStatus (translate ("2トラック再生中です。3本目は開始できません"));
    else
    {
        const auto reason = audio.lastError();
        setAlert (reason.isNotEmpty() ? reason : translate ("音源を開始できません。READYを保持しました"));
    }
    return result;
}

void SessionCoordinator::togglePause()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    const auto answer = playback.transport().togglePause();
    if (answer == SinkAnswer::accepted)
        setStatus (playback.cue().paused ? translate ("一時停止しました") : translate ("再開しました"));
    else if (answer == SinkAnswer::refused)
        setAlert (translate ("出力先を確認してください"));
}

void SessionCoordinator::stop (bool main)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    const auto answer = main ? playback.transport().stopMain() : playback.transport().stopOutgoing();
    if (answer == SinkAnswer::accepted)
        setStatus (translate ("STOP"));
    else if (answer == SinkAnswer::refused)
        setAlert (translate ("停止を確定できませんでした"));
}

void SessionCoordinator::seekMain (double seconds, bool fromWaveform)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (fromWaveform && isLocked (LockScope::waveformSeek))
    {
        setStatus (translate ("LIVE LOCK中は波形を直接移動できません"));
        return;
    }
    if (playback.transport().seekMain (seconds) == SinkAnswer::accepted)
        setStatus (translate ("MAINの再生位置を移動しました"));
}

void SessionCoordinator::updateReady()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto& cue = playback.cue();
    if (cue.manualReady)
        return;
    const auto* playlist = currentPlaylist (history.current());
    if (playlist == nullptr || playlist->rows.empty())
    {
        cue.offerReady (std::nullopt);
        return;
    }
    if (const auto& lastGoId = playback.lastGoRow())
        cue.offerReady (orvane::audio::chooseNextReadyIn (playlist->rows, [] (const Row& row) -> const std::string& { return row.id; },
                                                          lastGoId, cue.repeatMode));
    else
        cue.offerReady (playlist->rows.front().id);
}

bool SessionCoordinator::moveReady (int offset)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto& cue = playback.cue();
    std::string targetId;
    {
        const auto* playlist = currentPlaylist (history.current());
        if (playlist == nullptr || playlist->rows.empty())
            return false;
        const auto& rows = playlist->rows;
        const auto count = (std::int64_t) rows.size();
        std::int64_t anchorIndex = -1;
        if (cue.anchor)
            for (std::int64_t i = 0; i < count; ++i)
                if (rows[(size_t) i].id == *cue.anchor)
                    anchorIndex = i;
        std::int64_t target = 0;
        if (anchorIndex >= 0)
            target = std::clamp<std::int64_t> (anchorIndex + offset, 0, count - 1);
        else
            target = offset >= 0 ? 0 : count - 1;
        targetId = rows[(size_t) target].id;
    }

    // The tick may change the playlist: the row must still be there.
    tick();
    if (! holdsRow (currentPlaylist (history.current()), targetId))
        return false;

    cue.selectReady (targetId);
    audio.requestPrepare (targetId, true);
    setStatus (translate ("READYを選択しました"));
    return true;
}

bool SessionCoordinator::selectReady (const std::string& rowId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (! holdsRow (currentPlaylist (history.current()), rowId))
        return false;
    playback.cue().selectReady (rowId);
    audio.requestPrepare (rowId, true);
    setStatus (translate ("READYを選択しました"));
    return true;
}

ReadyMark SessionCoordinator::readyMark() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return { playback.cue(), status, alert, statusTime };
}

bool SessionCoordinator::restoreReady (const ReadyMark& before, const ReadyMark& after)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto& cue = playback.cue();
    if (cue != after.cue)
        return false;   // a GO, an end or a step came between: the READY now is the show's own
    cue.ready = before.cue.ready;
    cue.anchor = before.cue.anchor;
    cue.manualReady = before.cue.manualReady;
    dropStaleCueIds();   // an edit between the two may have removed the row READY was on
    updateReady();
    if (cue.ready)
        audio.requestPrepare (*cue.ready, true);
    if (status == after.status && alert == after.alert && statusTime == after.statusTime)
    {
        status = before.status;
        alert = before.alert;
        statusTime = before.statusTime;
    }
    return true;
}

void SessionCoordinator::cycleRepeat()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto& cue = playback.cue();
    using orvane::audio::RepeatMode;
    cue.repeatMode = cue.repeatMode == RepeatMode::off ? RepeatMode::one
                   : cue.repeatMode == RepeatMode::one ? RepeatMode::all
                                                       : RepeatMode::off;
    updateReady();
    preloadMedia();
    setStatus (translate ("REPEATを変更しました"));
}

void SessionCoordinator::toggleAutoCue()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    playback.setAutoCue (! playback.isAutoCueOn());
    audio.setAutoCue (playback.isAutoCueOn());
    setStatus (translate (playback.isAutoCueOn() ? "AUTO CUE ON" : "AUTO CUE OFF"));
}

void SessionCoordinator::toggleAutoReady()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto& cue = playback.cue();
    cue.autoReady = ! cue.autoReady;
    updateReady();
    preloadMedia();
    setStatus (translate (cue.autoReady ? "AUTO READY ON" : "AUTO READY OFF"));
}

void SessionCoordinator::preloadMedia()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // Runs on every tick: a media whose load failed is asked for again only when the operator
    // chooses it (or it is registered anew), never 30 times a second.
    const auto prepare = [this] (const std::string& key) {
        const auto media = audio.loadedMedia (key);
        if (media == nullptr || ! media->failed())
            audio.requestPrepare (key, true);
    };
    // The last urgent request is served first: READY goes ahead of the pads.
    const int bank = playback.pads().bank;
    for (int pad = numPadsPerBank; pad >= 1; --pad)
    {
        const auto index = padIndex (bank, pad);
        if (index && ! state.pads[(size_t) *index].asset.empty())
            prepare (padMediaKey (bank, pad));
    }
    if (playback.cue().ready)
        prepare (*playback.cue().ready);
}

void SessionCoordinator::dropStaleCueIds()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    playback.dropRowsNotIn (currentPlaylist (history.current()));
}

WaveLaneInfo SessionCoordinator::laneInfo (int lane)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto& cue = playback.cue();
    WaveLaneInfo info;
    if (lane == 2)
    {
        if (! cue.ready)
            return info;
        info.rowId = *cue.ready;
        info.media = audio.loadedMedia (info.rowId);
        info.cued = true;
        if (playback.isAutoCueOn() && info.media != nullptr && info.media->pcm != nullptr)
            info.position = secondsAt (info.media.get(), info.media->pcm->cueFrame);
    }
    else if (lane == 0 || lane == 1)
    {
        const auto& slot = lane == 0 ? cue.outgoing : cue.main;
        const auto& previous = lane == 0 ? cue.previousOutgoing : cue.previousMain;
        const auto& id = slot ? slot : previous;
        if (! id)
            return info;
        info.rowId = *id;
        info.media = audio.voiceMedia (lane);
        info.active = slot.has_value();
        info.paused = info.active && cue.paused;

        // The voice's own status, or the other track voice's while the media moves between them.
        const auto token = audio.voiceToken (lane);
        const auto& own = playback.voice (lane);
        const auto& other = playback.voice (1 - lane);
        std::int64_t frames = 0;
        if (token != 0 && own.playToken == token)
            frames = own.position;
        else if (token != 0 && other.playToken == token)
            frames = other.position;
        else if (playback.isAutoCueOn() && info.media != nullptr && info.media->pcm != nullptr)
            frames = info.media->pcm->cueFrame;
        info.position = secondsAt (info.media.get(), frames);
    }
    else
        return info;

    const Row* row = nullptr;
    for (const auto& playlist : history.current().playlists)
        for (size_t i = 0; i < playlist.rows.size() && row == nullptr; ++i)
            if (playlist.rows[i].id == info.rowId)
            {
                row = &playlist.rows[i];
                info.rowNumber = (int) i + 1;
            }
    if (row != nullptr)
    {
        // A lane shows one line: the head of a long title is all it needs (a saved title may be
        // megabytes, and the lanes are asked many times a second). Cut on a character's start.
        const auto& title = row->title.empty() ? row->source : row->title;
        auto end = std::min (title.size(), laneTitleBytes);
        while (end < title.size() && end > 0 && (static_cast<unsigned char> (title[end]) & 0xc0) == 0x80)
            --end;
        info.title.assign (title, 0, end);
        info.length = row->duration;
    }
    if (info.media != nullptr && std::isfinite (info.media->duration) && info.media->duration > 0.0)
        info.length = info.media->duration;
    if (info.title.empty() && info.media != nullptr)
        info.title = info.media->fileName.toStdString();
    return info;
}

orvane::audio::MasterOutputMeters SessionCoordinator::masterMeters() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return audio.masterMeters();
}

std::int64_t SessionCoordinator::eqTargetPlayToken (const std::string& target)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    static const std::string playlistPrefix = "@playlist:";
    if (target.rfind (playlistPrefix, 0) == 0)
    {
        const bool isOpen = target.substr (playlistPrefix.size()) == history.current().current
                            && ! history.current().current.empty();
        return audio.eqTargetPlayToken (isOpen ? "@playlist" : "");
    }
    return audio.eqTargetPlayToken (target);
}
} // namespace vantrel
