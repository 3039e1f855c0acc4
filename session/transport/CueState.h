#pragma once

#include "session/transport/AudioCommand.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace orvane::audio
{
/** The repeat modes of CueState::repeatMode. */
enum class RepeatMode : int
{
    off = 0, // "REPEAT OFF"
    one = 1, // "REPEAT ONE"
    all = 2  // "REPEAT ALL"
};

/** What CueState::go returns. 0..5 are starts and equal the kind of the
    AudioCommand that carries them (goCommandKind); 6 and 7 start nothing. */
enum class GoKind : int
{
    fromSilence = 0,     // nothing sounds: READY starts as MAIN
    handOver = 1,        // MAIN moves to OUTGOING, READY starts as MAIN
    besideOutgoing = 2,  // only OUTGOING sounds: READY starts as MAIN beside it
    restartMain = 3,     // READY is the MAIN row: MAIN restarts in place
    restartOutgoing = 4, // READY is the OUTGOING row: OUTGOING restarts in place
    fromPause = 5,       // paused: the paused tracks are dropped, READY starts as MAIN
    noReady = 6,
    twoSounding = 7      // refused: MAIN and OUTGOING both sound
};

/** The AudioCommand kind that carries a GO start; none for the GO kinds that
    start nothing (noReady, twoSounding). */
constexpr std::optional<AudioCommandKind> goCommandKind (GoKind kind)
{
    switch (kind)
    {
        case GoKind::fromSilence:     return AudioCommandKind::goFromSilence;
        case GoKind::handOver:        return AudioCommandKind::goHandOver;
        case GoKind::besideOutgoing:  return AudioCommandKind::goBesideOutgoing;
        case GoKind::restartMain:     return AudioCommandKind::goRestartMain;
        case GoKind::restartOutgoing: return AudioCommandKind::goRestartOutgoing;
        case GoKind::fromPause:       return AudioCommandKind::goFromPause;
        case GoKind::noReady:
        case GoKind::twoSounding:     break;
    }
    return std::nullopt;
}

/** What TransportController::go reports: the GoKind, and the SinkAnswer
    (nothingSent, accepted or refused). */
struct GoResult
{
    GoKind kind = GoKind::noReady;
    SinkAnswer outcome = SinkAnswer::nothingSent;

    bool operator== (const GoResult& other) const  { return kind == other.kind && outcome == other.outcome; }
    bool operator!= (const GoResult& other) const  { return ! operator== (other); }
};

/** The model of the two sounding track slots (MAIN and OUTGOING), the READY
    row and the transport modes. A plain value: the transport controller works
    on a copy and commits it only when the audio side accepts the command.

    Play tokens: every start (including the in-place restarts restartMain and
    restartOutgoing) takes the next value of goCounter; a track that moves from
    MAIN to OUTGOING keeps its token. A voice's end report belongs to MAIN
    (OUTGOING) only when its token equals mainGeneration (outgoingGeneration)
    while that slot is set.

    GO while paused drops the paused tracks and starts READY as MAIN; GO never
    resumes a pause.

    Message thread only. */
struct CueState
{
    std::optional<std::string> outgoing;         // OUTGOING row; a paused track stays set
    std::optional<std::string> main;             // MAIN row
    std::optional<std::string> ready;            // the row the next GO starts
    std::optional<std::string> anchor;           // where PREVIOUS/NEXT ROW step from
    std::optional<std::string> manualReady;      // the operator's READY; blocks offerReady
    std::optional<std::string> previousOutgoing; // last row of the OUTGOING slot, kept for its lane
    std::optional<std::string> previousMain;     // last row of the MAIN slot, kept for its lane
    std::int64_t mainGeneration = 0;             // play token of MAIN
    std::int64_t outgoingGeneration = 0;         // play token of OUTGOING
    std::int64_t goCounter = 0;                  // last play token handed out
    bool paused = false;
    RepeatMode repeatMode = RepeatMode::off;
    bool autoReady = true;

    /** The number of set slots among MAIN and OUTGOING, 0..2. */
    int activeCount() const;

    /** The GO transition. For noReady and twoSounding nothing changes. A
        start empties READY, except the in-place restarts (restartMain,
        restartOutgoing), which leave READY, MAIN and OUTGOING where they are. */
    GoKind go();

    /** MAIN becomes free (previousMain keeps its id); a pause ends when
        OUTGOING is free too. */
    void clearMain();

    /** OUTGOING becomes free (previousOutgoing keeps its id); a pause ends when
        MAIN is free too. */
    void clearOutgoing();

    void setAnchor (const std::optional<std::string>& id);

    /** An automatic READY proposal: refused (false, nothing changes) while the
        operator's own READY is set; otherwise READY takes the value (none
        empties it). */
    bool offerReady (const std::optional<std::string>& id);

    /** The operator's READY choice: anchor, ready and manualReady take the id. */
    void selectReady (const std::string& id);

    bool operator== (const CueState& other) const;
    bool operator!= (const CueState& other) const  { return ! operator== (other); }
};

/** The row to propose as READY after lastStarted (the row the last accepted GO
    started) in a playlist's rows (ids in play order): none for an empty list or
    when lastStarted is none or not among the rows; lastStarted itself under
    REPEAT ONE; otherwise the row after it, and after the last row the first row
    under REPEAT ALL and none otherwise. Ids are unique in a playlist; should one
    repeat, its first occurrence counts. Any repeatMode but ONE and ALL acts as
    OFF (a value outside the enumerators, as a cast may carry). */
std::optional<std::string> chooseNextReady (const std::vector<std::string>& rowIds,
                                            const std::optional<std::string>& lastStarted,
                                            RepeatMode repeatMode);

/** The same choice over any sequence of rows in play order, each row's id read through `idOf`:
    the ids are compared where they are, never copied. */
template <typename Rows, typename IdOf>
std::optional<std::string> chooseNextReadyIn (const Rows& rows, IdOf idOf, const std::optional<std::string>& lastStarted,
                                              RepeatMode repeatMode)
{
    if (rows.empty() || ! lastStarted)
        return std::nullopt;
    const auto found = std::find_if (rows.begin(), rows.end(), [&] (const auto& row) { return idOf (row) == *lastStarted; });
    if (found == rows.end())
        return std::nullopt;
    if (repeatMode == RepeatMode::one)
        return idOf (*found);
    if (std::next (found) != rows.end())
        return idOf (*std::next (found));
    if (repeatMode == RepeatMode::all)
        return idOf (rows.front());
    return std::nullopt;
}
} // namespace orvane::audio
