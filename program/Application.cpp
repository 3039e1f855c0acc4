#include "program/Application.h"

#include "app/ProfileFolder.h"
#include "app/SystemSoundsGuard.h"
#include "platform/PowerRequest.h"
#include "platform/QuitSignals.h"
#include "platform/X11Keyboard.h"
#include "platform/SingleInstance.h"
#include "session/PreferencesFile.h"
#include "session/UiLanguage.h"
#include "ui/Fonts.h"

#include <cstdio>

namespace vantrel
{
struct Application::Platform
{
    explicit Platform (std::function<void()> onAnotherInstance) : instance (std::move (onAnotherInstance)) {}

    platform::SingleInstance instance;
    platform::PowerRequest power;
};

Application::Application() = default;

Application::~Application()
{
    mainWindow.reset();
    platform.reset();
}

void Application::initialise (const juce::String&)
{
    powerRequest = false;
    // A quit signal from here on is handled on the message thread once start-up is over (with an
    // alert of the start-up up, a plain quit). The signal wakes the message loop; only where it
    // cannot does a timer poll for it. What the program and its children write to a terminal or
    // a pipe goes through a relay that never blocks them.
    platform::installQuitSignals();
    platform::relayStandardOutput();
    quitSignals = std::make_unique<platform::QuitSignalWatch> ([this] { handleQuitSignals(); });
    pollSignals = ! quitSignals->isValid();
    if (pollSignals)
        startTimer (50);
    // Then: every alert below draws its Japanese and its English line.
    installUiFonts();

    // Where the saved data lives is settled before anything is written or locked: a data home
    // that does not exist yet is made (as on a fresh account), and a start that cannot make it,
    // cannot verify it, or finds two versions of the saved data stops with nothing else created.
    const auto dataHome = localApplicationDataFolder();
    const auto dataHomeProblem = createMissingDataHome (dataHome);
    if (dataHomeProblem.isNotEmpty())
    {
        stopWithAlert (profileCannotBeVerifiedText() + "\n\n" + dataHomeProblem);
        return;
    }
    const auto resolved = resolveProfileFolder (dataHome);
    if (resolved.status != ProfileFolderStatus::ok)
    {
        stopWithAlert (resolved.status == ProfileFolderStatus::bothVersionsExist ? profileBothVersionsText()
                                                                                  : profileCannotBeVerifiedText());
        return;
    }

    // One running copy per profile: a second start raises the first and touches no file.
    const auto instanceFolder = resolved.path.getChildFile ("local/instance").getFullPathName().toStdString();
    platform = std::make_unique<Platform> ([this]
    {
        juce::MessageManager::callAsync ([this] { raiseWindow(); });
    });
    const auto lock = platform->instance.acquire (instanceFolder);
    if (lock.state == platform::InstanceLock::busy)
    {
        (void) platform::SingleInstance::notifyRunning (instanceFolder);
        platform.reset();
        setApplicationReturnValue (0);
        quit();
        return;
    }
    if (lock.state == platform::InstanceLock::failed)
    {
        stopWithAlert (profileCannotBeVerifiedText() + "\n\n" + juce::String (lock.error));
        return;
    }
    profileRoot = resolved.path;

    // Preferences: a file that cannot be read keeps this run from holding the machine awake or
    // muting anything, whatever it asked for; the coordinator reports the damage.
    const auto localFolder = profileRoot.getChildFile ("local");
    Preferences preferences;
    if (! loadPreferences (localFolder.getChildFile ("preferences.json"), preferences).ok)
    {
        preferences.preventSleep = false;
        preferences.preventDisplayOff = false;
        preferences.muteSystemSounds = false;
    }
    setUiLanguage (preferences.english);

    std::string powerError;
    powerRequest = platform->power.set (preferences.preventSleep, preferences.preventDisplayOff, powerError);

    auto& sounds = SystemSoundsGuard::instance();
    sounds.setMuted (preferences.muteSystemSounds);
    sounds.start (localFolder.getChildFile ("system-sounds-recovery.json"));

    MainWindowSetup setup;
    setup.profileRoot = profileRoot;
    setup.audioEnabled = true;
    mainWindow.reset();
    mainWindow = std::make_unique<MainWindow> (setup);
    mainWindow->onQuit = [] { juce::JUCEApplicationBase::quit(); };
    mainWindow->coordinator.setOsApply ([this] (const Preferences& p) { return applyOsPreferences (p); });

    // The report shows the muter after its first pass (asked for by tests and support only, so a
    // normal start never waits for the sound server).
    if (startupReportAsked())
        (void) sounds.waitForFirstPass (2000);
    StartupFacts facts;
    facts.windowCreated = true;
    facts.keyboardEdgeFilter = true;
    facts.powerRequest = powerRequest;
    const auto soundStatus = sounds.status();
    facts.systemSoundsGuardRunning = soundStatus.running;
    facts.systemSoundsReady = soundStatus.ready;
    facts.systemSoundsMutedSessions = soundStatus.mutedSessions;
    facts.systemSoundsError = soundStatus.error;
    writeStartupReportIfAsked (mainWindow->coordinator, facts);
}

void Application::shutdown()
{
    stopTimer();
    quitSignals.reset();
    mainWindow.reset();
    alertKeys.reset();
    // A fading drag image is a window of its own; it must go while the display is still open
    // (the framework would otherwise delete it after closing the display, and crash).
    juce::Desktop::getInstance().getAnimator().cancelAllAnimations (false);
    SystemSoundsGuard::instance().stop();
    if (platform != nullptr)
    {
        platform->power.release();
        platform.reset();   // the running copy's lock and socket go last
    }
    platform::flushStandardOutput (500);
}

void Application::anotherInstanceStarted (const juce::String&)
{
    raiseWindow();
}

void Application::raiseWindow()
{
    if (mainWindow == nullptr)
        return;
    if (auto* peer = mainWindow->getPeer())
        peer->setMinimised (false);
    mainWindow->setVisible (true);
    mainWindow->toFront (true);
}

void Application::systemRequestedQuit()
{
    if (mainWindow == nullptr)
    {
        quit();
        return;
    }
    mainWindow->view.requestQuit ([] { juce::JUCEApplicationBase::quit(); });
}

StoreResult Application::applyOsPreferences (const Preferences& preferences)
{
    std::string error;
    powerRequest = platform != nullptr && platform->power.set (preferences.preventSleep, preferences.preventDisplayOff, error);
    SystemSoundsGuard::instance().setMuted (preferences.muteSystemSounds);
    if (powerRequest)
        return { true, {} };
    return { false, "Power request failed" + (error.empty() ? juce::String() : ": " + juce::String (error)) };
}

void Application::timerCallback()
{
    if (pollSignals)
        handleQuitSignals();
    if (platform::isForcedEndArmed() && mainWindow != nullptr)
    {
        // Saved again since the quit that could not save: a SIGTERM asks for the safe quit again.
        const auto& session = mainWindow->coordinator;
        if (session.lastSaveTicket() > ticketAtAbandon && ! session.isSaving() && session.lastSaveResult().ok)
        {
            platform::disarmForcedEnd();
            std::fprintf (stderr, "Vantrel!: saved again; SIGTERM runs the safe quit again.\n");
        }
    }
    if (! pollSignals && ! platform::isForcedEndArmed())
        stopTimer();
}

void Application::handleQuitSignals()
{
    // Every signal is acted on: SIGTERM runs the safe quit without a question; SIGINT (Ctrl+C) and
    // SIGHUP (the terminal closed) take the close button's way, which asks while the show plays.
    const auto signals = platform::takeQuitSignals();
    if (! signals.any())
        return;
    if (mainWindow == nullptr)
    {
        juce::JUCEApplicationBase::quit();   // nothing was opened that a quit must save
        return;
    }
    const auto quitApplication = [] { juce::JUCEApplicationBase::quit(); };
    if (signals.terminate > 0)
    {
        mainWindow->view.quitNow (quitApplication, [this] { quitAbandoned (true); });
        return;
    }
    raiseWindow();
    mainWindow->view.requestQuitBySignal (quitApplication, [this] { quitAbandoned (false); });
}

void Application::quitAbandoned (bool byTerminate)
{
    // The show goes on; whoever sent the signal learns why in the terminal. After a SIGTERM, the
    // next one ends the program without saving, until a save succeeds again.
    const auto& session = mainWindow->coordinator;
    // Armed before anything is said: whoever reads the line may send the next SIGTERM at once.
    const auto why = session.alertText().isNotEmpty() ? session.alertText() : session.lastSaveResult().message;
    if (byTerminate)
    {
        ticketAtAbandon = session.lastSaveTicket();
        platform::armForcedEnd ("Vantrel!: SIGTERM again while the quit cannot save (" + why.toStdString()
                                + "): ended without saving; the files on disk are left as they are.");
    }
    std::fprintf (stderr, "Vantrel!: the quit was abandoned, it could not save: %s\n", why.toRawUTF8());
    if (! byTerminate)
        return;
    std::fprintf (stderr, "Vantrel!: a second SIGTERM ends the program without saving.\n");
    if (! pollSignals)
        startTimer (1000);   // watches for the save that disarms it
}

void Application::stopWithAlert (const juce::String& text)
{
    juce::AlertWindow::showAsync (juce::MessageBoxOptions()
                                      .withIconType (juce::MessageBoxIconType::WarningIcon)
                                      .withTitle ("Vantrel!")
                                      .withMessage (text)
                                      .withButton (juce::translate ("OK")),
                                  [] (int) { juce::JUCEApplicationBase::quit(); });
    alertKeys = std::make_unique<platform::QueuedEventWaker>();   // the alert's window made the display
}
} // namespace vantrel
