#include "app/Playback.h"

#include <algorithm>

namespace vantrel
{
namespace
{
bool holdsRow (const Playlist* playlist, const std::string& id)
{
    if (playlist == nullptr)
        return false;
    return std::any_of (playlist->rows.begin(), playlist->rows.end(), [&] (const Row& row) { return row.id == id; });
}
} // namespace

Playback::Playback (JuceAudioAdapter& adapter)
    : audio (adapter),
      transportController (&cueState, &adapter),
      padControl (&padState, &adapter)
{
}

bool Playback::isPadActive (int bank, int pad) const noexcept
{
    return std::any_of (padState.triggers.begin(), padState.triggers.end(),
                        [bank, pad] (const auto& trigger) { return trigger.bank == bank && trigger.slot == pad; });
}

void Playback::holdForLostOutput()
{
    if (trackSounding())
        cueState.paused = true;
    padState.clear();
}

void Playback::recordGo (const orvane::audio::GoResult& result, const std::optional<std::string>& readyId)
{
    using orvane::audio::GoKind;
    if (result.kind != GoKind::restartMain && result.kind != GoKind::restartOutgoing)
        ++goCounter;
    lastGoId = readyId;
}

void Playback::dropRowsNotIn (const Playlist* playlist)
{
    const auto dropStale = [playlist] (std::optional<std::string>& id) {
        if (id && ! holdsRow (playlist, *id))
            id.reset();
    };
    dropStale (cueState.anchor);
    dropStale (cueState.manualReady);
    dropStale (cueState.ready);
    dropStale (lastGoId);
}

void Playback::startPlaylist()
{
    orvane::audio::CueState fresh;
    fresh.goCounter = cueState.goCounter;
    fresh.repeatMode = cueState.repeatMode;
    fresh.autoReady = cueState.autoReady;
    cueState = fresh;
    lastGoId.reset();
    readyPreparingId.clear();
}

void Playback::readVoice (int voice)
{
    if (voice < 0 || voice >= JuceAudioAdapter::numVoices)
        return;
    const auto status = audio.voiceStatus (voice);
    if (status.playToken != 0)
        voiceCache[(size_t) voice] = status;
}
} // namespace vantrel
