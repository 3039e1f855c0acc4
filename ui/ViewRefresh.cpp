// The main view follows the show: the full refresh, the lanes' refresh, the 30 Hz timer, the
// rebuild on a language change and the quit in steps.

#include "ui/ViewImpl.h"

#include "session/CatalogValidation.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"

namespace vantrel
{
namespace
{
bool lockedBy (const SessionCoordinator& c, LockScope scope)
{
    return c.isLiveLockOn() && c.currentPreferences().isLocked (scope);
}

LaneSnapshot readLanes (SessionCoordinator& c)
{
    LaneSnapshot s;
    s.lanes[1] = c.laneInfo (1);
    s.lanes[0] = c.laneInfo (0);
    s.goCount = (std::int64_t) c.cueState().goCounter;
    s.lanes[2] = c.laneInfo (2);
    for (size_t i = 0; i < 3; ++i)
        s.colours[i] = juce::Colour (c.currentPreferences().colours[i]);
    s.secondsShown = zoomSeconds (c.catalogState().ui.zoom);
    s.seekLocked = lockedBy (c, LockScope::waveformSeek);
    s.outgoingSounds = c.cueState().outgoing.has_value();
    s.mainSounds = c.cueState().main.has_value();
    s.meters = c.masterMeters();
    return s;
}

ViewSnapshot readSnapshot (SessionCoordinator& c, const ViewFlags& flags)
{
    ViewSnapshot s (c.catalogState(), c.cueState(), c.currentPreferences());
    s.openPlaylist = currentPlaylist (c.catalogState().document);
    s.flags = flags;
    s.lanes = readLanes (c);
    s.autoCue = c.isAutoCueOn();
    s.liveLock = c.isLiveLockOn();
    s.padMute = c.isPadMuteOn();
    s.limiterOn = c.isLimiterOn();
    s.catalogLocked = lockedBy (c, LockScope::playlistEditing);
    s.limiterLocked = lockedBy (c, LockScope::limiter);
    s.masterGainLocked = lockedBy (c, LockScope::masterGain);
    s.rowsLocked = c.isLocked (LockScope::playlistEditing);
    s.trackGainLocked = c.isLocked (LockScope::trackGainEq);
    s.changeCount = c.undoHistory().changeCount();
    s.stateRevision = c.stateRevision();
    s.canChangeOutput = c.canChangeOutput();
    s.outputOpen = c.isOutputOpen();
    if (s.outputOpen)
        s.outputName = c.audioAdapter().openOutputName();
    const auto& rack = c.audioAdapter().rack();
    s.rackReady = rack.hasReadySlots();
    s.rackNeedsAttention = rack.needsAttention();
    s.cd = cdImportState (c);
    s.padBank = c.padTriggerState().bank;
    for (int n = 1; n <= 9; ++n)
        s.padsActive[(size_t) n - 1] = c.isPadActive (s.padBank, n);
    s.masterGain = c.masterGain();
    s.padBusGain = c.padBusGain();
    s.limiterValues = c.limiterValues();
    s.needsRecovery = c.needsRecovery();
    s.canRecover = c.canRecover();
    s.statusText = c.statusText();
    s.statusIsWarning = c.statusIsWarning();
    return s;
}
} // namespace

void VantrelView::refresh()
{
    auto& m = *impl;
    auto& c = coordinator;
    m.flags.syncing = true;

    // Lay the parts out again when a fold or mode switch changed.
    const int key = (c.catalogState().ui.playlistsFolded ? 1 : 0) | (c.catalogState().ui.padsFolded ? 2 : 0) | (c.catalogState().ui.memoFolded ? 4 : 0)
                  | (m.flags.padEditMode ? 8 : 0) | (m.flags.dynamicsOpen ? 16 : 0) | (m.flags.libraryShown ? 32 : 0);
    if (key != m.layoutKey)
    {
        m.layoutKey = key;
        resized();
    }

    // Every section shows the one snapshot of the coordinator's state read here.
    const auto snapshot = readSnapshot (c, m.flags);
    m.showLanes (snapshot.lanes);
    // (The lanes and the meter take the lane snapshot, as at every tick.)
    ViewSection* const sections[] = { &m.transport, &m.playlists, &m.rowsColumn, &m.padColumn, &m.master, &m.status };
    for (auto* section : sections)
        section->refresh (snapshot);

    m.flags.syncing = false;
    validateWheelTarget();
}

void VantrelView::refreshLanes()
{
    impl->showLanes (readLanes (coordinator));
}

void VantrelView::Impl::showLanes (const LaneSnapshot& s)
{
    lanes.showLanes (s);
    master.showMeter (s.meters);
}

void VantrelView::displayFrame()
{
    const auto now = juce::Time::getMillisecondCounterHiRes();
    if (! ticksStopped)
    {
        // A frame up to 2 ms early counts as due, so that a frame that comes at the tick's period
        // (every second frame at 60 Hz) is not put off by its jitter to the frame after it.
        constexpr double periodMs = 1000.0 / 30.0, earlyMs = 2.0;
        if (now + earlyMs >= nextTickMs)
        {
            nextTickMs += periodMs;
            if (nextTickMs <= now)
                nextTickMs = now + periodMs;   // after a stall: no burst of ticks to catch up
            const juce::Component::SafePointer<VantrelView> alive (this);
            timerCallback();
            if (alive == nullptr)
                return;   // the tick ended the program's window
        }
    }
    impl->lanes.frame();
    // What the tick and everything since asked to repaint is painted now, in every window.
    platform::paintWindowsNow();
    paceFrames (now);
}

void VantrelView::paceFrames (double nowMs)
{
    // Smooth frames while something moves or the operator is at work (typing, or in a window other
    // than the main one: a dialog, a menu, a tip); the tick's rate at rest.
    if (dynamic_cast<juce::TextEditor*> (juce::Component::getCurrentlyFocusedComponent()) != nullptr
        || juce::ComponentPeer::getNumPeers() > (getPeer() != nullptr ? 1 : 0) || impl->lanes.needFrames())
        fastFramesUntilMs = nowMs + 1000.0;
    const auto wanted = nowMs < fastFramesUntilMs ? movingFramesHz : restingFramesHz;
    if (paintsOnItsOwnFrames() && frames->rateHz() != wanted)
        frames->run (wanted);
}

void VantrelView::handsOn()
{
    // The pointer over any part of the view: what it touches shows at the next smooth frame.
    fastFramesUntilMs = juce::Time::getMillisecondCounterHiRes() + 1000.0;
    if (paintsOnItsOwnFrames() && frames->rateHz() != movingFramesHz)
        frames->run (movingFramesHz);
}

void VantrelView::stopTicking()
{
    // The frames go on painting (this may run inside one of them); they only stop ticking.
    ticksStopped = true;
    stopTimer();
}

void VantrelView::timerCallback()
{
    auto& f = impl->flags;
    if (uiLanguage() != languageAtBuild && ! impl->dialogs.isOpen() && ! f.quitPending)
        refreshLanguage();

    auto& m = *impl;
    if (! m.dialogs.isOpen())
        quitQuestionUp = false;
    if (quitAfterDialog && ! m.dialogs.isOpen() && ! m.flags.quitPending)
    {
        const auto request = std::move (quitAfterDialog);
        quitAfterDialog = nullptr;
        request();
    }
    if (m.flags.quitPending)
    {
        if (coordinator.prepareQuit())
        {
            // Prepared once: the ticks stop, so that no later tick prepares (and saves) again
            // while the application winds down.
            stopTicking();
            auto quit = std::move (m.onQuit);
            m.onQuit = nullptr;
            if (quit)
                quit();
            return;
        }
        if (! coordinator.isQuitting())
        {
            m.flags.quitPending = false;
            m.onQuit = nullptr;
            setEnabled (true);
            const auto abandoned = std::move (onQuitAbandoned);
            onQuitAbandoned = nullptr;
            if (abandoned)
                abandoned();
        }
    }
    else
    {
        coordinator.tick();
    }

    m.tooltips.followWindows();
    if (++tickCount < 3)
    {
        refreshLanes();
    }
    else
    {
        tickCount = 0;
        refresh();
    }
}

void VantrelView::refreshLanguage()
{
    commitPendingEdits();
    const auto before = impl->flags;
    const auto target = impl->eqTarget;
    // A closed window is only hidden: it stays closed in the new language.
    const auto& dialogs = impl->dialogs;
    const bool eqOpen = dialogs.isWindowShown ("eq-window"), vstOpen = dialogs.isWindowShown ("vst-window"),
               settingsOpen = dialogs.isWindowShown ("settings-window"), cdOpen = dialogs.isWindowShown ("cd-window");

    removeAllChildren();
    buildImpl();

    auto& f = impl->flags;
    f.dynamicsOpen = before.dynamicsOpen;
    f.padEditMode = before.padEditMode;
    f.libraryShown = before.libraryShown;
    if (before.detailedTime)
        impl->lanes.toggleDetailedTime();
    impl->eqTarget = target;
    languageAtBuild = uiLanguage();
    heldKeys.clear();
    resized();
    refresh();

    // The windows that were open come back in the new language.
    if (eqOpen && target.isNotEmpty())
        openEq (target);
    if (vstOpen)
        openMasterVst();
    if (cdOpen)
        impl->dialogs.openCdWindow();
    if (settingsOpen)
        openSettingsWindow();
}

void VantrelView::requestQuit (std::function<void()> onQuit)
{
    if (impl->flags.quitPending || impl->dialogs.isOpen())
        return;
    if (! coordinator.needsQuitConfirmation())
    {
        beginQuit (std::move (onQuit), {});
        return;
    }
    askQuit (std::move (onQuit), {});
}

void VantrelView::askQuit (std::function<void()> onQuit, std::function<void()> onAbandoned)
{
    quitQuestionUp = true;
    confirm (cdImportState (coordinator).busy ? translate ("CD取込をキャンセルし、再生を停止してアプリを終了しますか？")
                                              : translate ("音声が再生中またはLIVE LOCK中です。アプリを終了しますか？"),
             [this, onQuit = std::move (onQuit), onAbandoned = std::move (onAbandoned)]() mutable
             {
                 beginQuit (std::move (onQuit), std::move (onAbandoned));
             });
}

void VantrelView::quitNow (std::function<void()> onQuit, std::function<void()> onAbandoned)
{
    if (impl->flags.quitPending)
        return;
    quitAfterDialog = nullptr;
    impl->dialogs.closeForQuit();
    beginQuit (std::move (onQuit), std::move (onAbandoned));
}

void VantrelView::requestQuitBySignal (std::function<void()> onQuit, std::function<void()> onAbandoned)
{
    if (impl->flags.quitPending)
        return;
    if (! coordinator.needsQuitConfirmation())
    {
        quitNow (std::move (onQuit), std::move (onAbandoned));
        return;
    }
    if (! impl->dialogs.isOpen())
    {
        askQuit (std::move (onQuit), std::move (onAbandoned));
        return;
    }
    // The question that is up, or the dialog the operator is in, comes to the front; the
    // question follows that dialog.
    if (auto* modal = juce::Component::getCurrentlyModalComponent())
        modal->toFront (true);
    if (! quitQuestionUp)
        quitAfterDialog = [this, onQuit = std::move (onQuit), onAbandoned = std::move (onAbandoned)]
        {
            requestQuitBySignal (onQuit, onAbandoned);
        };
}

void VantrelView::beginQuit (std::function<void()> onQuit, std::function<void()> onAbandoned)
{
    commitPendingEdits();
    impl->flags.quitPending = true;
    impl->onQuit = std::move (onQuit);
    onQuitAbandoned = std::move (onAbandoned);
    setEnabled (false);
    timerCallback();
}
} // namespace vantrel
