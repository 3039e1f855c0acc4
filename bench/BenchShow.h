#pragma once
// The session of a window benchmark: a demo show whose output is the offline renderer.

#include "session/UiLanguage.h"
#include "tests/ui/DemoShow.h"
#include "ui/Fonts.h"

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
} // namespace vantrel::bench
