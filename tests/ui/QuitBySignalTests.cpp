// The quit a Ctrl+C or a closed terminal asks for, in the main view: the close button's question
// while the show needs it, never dropped while a dialog is up, and the safe quit otherwise.
#include "ViewTestSupport.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

juce::AlertWindow* modalAlert()
{
    return dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
}

TEST (MainViewQuit, ASignalsRequestIsNeverDroppedAndAsksOnlyWhileTheShowNeedsIt)
{
    struct Case
    {
        const char* name;
        bool liveLock;         // the show needs the question
        bool otherDialogUp;    // a name dialog of the operator's is up when the signal comes
        bool secondSignal;     // another signal while the question is up
        int quitsAtOnce;       // quits before any dialog is answered
        int questions;         // quit questions asked in all
    };
    const Case cases[] = {
        { "nothing to ask", false, false, false, 1, 0 },
        { "nothing to ask, a dialog up: closed, the quit runs", false, true, false, 1, 0 },
        { "under LIVE LOCK: asks", true, false, false, 0, 1 },
        { "asked once however often signalled", true, false, true, 0, 1 },
        { "a dialog up: asks once it closes", true, true, false, 0, 1 },
    };
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        r.view.reset();
        r.session.reset();
        r.session = r.rig.make();
        auto& view = r.makeView();
        if (c.liveLock)
            r.session->toggleLiveLock();
        int quits = 0, abandoned = 0, questions = 0;
        const auto signal = [&] { view.requestQuitBySignal ([&] { ++quits; }, [&] { ++abandoned; }); };

        if (c.otherDialogUp)
        {
            view.textDialog ("Name", "Name", "", [] (juce::String) {}, true);
            ASSERT_TRUE (view.flags().dialogOpen);
        }
        signal();
        if (c.secondSignal)
            signal();
        EXPECT_EQ (quits, c.quitsAtOnce);

        // Answer each dialog that comes up with "no", and run the view's timer in between.
        for (int step = 0; step < 4; ++step)
        {
            if (auto* alert = modalAlert())
            {
                questions += alert->getName() == "Vantrel!" ? 1 : 0;   // the name dialog is "Name"
                alert->exitModalState (0);
                ASSERT_TRUE (runMessagesUntil ([&] { return ! view.flags().dialogOpen; }));
            }
            view.timerCallback();
        }
        EXPECT_EQ (questions, c.questions);
        EXPECT_EQ (quits, c.quitsAtOnce);
        EXPECT_EQ (abandoned, 0);
    }
}
} // namespace
} // namespace vantrel
