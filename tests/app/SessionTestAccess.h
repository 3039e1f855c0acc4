#pragma once

#include "app/SessionCoordinator.h"

#include <memory>

namespace vantrel
{
/** The one door through which tests reach a coordinator's private state, for cases that no
    operation sets up: a store that needs recovery in the middle of a run, a catalog deeper than
    the rules allow, a lock scope changed under LIVE LOCK, a job that holds the pool, the mode
    flags put back between the rows of a table. Everything else goes through the operations and
    the read-only accessors. */
class SessionCoordinatorTestAccess
{
public:
    /** As after a failed load (true) or a successful recovery (false). */
    static void setRecoveryRequired (SessionCoordinator& session, bool required)  { session.store.recoveryRequired = required; }
    static Preferences& preferences (SessionCoordinator& session)  { return session.preferences.preferences; }
    static CatalogState& state (SessionCoordinator& session)  { return session.state; }
    static orvane::audio::CueState& cue (SessionCoordinator& session)  { return session.playback.cue(); }
    static JobPool& pool (SessionCoordinator& session)  { return session.pool; }
    static AudioCdImport& cdImporter (SessionCoordinator& session)  { return *session.cdImports.importer(); }
    static void replaceCdImporter (SessionCoordinator& session, std::unique_ptr<AudioCdImport> importer)
    {
        session.cdImports.setImporter (std::move (importer));
    }
    static void setEqClipboard (SessionCoordinator& session, const EqSettings& eq)  { session.mix.eqClipboard = eq; }
    static void clearStatus (SessionCoordinator& session)  { session.status.clear(); }
    /** AUTO CUE, PAD MUTE and the LIMITER switch as they were, without the operations' status
        texts, LIVE LOCK checks and saves. */
    static void setModes (SessionCoordinator& session, bool autoCue, bool padMute, bool limiterEnabled)
    {
        session.playback.setAutoCue (autoCue);
        session.padBus.setMute (padMute);
        session.masterLevels.setLimiterEnabled (limiterEnabled);
    }
};
} // namespace vantrel

using vantrel::SessionCoordinatorTestAccess;
