#include "session/transport/CueState.h"

#include "platform/ThreadContract.h"

#include <algorithm>

namespace orvane::audio
{
namespace
{
    void clearManualReadyIf (CueState& state, const std::string& startedId)
    {
        if (state.manualReady && *state.manualReady == startedId)
            state.manualReady.reset();
    }

    std::int64_t nextToken (CueState& state)
    {
        return ++state.goCounter;
    }

    // READY starts as MAIN; the previous MAIN token (if any) was already handed
    // to OUTGOING by the caller or dropped with it.
    void startReadyAsMain (CueState& state, const std::string& readyId)
    {
        state.main = readyId;
        state.previousMain.reset();
        state.mainGeneration = nextToken (state);
        state.anchor = readyId;
        clearManualReadyIf (state, readyId);
        state.ready.reset();
    }
} // namespace

int CueState::activeCount() const
{
    return (main ? 1 : 0) + (outgoing ? 1 : 0);
}

GoKind CueState::go()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! ready)
        return GoKind::noReady;

    // Kept by value: the transitions below empty ready.
    const std::string readyId = *ready;

    if (paused)
    {
        previousOutgoing = main ? main : previousMain;
        outgoingGeneration = mainGeneration;
        outgoing.reset();
        startReadyAsMain (*this, readyId);
        paused = false;
        return GoKind::fromPause;
    }

    if (main && *main == readyId)
    {
        mainGeneration = nextToken (*this);
        clearManualReadyIf (*this, readyId);
        anchor = readyId;
        return GoKind::restartMain;
    }

    if (outgoing && *outgoing == readyId)
    {
        outgoingGeneration = nextToken (*this);
        clearManualReadyIf (*this, readyId);
        anchor = readyId;
        return GoKind::restartOutgoing;
    }

    if (! main && outgoing)
    {
        startReadyAsMain (*this, readyId);
        return GoKind::besideOutgoing;
    }

    if (main && outgoing)
        return GoKind::twoSounding;

    GoKind kind;

    if (main)
    {
        outgoing = main;
        previousOutgoing.reset();
        kind = GoKind::handOver;
    }
    else
    {
        previousOutgoing = previousMain;
        kind = GoKind::fromSilence;
    }

    outgoingGeneration = mainGeneration;
    startReadyAsMain (*this, readyId);
    return kind;
}

void CueState::clearMain()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (main)
    {
        previousMain = main;
        main.reset();
    }

    if (! outgoing)
        paused = false;
}

void CueState::clearOutgoing()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (outgoing)
    {
        previousOutgoing = outgoing;
        outgoing.reset();
    }

    if (! main)
        paused = false;
}

void CueState::setAnchor (const std::optional<std::string>& id)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    anchor = id;
}

bool CueState::offerReady (const std::optional<std::string>& id)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (manualReady)
        return false;

    ready = id;
    return true;
}

void CueState::selectReady (const std::string& id)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    anchor = id;
    ready = id;
    manualReady = id;
}

bool CueState::operator== (const CueState& other) const
{
    return outgoing == other.outgoing && main == other.main && ready == other.ready
        && anchor == other.anchor && manualReady == other.manualReady
        && previousOutgoing == other.previousOutgoing && previousMain == other.previousMain
        && mainGeneration == other.mainGeneration && outgoingGeneration == other.outgoingGeneration
        && goCounter == other.goCounter && paused == other.paused && repeatMode == other.repeatMode
        && autoReady == other.autoReady;
}

std::optional<std::string> chooseNextReady (const std::vector<std::string>& rowIds,
                                            const std::optional<std::string>& lastStarted,
                                            RepeatMode repeatMode)
{
    return chooseNextReadyIn (rowIds, [] (const std::string& id) -> const std::string& { return id; }, lastStarted, repeatMode);
}
} // namespace orvane::audio
