#pragma once
// Message thread only.

#include "app/StartupReport.h"
#include "ui/MainWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace vantrel
{
namespace platform { class QueuedEventWaker; class QuitSignalWatch; }

/** The main program's application object: one running copy per user, the profile folder, the
    preferences, the power request and the system-sound muter, the main window, the start-up
    report, and all of it taken down again in the reverse order. */
class Application : public juce::JUCEApplication, private juce::Timer
{
public:
    Application();
    ~Application() override;

    const juce::String getApplicationName() override { return "Vantrel!"; }
    const juce::String getApplicationVersion() override { return "1.0.0"; }
    /** Our own lock and socket stand in for JUCE's instance handling, which cannot reach a
        running copy on this platform. */
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;
    void suspended() override {}
    void resumed() override {}

    /** Applies the preferences' power request and muting (the coordinator calls it after saving
        new preferences). ok only when the power request is held. */
    StoreResult applyOsPreferences (const Preferences& preferences);

private:
    void timerCallback() override;
    void handleQuitSignals();
    void quitAbandoned (bool byTerminate);
    void stopWithAlert (const juce::String& text);
    void raiseWindow();

    struct Platform;
    std::unique_ptr<Platform> platform;
    std::unique_ptr<MainWindow> mainWindow;
    /** A start alert has no main window (whose key router keeps one): the Return that closes it
        must not wait in Xlib's queue for an event that an idle alert never gets. */
    std::unique_ptr<platform::QueuedEventWaker> alertKeys;
    std::unique_ptr<platform::QuitSignalWatch> quitSignals;   // wakes the message loop for a quit signal
    juce::File profileRoot;
    bool powerRequest = false;
    bool pollSignals = false;           // no descriptor wakes the loop: the timer polls
    std::int64_t ticketAtAbandon = 0;   // the last save's ticket when a SIGTERM's quit could not save
};
} // namespace vantrel
