// The quit: whether it needs the operator's confirmation, and the steps it waits for before the
// program may end (the CD import, the pool's jobs, the rack's and the catalog's saves).
#include "app/SessionCoordinator.h"

#include "platform/ThreadContract.h"
#include "session/UiText.h"

namespace vantrel
{
bool SessionCoordinator::needsQuitConfirmation() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return liveLock.isOn() || playback.trackSounding() || playback.padsSounding() || cdImportState (*this).busy;
}

bool SessionCoordinator::prepareQuit()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! quit.isQuitting())
    {
        commitEqEdit();
        const bool outputOpen = isOutputOpen();
        if (audioEnabled)
            audio.closeDevice();
        playback.holdForLostOutput();
        if (auto* importer = cdImports.importer())
            importer->cancel();
        // A save of an older state makes way for the newest one: the quit waits for one save.
        saves.setPreferNewest (true);
        quit.begin (outputOpen);
    }

    // A cancelled import removes its staging folder; one that had already moved its folder in
    // is offered again at the next start by its recovery record.
    if (cdImportState (*this).busy)
    {
        setProgress (translate ("CD取込の停止・保全を待っています"));
        return false;
    }

    if (pool.getNumJobs() > 0)
    {
        setProgress (translate ("PADコピーと保存の完了を待っています"));
        return false;
    }

    finishPadCopies();
    finishLibraryCopies();

    // A quit that cannot keep everything is abandoned: the show goes on, with the output that
    // the quit closed opened again on purpose (the operator is told so).
    const auto abandon = [this] (const juce::String& message)
    {
        const bool reopen = quit.abandon();
        saves.setPreferNewest (false);
        auto text = message;
        if (reopen)
        {
            const auto reopened = audio.openDevice (true);
            text += reopened.ok ? translate (" · 終了を中止し、出力先を再開しました")
                                : translate (" · 終了を中止しました。出力先を再開できません: ") + reopened.message;
        }
        setAlert (text);
        return false;
    };

    if (! audio.rack().status().configCorrupt)
    {
        const auto saved = audio.rack().saveAndWait();
        if (! saved.ok)
            return abandon (saved.message);
    }

    if (store.recoveryRequired.load())
        return true;

    // The state handed over last is being saved or is on disk already: it is not saved a second
    // time. Anything changed since, or a save of it that failed, is saved now.
    state.document = documentToSave();
    if (! saves.holdsOnDisk (state))
        submitState();
    if (saves.waitIdle())
    {
        // The rows of every merged copy are on disk now: their journals can go.
        finishLibraryCopies();
        return true;
    }
    return abandon (saves.lastResult().message);
}
} // namespace vantrel
