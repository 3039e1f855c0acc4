#pragma once

#include "audio/output/JuceAudioAdapter.h"
#include "session/CatalogRecords.h"
#include "session/transport/CueState.h"
#include "session/transport/PadController.h"
#include "session/transport/PadTriggerState.h"
#include "session/transport/TransportController.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vantrel
{
/** What sounds and what is cued: the cue state with the transport controller that drives it,
    the pad triggers with the pad controller, the last good status of every engine voice, the
    GO count, the row of the last GO, the READY row a refused GO found unprepared, and AUTO CUE.
    The operations that report in the status line and read the catalog stay the coordinator's;
    they drive the controllers this part owns. Message thread only. Not copyable. */
class Playback
{
public:
    /** The adapter is the controllers' command sink; it must outlive this part. */
    explicit Playback (JuceAudioAdapter& audio);

    Playback (const Playback&) = delete;
    Playback& operator= (const Playback&) = delete;

    orvane::audio::CueState& cue() noexcept  { return cueState; }
    const orvane::audio::CueState& cue() const noexcept  { return cueState; }
    const orvane::audio::PadTriggerState& pads() const noexcept  { return padState; }
    orvane::audio::TransportController& transport() noexcept  { return transportController; }
    orvane::audio::PadController& padController() noexcept  { return padControl; }

    /** MAIN or OUTGOING holds a track (playing or paused). */
    bool trackSounding() const noexcept  { return cueState.main.has_value() || cueState.outgoing.has_value(); }
    bool padsSounding() const noexcept  { return ! padState.triggers.empty(); }
    bool isPadActive (int bank, int pad) const noexcept;
    /** The output went away: the tracks pause where they are and the pads are forgotten. */
    void holdForLostOutput();

    /** A GO the engine accepted, of the row `readyId`: counted unless it restarted a track. */
    void recordGo (const orvane::audio::GoResult& result, const std::optional<std::string>& readyId);
    std::uint64_t goCount() const noexcept  { return goCounter; }
    /** The row of the last accepted GO, from which the next READY row is chosen. */
    const std::optional<std::string>& lastGoRow() const noexcept  { return lastGoId; }
    /** The READY row whose media a refused GO found unprepared; empty when none. */
    const std::string& readyPreparingRow() const noexcept  { return readyPreparingId; }
    void setReadyPreparingRow (std::string rowId)  { readyPreparingId = std::move (rowId); }

    /** Forgets the cued rows and the last GO's row that `playlist` (the open one; null: none)
        does not hold. */
    void dropRowsNotIn (const Playlist* playlist);
    /** A fresh cue state for a newly opened playlist. The play tokens keep counting (an engine
        slot may still report the end of the last track under its token, which must never match
        the next start), and so do REPEAT and AUTO READY. */
    void startPlaylist();

    /** Reads the status of `voice` (0 OUTGOING, 1 MAIN, 2.. pads); a read that met a write in
        progress comes back all zero and leaves the last good copy. */
    void readVoice (int voice);
    const orvane::audio::VoiceStatus& voice (int voice) const noexcept  { return voiceCache[(size_t) voice]; }

    bool isAutoCueOn() const noexcept  { return autoCue; }
    /** The switch alone; the caller tells the adapter. */
    void setAutoCue (bool on) noexcept  { autoCue = on; }

private:
    JuceAudioAdapter& audio;
    orvane::audio::CueState cueState;
    orvane::audio::PadTriggerState padState;
    orvane::audio::TransportController transportController;
    orvane::audio::PadController padControl;
    bool autoCue = true;
    std::uint64_t goCounter = 0;
    std::optional<std::string> lastGoId;
    std::string readyPreparingId;
    std::array<orvane::audio::VoiceStatus, JuceAudioAdapter::numVoices> voiceCache {};
};
} // namespace vantrel
