// The wheel bound to a gain control or to READY stepping: notches gathered into 0.5 dB steps, one
// saved edit per wheel event, and the binding's end.
#include "ViewTestSupport.h"

#include "ui/GainControl.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

struct WheelRig : ViewRig
{
    Playlist show = addShow ("Wheel", 4);
    VantrelView& view = makeView();
    GainControl& gain = byId<GainControl> (view, "playlist-gain");

    WheelRig()
    {
        // On the screen: a binding holds only while its control shows.
        view.setBounds (0, 0, 1380, 860);
        view.addToDesktop (0);
        view.setVisible (true);
        view.refresh();
    }
    float savedGain() const  { return currentPlaylist (session->undoHistory().current())->gainDb; }
};

TEST (WheelBinding, NotchesBecomeHalfDecibelStepsOneEditPerEvent)
{
    WheelRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    struct Case
    {
        const char* what;
        std::vector<double> notches;   // one wheel event each
        std::vector<float> gains;      // the saved gain after each
    };
    const Case cases[] = {
        { "fractions gather", { 0.4, 0.4, 0.4, 0.4 }, { 0.0f, 0.0f, 0.5f, 0.5f } },
        { "a reversal drops what was gathered the other way", { 0.6, -0.6, -0.6 }, { 0.0f, 0.0f, -0.5f } },
        { "a burst is capped at twenty notches", { -30.0 }, { -10.0f } },
        { "several notches in one event", { 3.0, -1.0 }, { 1.5f, 1.0f } },
        { "nothing for zero or a non-finite turn", { 0.0, std::nan ("") }, { 0.0f, 0.0f } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ASSERT_TRUE (r.session->commitPlaylistGain (r.show.id, 0.0f));
        r.view.refresh();
        r.view.bindWheelTarget (&r.gain.slider);
        ASSERT_EQ (r.view.wheelTarget(), &r.gain);
        std::vector<float> gains;
        for (const auto n : c.notches)
        {
            EXPECT_TRUE (r.view.handleWheel (n));
            gains.push_back (r.savedGain());
        }
        EXPECT_EQ (gains, c.gains);
        // Each event that moved the gain is one undo step.
        for (auto i = gains.size(); i-- > 1;)
            if (gains[i] != gains[i - 1])
            {
                ASSERT_TRUE (r.session->undoRedo (false));
                EXPECT_EQ (r.savedGain(), gains[i - 1]);
            }
        r.view.releaseWheelTarget();
    }
}

TEST (WheelBinding, TheBindingEndsWhereTheOperatorMovedOn)
{
    WheelRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& rows = *findById (r.view, "setlist");

    // Nothing bound: the wheel goes on to what is under the mouse.
    EXPECT_FALSE (r.view.handleWheel (1.0));

    // The rows list steps READY: the wheel turned up moves it to an earlier row.
    r.session->selectReady (r.show.rows[2].id);
    r.view.bindWheelTarget (&rows);
    ASSERT_TRUE (r.view.wheelStepsReady());
    EXPECT_TRUE (r.view.handleWheel (1.0));
    EXPECT_EQ (r.session->cueState().ready, r.show.rows[1].id);
    // ... until the library panel takes the rows' place.
    r.view.flags().libraryShown = true;
    EXPECT_FALSE (r.view.handleWheel (1.0));
    EXPECT_FALSE (r.view.wheelStepsReady());
    r.view.flags().libraryShown = false;

    // A click into the gain's text box: the next turn changes nothing.
    r.view.bindWheelTarget (&r.gain);
    ASSERT_EQ (r.view.wheelTarget(), &r.gain);
    r.gain.slider.showTextBox();
    juce::TextEditor* editor = nullptr;
    for (auto* child : r.gain.slider.getChildren())
        for (auto* grandChild : child->getChildren())
            if (auto* e = dynamic_cast<juce::TextEditor*> (grandChild))
                editor = e;
    ASSERT_NE (editor, nullptr) << "the value box did not open for typing";
    editor->grabKeyboardFocus();
    const auto before = r.savedGain();
    EXPECT_FALSE (r.view.handleWheel (2.0));
    EXPECT_EQ (r.savedGain(), before);
    EXPECT_EQ (r.view.wheelTarget(), nullptr);
}
} // namespace
} // namespace vantrel
