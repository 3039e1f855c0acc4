// The EQ window driven as the operator drives it: handle drags through the window's peer, the
// buttons, typed values and the wheel; the engine rendered offline under it for what it plays and
// what the analyser sees.
#include "ViewTestSupport.h"

#include "audio/dsp/EqCoefficients.h"
#include "session/CatalogValidation.h"
#include "ui/TrackEqPanel.h"
#include "ui/ViewWindows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

/** The main view over an offline session with a playlist of two tones (the first 20 s long)
    open, and the EQ window opened by the view. */
struct EqRig : ViewRig
{
    explicit EqRig (double toneHz = 1000.0)
    {
        show = playlistOf ("Show", { writeTone (rig.media(), "a.wav", 20.0, 0.05f, toneHz),
                                     writeTone (rig.media(), "b.wav", 2.0, 0.05f, 440.0) });
        EXPECT_TRUE (addAndOpen (*session, show));
        makeView().setBounds (0, 0, 1380, 860);
    }

    const std::string& row (int i) const  { return show.rows[(size_t) i].id; }
    EqSettings eqOf (const std::string& target) const  { return *std::as_const (*session).eqForTarget (target); }
    std::size_t steps() const  { return session->undoHistory().undoStack().size(); }

    TrackEqPanel& open (const std::string& target)
    {
        view->openEq (juce::String::fromUTF8 (target.c_str()));
        auto* window = dynamic_cast<ViewWindow*> (view->window ("eq-window"));
        EXPECT_TRUE (window != nullptr && waitUntilMapped (*window, display));
        return *dynamic_cast<TrackEqPanel*> (window->panel());
    }
    juce::Component& window() const  { return *view->window ("eq-window"); }
    TrackEqPanel::Curve& curve (TrackEqPanel& panel) const  { return byId<TrackEqPanel::Curve> (panel, "eq-curve"); }
    juce::Point<int> onScreen (TrackEqPanel& panel, juce::Point<float> p) const
    {
        return curve (panel).localPointToGlobal (p).roundToInt();
    }
    void click (TrackEqPanel& panel, const char* id) const
    {
        byId<juce::Button> (panel, id).triggerClick();
        runPendingMessages();
    }
    /** One wheel notch over a point of the curve, through the window's peer. */
    void wheel (TrackEqPanel& panel, juce::Point<float> at, float deltaY) const
    {
        auto* peer = window().getPeer();
        peer->handleMouseWheel (juce::MouseInputSource::InputSourceType::mouse,
                                peer->globalToLocal (curve (panel).localPointToGlobal (at)), juce::Time::currentTimeMillis(),
                                { 0.0f, deltaY, false, false, false });
        runPendingMessages();
    }
    bool play (int i = 0)
    {
        return tickUntilPrepared (*session, row (i)) && session->selectReady (row (i))
            && session->go().outcome == orvane::audio::SinkAnswer::accepted;
    }

    Playlist show;
};

#define START_EQ_RIG(r, ...)       \
    EqRig r { __VA_ARGS__ };       \
    if (! r.display.running())     \
        GTEST_SKIP() << r.display.problem;

TEST (TrackEqSpectrum, AColumnReadsTheBinsItCovers)
{
    // 4096 points at 48 kHz: bin k is k x 11.72 Hz. A spike at bins 100 and 101, a loud DC bin.
    std::vector<float> bins (2049, -100.0f);
    bins[0] = 20.0f;
    bins[100] = -10.0f;
    bins[101] = -30.0f;
    const double bin = 48000.0 / 4096.0;
    struct Case { const char* what; double f0, f1, level; };
    for (const auto& c : std::vector<Case> {
             { "narrow, on bin 100", 100 * bin, 100 * bin, -10.0 },
             { "narrow, halfway to bin 101", 100.5 * bin, 100.5 * bin, -20.0 },
             { "wide, over the spike", 95 * bin, 105 * bin, -10.0 },
             { "wide, beside the spike", 103 * bin, 150 * bin, -100.0 },
             { "from 0 Hz: DC is never read", 0.0, 6 * bin, -100.0 },
             { "above half the rate: the top bin", 30000.0, 31000.0, -100.0 } })
        EXPECT_NEAR (spectrumBandLevel (bins.data(), 4096, 48000.0, c.f0, c.f1), c.level, 1e-6) << c.what;
    EXPECT_EQ (spectrumBandLevel (bins.data(), 4096, 0.0, 100.0, 200.0), -120.0);   // no rate, no reading

    // A curve too small for a plot still maps every point to a valid band value.
    const auto empty = EqPlot::of ({ 0, 0, 60, 30 });
    EXPECT_EQ (empty.frequencyAt (45.0f), 20.0);
    EXPECT_EQ (empty.gainAt (10.0f), 0.0);
}

TEST (TrackEqCurve, AHandleDragIsOneStepThatTheEngineHearsAsItMoves)
{
    START_EQ_RIG (r);
    auto& panel = r.open (r.row (0));
    auto& curve = r.curve (panel);
    const auto p = curve.plot();
    PeerPointer pointer (r.window());
    const auto steps = r.steps();

    // A click on a handle selects it and changes nothing, not even by rounding.
    const auto before = r.eqOf (r.row (0));
    pointer.click (r.onScreen (panel, curve.handleCentre (2)));
    EXPECT_EQ (panel.selectedBandIndex(), 2);
    EXPECT_EQ (r.eqOf (r.row (0)), before);
    EXPECT_EQ (r.steps(), steps);

    // Band 4 (700 Hz) dragged to 1 kHz and +12 dB: live values on the way, one step at the end.
    const auto from = r.onScreen (panel, curve.handleCentre (3));
    const auto to = r.onScreen (panel, { p.xOf (1000.0), p.yOfGain (12.0) });
    if (xdotoolInstalled())
    {
        ASSERT_TRUE (realPointerAt (r.display, to));
    }
    pointer.press (from);
    pointer.moveTo ((from + to) / 2);
    const auto heard = r.session->mutableAudioAdapter().heldMix (r.row (0));
    ASSERT_TRUE (heard.has_value());
    EXPECT_GT (heard->eq.bands[3].gainDb, 3.0);
    EXPECT_LT (heard->eq.bands[3].gainDb, 9.0);
    pointer.moveTo (to);
    pointer.release (to);
    const auto dragged = r.eqOf (r.row (0)).bands[3];
    EXPECT_NEAR (dragged.frequency, 1000.0, 12.0);
    EXPECT_NEAR (dragged.gainDb, 12.0, 0.7);
    EXPECT_EQ (r.steps(), steps + 1);
    EXPECT_EQ (r.session->mutableAudioAdapter().heldMix (r.row (0))->eq, r.eqOf (r.row (0)));
    ASSERT_TRUE (r.session->undoRedo (false));
    EXPECT_EQ (r.eqOf (r.row (0)), before);

    // A High Pass handle sits on the 0 dB line; a vertical drag leaves its gain and frequency.
    auto& shape = byId<juce::ComboBox> (panel, "eq-shape-1");
    shape.setSelectedId (4, juce::sendNotificationSync);
    ASSERT_EQ (r.eqOf (r.row (0)).bands[0].shape, (int) EqShape::highPass);
    EXPECT_FLOAT_EQ (curve.handleCentre (0).y, p.yOfGain (0.0));
    const auto highPass = r.eqOf (r.row (0)).bands[0];
    const auto at = r.onScreen (panel, curve.handleCentre (0));
    pointer.drag (at, at.translated (0, -40));
    EXPECT_EQ (r.eqOf (r.row (0)).bands[0], highPass);
}

TEST (TrackEqCurve, TheResponseDrawnIsWhatTheEnginePlays)
{
    // The tone sits on the plot column nearest 1 kHz; the EQ lifts it with a bell there.
    EqPlot plot = EqPlot::of ({ 0, 0, 920 - 24, 183 });
    const int column = (int) std::lround (std::log10 (1000.0 / 20.0) / 3.0 * plot.width);
    START_EQ_RIG (r, plot.columnFrequency (column));
    auto eq = r.eqOf (r.row (0));
    eq.enabled = true;
    eq.bands[4] = { true, (int) EqShape::bell, 1100.0, 9.0, 2.0 };
    eq.bands[7] = { true, (int) EqShape::highShelf, 6000.0, -6.0, 0.7071 };
    ASSERT_TRUE (r.session->commitEq (r.row (0), eq));
    auto& panel = r.open (r.row (0));
    const auto& drawn = r.curve (panel).response();
    ASSERT_EQ (drawn.size(), (size_t) plot.width + 1);

    const auto engine = orvane::audio::designEq (eq, r.session->mutableAudioAdapter().sampleRate());
    for (const int i : { 0, column, (int) plot.width * 3 / 4, (int) plot.width })
        EXPECT_DOUBLE_EQ (drawn[(size_t) i], engine.responseDb (plot.columnFrequency (i), 48000.0)) << "column " << i;

    ASSERT_TRUE (r.play());
    std::vector<float> left (48000), right (48000);
    r.session->mutableAudioAdapter().renderOfflineFrames (48000, left.data(), right.data());
    const auto measuredDb = 20.0 * std::log10 (toneAmplitude (left, 24000, 48000, plot.columnFrequency (column)) / 0.05);
    EXPECT_GT (drawn[(size_t) column], 7.0);
    EXPECT_NEAR (measuredDb, drawn[(size_t) column], 0.1);
}

TEST (TrackEqSpectrum, ThePlayingRowsToneIsDrawnAtItsFrequency)
{
    START_EQ_RIG (r, 1500.0);
    auto& panel = r.open (r.row (0));
    ASSERT_TRUE (r.play());
    ASSERT_TRUE (runMessagesUntil ([&] {
        r.session->mutableAudioAdapter().renderOfflineFrames (2048);
        return panel.spectrumSnapshot().fineReady;
    }));
    const auto& s = panel.spectrumSnapshot();
    const auto peak = std::max_element (s.coarse.begin(), s.coarse.end()) - s.coarse.begin();
    EXPECT_NEAR ((double) peak * s.sampleRate / AnalyserSnapshot::coarsePoints, 1500.0, s.sampleRate / 4096.0);
    const auto finePeak = std::max_element (s.fine.begin(), s.fine.end()) - s.fine.begin();
    EXPECT_NEAR ((double) finePeak * s.sampleRate / AnalyserSnapshot::finePoints, 1500.0, s.sampleRate / 16384.0);

    // What is drawn: the loudest column is the tone's, within a column.
    auto& curve = r.curve (panel);
    const auto levels = curve.spectrumLevels();
    ASSERT_FALSE (levels.empty());
    const auto loudest = std::max_element (levels.begin(), levels.end()) - levels.begin();
    const auto p = curve.plot();
    EXPECT_NEAR (std::log10 (p.columnFrequency ((double) loudest) / 1500.0), 0.0, 2 * 3.0 / p.width);   // two columns
    EXPECT_GT (levels[(size_t) loudest], -40.0f);

    // Stopped, the token is 0 and the spectrum is cleared: only the grid and the response remain.
    r.session->stop (true);
    r.session->mutableAudioAdapter().renderOfflineFrames (2048);
    ASSERT_TRUE (runMessagesUntil ([&] { return panel.spectrumSnapshot().token == 0; }));
    EXPECT_FALSE (panel.spectrumSnapshot().coarseReady);
    EXPECT_TRUE (curve.spectrumLevels().empty());
}

TEST (TrackEqPanel, UnderLiveLockEveryValueStaysAndAHandleStillSelects)
{
    START_EQ_RIG (r);
    EqSettings copied;
    copied.bands[2].gainDb = 5.0;
    SessionCoordinatorTestAccess::setEqClipboard (*r.session, copied);
    r.session->toggleLiveLock();   // its "Track gain / EQ" scope is on by default
    auto& panel = r.open (r.row (0));
    auto& curve = r.curve (panel);
    EXPECT_EQ (byId<juce::Label> (panel, "eq-note").getText(), ja ("LIVE LOCK — 設定を固定中"));
    const auto before = r.eqOf (r.row (0));
    const auto steps = r.steps();
    PeerPointer pointer (r.window());

    const std::pair<const char*, std::function<void()>> attempts[] = {
        { "handle drag", [&] { const auto c = r.onScreen (panel, curve.handleCentre (5));
                               pointer.drag (c, c.translated (30, -30)); } },
        { "wheel", [&] { r.wheel (panel, curve.handleCentre (5), 0.5f); } },
        { "typed value", [&] { byId<juce::Slider> (panel, "eq-gain-2").setValue (6.0, juce::sendNotificationSync); } },
        { "shape", [&] { byId<juce::ComboBox> (panel, "eq-shape-2").setSelectedId (5, juce::sendNotificationSync); } },
        { "reset", [&] { r.click (panel, "eq-reset"); } },
        { "enable", [&] { r.click (panel, "eq-enable"); } },
        { "paste", [&] { r.click (panel, "eq-paste"); } },
    };
    for (const auto& [what, attempt] : attempts)
    {
        attempt();
        panel.refresh();
        EXPECT_EQ (r.eqOf (r.row (0)), before) << what;
        EXPECT_EQ (panel.settings(), before) << what;
        EXPECT_EQ (r.steps(), steps) << what;
    }
    EXPECT_EQ (panel.selectedBandIndex(), 5);   // the press on the handle selected it
}

TEST (TrackEqPanel, PasteKeepsTheTargetsOwnOnOff)
{
    START_EQ_RIG (r);
    for (const bool sourceOn : { true, false })
    {
        auto source = r.eqOf (r.row (0));
        source.enabled = sourceOn;
        source.bands[1] = { true, (int) EqShape::bell, 250.0, sourceOn ? 4.0 : -4.0, 2.0 };
        ASSERT_TRUE (r.session->commitEq (r.row (0), source));
        auto target = r.eqOf ("@master");
        target.enabled = ! sourceOn;
        ASSERT_TRUE (r.session->commitEq ("@master", target));

        r.click (r.open (r.row (0)), "eq-copy");
        auto& master = r.open ("@master");
        r.click (master, "eq-paste");
        const auto pasted = r.eqOf ("@master");
        EXPECT_EQ (pasted.bands, source.bands) << sourceOn;
        EXPECT_EQ (pasted.enabled, ! sourceOn) << sourceOn;
    }
}

TEST (TrackEqPanel, ARemovedTargetKeepsItsValuesAndReadingChangesNothing)
{
    START_EQ_RIG (r);
    auto eq = r.eqOf (r.row (1));
    eq.bands[3].gainDb = 7.5;
    ASSERT_TRUE (r.session->commitEq (r.row (1), eq));
    auto& panel = r.open (r.row (1));

    // The panel reads the model at 10 Hz: reading is no change of the document.
    const auto changes = r.session->undoHistory().changeCount();
    for (int tick = 0; tick < 6; ++tick)
        panel.timerCallback();
    EXPECT_EQ (r.session->undoHistory().changeCount(), changes);

    ASSERT_TRUE (r.session->removeRow (r.row (1)));
    panel.refresh();
    EXPECT_EQ (byId<juce::Label> (panel, "eq-title").getText(), ja ("トラックが削除されました"));
    EXPECT_EQ (byId<juce::Label> (panel, "eq-note").getText(), juce::String());   // no LIVE LOCK to speak of
    EXPECT_FALSE (byId<juce::Button> (panel, "eq-copy").isEnabled());
    EXPECT_EQ (byId<juce::Slider> (panel, "eq-gain-4").getValue(), 7.5);
}

TEST (TrackEqPanel, ReplacingThePanelLeavesAnotherControlsDragOpen)
{
    START_EQ_RIG (r);
    r.open (r.row (0));
    const auto steps = r.steps();
    r.session->beginEqEdit();   // the rows' gain control is being dragged
    r.session->setLiveRowGain (r.row (0), -6.0f);
    r.open ("@master");         // the row's panel goes
    EXPECT_TRUE (r.session->isEqEditPending());
    EXPECT_EQ (r.steps(), steps);
    ASSERT_TRUE (r.session->commitEqEdit());
    EXPECT_EQ (r.steps(), steps + 1);
}

TEST (TrackEqPanel, OpeningAndClosingTwentyTimesWhileAudioPlaysIsClean)
{
    START_EQ_RIG (r);
    r.session->mutableAudioAdapter().startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::realTime);   // an audio thread of its own
    ASSERT_TRUE (r.play());
    // The tone lasts 20 s and the twenty openings may take longer on a busy machine: when the
    // play of the last GO has reached its end, the row is started again, so that each window
    // opens while audio plays.
    const auto ranOut = [&] {
        const auto main = r.session->mutableAudioAdapter().voiceStatus (1);
        return main.playToken == r.session->cueState().mainGeneration && main.reachedEnd;
    };
    const auto analysedWhilePlaying = [&] (TrackEqPanel& panel) {
        return runMessagesUntil ([&] {
            if (ranOut() && r.session->selectReady (r.row (0)))
                r.session->go();
            return panel.spectrumSnapshot().coarseReady;
        });
    };
    int analysed = 0;
    for (int i = 0; i < 20; ++i)
    {
        auto& panel = r.open (i % 2 == 0 ? r.row (0) : "@master");
        analysed += analysedWhilePlaying (panel) ? 1 : 0;
        dynamic_cast<juce::DocumentWindow&> (r.window()).closeButtonPressed();
        ASSERT_TRUE (runMessagesUntil ([&] { return panel.spectrumSnapshot().token == 0; })) << "opening " << i;
    }
    EXPECT_EQ (analysed, 20);
}
} // namespace
} // namespace vantrel
