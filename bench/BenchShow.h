#pragma once
// The session of a window benchmark: a demo show whose output is the offline renderer.

#include "session/UiLanguage.h"
#include "tests/ui/DemoShow.h"
#include "ui/FittedContent.h"
#include "ui/Fonts.h"
#include "ui/VantrelView.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace vantrel::bench
{
/** JUCE's GUI with the program's fonts and the English interface, and a session that plays a demo
    show at real time through the offline renderer. Made on the message thread, after the
    private display is up; what it holds goes before JUCE's GUI does. */
struct BenchShow
{
    juce::ScopedJuceInitialiser_GUI gui;
    test::SessionRig rig;
    std::unique_ptr<SessionCoordinator> session;
    test::DemoShow show;

    /** Builds the show; false with the reason in `why`. */
    bool start (const test::DemoShowOptions& options, juce::String& why)
    {
        installUiFonts();
        setUiLanguage (false);
        session = rig.make();
        session->mutableAudioAdapter().startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::realTime);
        show = test::buildDemoShow (*session, rig.media(), options);
        why = show.error;
        return show.ok();
    }
};

/** The main view in a window of its own on the desktop, fitted to the program's default size
    (1380 x 860) and shown; the window has the native title bar and ignores its close button. */
struct MainViewWindow
{
    class Window : public juce::DocumentWindow
    {
    public:
        explicit Window (juce::Component& content)
            : juce::DocumentWindow ("Vantrel", juce::Colours::black, juce::DocumentWindow::allButtons, true)
        {
            setUsingNativeTitleBar (true);
            setContentNonOwned (&content, false);
        }
        void closeButtonPressed() override {}
    };

    explicit MainViewWindow (SessionCoordinator& session) : view (session), content (view), window (content)
    {
        window.setContentComponentSize (1380, 860);
        window.setTopLeftPosition (10, 10);
        window.setVisible (true);
    }

    VantrelView view;
    FittedContent content;
    Window window;
};
} // namespace vantrel::bench
