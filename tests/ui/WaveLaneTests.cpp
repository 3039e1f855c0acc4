#include "ViewTestSupport.h"

#include "ui/PixelProbe.h"
#include "ui/WaveLane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numeric>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

constexpr int laneWidth = 1168, laneHeight = 50;   // MAIN at the default window size
constexpr int boxLeft = 161, boxWidth = laneWidth - 551, centre = boxLeft + boxWidth / 2;
const juce::Colour magenta { 0xFFFF00FF };

/** Stereo media of constant peaks (-0.8..0.8), as the loader makes them at 48 kHz. */
std::shared_ptr<LoadedMedia> mediaOf (double seconds, bool withPeaks, const juce::String& error = {})
{
    auto media = std::make_shared<LoadedMedia>();
    media->duration = seconds;
    media->error = error;
    if (! withPeaks)
        return media;
    const auto frames = (std::uint64_t) (seconds * 48000.0);
    std::vector<float> samples ((size_t) frames * 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i / 2) % 2 == 0 ? 0.8f : -0.8f;
    media->peaks = std::make_shared<orvane::audio::WaveformPeakData> (
        orvane::audio::computeWaveformPeaks (samples.data(), samples.size(), 2, 48000.0, 256));
    return media;
}

WaveLaneInfo laneInfo (std::shared_ptr<LoadedMedia> media, double position, bool active = true, bool paused = false)
{
    const auto length = media->duration;
    return { "row-1", "Song", std::move (media), position, length, active, paused, false, 3 };
}

struct LaneRig
{
    juce::ScopedJuceInitialiser_GUI gui;
    double nowMs = 1000.0;
    WaveLaneView lane;

    explicit LaneRig (int kind = 1, int width = laneWidth) : lane (kind)
    {
        installUiFonts();
        lane.stopTimer();   // a status that plays starts it: the test calls the timer's step itself
        lane.clock = [this] { return nowMs; };
        lane.setLaneColour (magenta);
        lane.setSecondsShown (10.0);
        lane.setSize (width, laneHeight);
    }
};

/** The waveform area as drawn: its columns in the lane colour; near the playhead, its pixels of
    red (error) and of grey (dim) text. */
struct Drawn { std::vector<int> lit; int red = 0, grey = 0; };

Drawn drawnOf (WaveLaneView& lane)
{
    const auto image = snapshotOf (lane, "wave-lane");
    Drawn d;
    for (int x = boxLeft; x < boxLeft + boxWidth; ++x)
    {
        bool lit = false;
        for (int y = 3; y < laneHeight - 3; ++y)
        {
            const auto p = image.getPixelAt (x, y);
            const int r = p.getRed(), g = p.getGreen(), b = p.getBlue();
            lit = lit || (r > 150 && b > 150 && g < 90);
            const bool text = std::abs (x - centre) > 1 && std::abs (x - centre) < 40;
            d.red += text && r > 170 && r - g > 60 && r - b > 60;
            d.grey += text && r > 70 && std::abs (r - b) < 30 && std::abs (r - g) < 30;
        }
        if (lit)
            d.lit.push_back (x);
    }
    return d;
}

TEST (WaveLane, DrawsThePeaksAroundThePlayheadOrSaysWhyNot)
{
    // 10 s across 617 columns: a second is 61.7 columns; the playhead is the centre column.
    const struct { double seconds; bool peaks; const char* error; double position; int firstLit, lastLit; bool red, grey; } cases[] {
        { 2.0, false, "", 0.0, -1, -1, false, true },                    // "preparing" in dim text
        { 2.0, false, "Unreadable file", 0.0, -1, -1, true, false },     // the error in red
        { 2.0, true, "", 0.0, centre, centre + 123, false, false },      // nothing before 0 s or after the end
        { 2.0, true, "", 1.0, centre - 62, centre + 62, false, false },  // moved a second to the left
        { 60.0, true, "", 30.0, boxLeft, boxLeft + boxWidth - 1, false, false },
    };
    for (const auto& c : cases)
    {
        LaneRig r;
        r.lane.setStatus (laneInfo (mediaOf (c.seconds, c.peaks, c.error), c.position), false);
        const auto d = drawnOf (r.lane);
        const auto where = juce::String (c.seconds) + " s at " + juce::String (c.position) + " " + c.error;
        ASSERT_EQ (d.lit.empty(), c.firstLit < 0) << where;
        EXPECT_NEAR (d.lit.empty() ? -1 : d.lit.front(), c.firstLit, 2) << where;
        EXPECT_NEAR (d.lit.empty() ? -1 : d.lit.back(), c.lastLit, 2) << where;
        EXPECT_GE ((int) d.lit.size(), d.lit.empty() ? 0 : d.lit.back() - d.lit.front() - 2) << where;   // no gap but the playhead
        EXPECT_EQ (d.red > 10, c.red) << where << " " << d.red;
        EXPECT_EQ (d.grey > 10, c.grey) << where << " " << d.grey;
    }
}

TEST (WaveLane, TheTimerRepaintsOnlyWhilePlayingOrFlashing)
{
    // The timer itself runs only while it has frames to paint: a lane at rest costs no ticks.
    const struct { bool active, paused, marked; std::vector<double> ticksMs; int repaints; bool runs, runsAfter; } cases[] {
        { true, false, false, { 0, 16, 33, 50 }, 4, true, true },
        { true, true, false, { 0, 16, 33, 50 }, 0, false, false },
        { false, false, false, { 0, 16, 33, 50 }, 0, false, false },
        { false, false, true, { 0, 100, 199, 250, 300, 400 }, 4, true, false },   // and the first frame after the flash
    };
    for (const auto& c : cases)
    {
        LaneRig r;
        r.lane.setStatus (laneInfo (mediaOf (2.0, true), 0.5, c.active, c.paused), c.marked);
        EXPECT_EQ (r.lane.isTimerRunning(), c.runs) << c.active << c.paused << c.marked;
        for (auto t : c.ticksMs)
            r.nowMs = 1000.0 + t, r.lane.timerCallback();
        EXPECT_EQ (r.lane.timerRepaints(), c.repaints) << c.active << c.paused << c.marked;
        EXPECT_EQ (r.lane.isTimerRunning(), c.runsAfter) << c.active << c.paused << c.marked;
        // Playing again starts it again.
        r.lane.setStatus (laneInfo (mediaOf (2.0, true), 0.6, true, false), false);
        EXPECT_TRUE (r.lane.isTimerRunning());
        r.lane.stopTimer();
    }
}

TEST (WaveLane, WhilePlayingTheTimerRepaintsOnlyWhenTheWaveformMovedAColumn)
{
    // 617 columns: 5 minutes make 2.06 columns a second, 10 s 61.7. Between two statuses the lane
    // runs ahead of the last one by at most 80 ms.
    const struct { double span; bool clippedPaint; double jump; std::vector<double> ticksMs; int repaints; } cases[] {
        { 300.0, false, 0.0, { 16, 33, 50, 66 }, 0 },   // less than half a column: the strip stays as painted
        { 300.0, false, 1.0, { 16, 33 }, 2 },           // a new status two columns on: repainted until painted
        { 10.0, false, 0.0, { 16, 33, 50 }, 3 },        // a column a tick
        { 300.0, true, 0.0, { 16, 33 }, 2 },            // the last paint left the waveform out: not up to date
    };
    for (const auto& c : cases)
    {
        LaneRig r;
        r.lane.setSecondsShown (c.span);
        auto info = laneInfo (mediaOf (60.0, true), 30.0);
        r.lane.setStatus (info, false);
        juce::Image image (juce::Image::ARGB, laneWidth, laneHeight, true);
        {
            juce::Graphics g (image);
            if (c.clippedPaint)
                g.reduceClipRegion (r.lane.time.getBounds());
            r.lane.paintEntireComponent (g, true);
        }
        if (c.jump != 0.0)
        {
            info.position += c.jump;
            r.lane.setStatus (info, false);
        }
        for (auto t : c.ticksMs)
            r.nowMs = 1000.0 + t, r.lane.timerCallback();
        EXPECT_EQ (r.lane.timerRepaints(), c.repaints) << c.span << " " << c.clippedPaint << " " << c.jump;
    }
}

TEST (WaveLane, WhatTheTimerRepaintsKeepsTheLanePaintedAsAWholePaintWould)
{
    // The lane painted whole once, then only where its timer asked, as the window does (at the
    // window's scale too): after each second of play its waveform strip holds exactly the pixels
    // of a whole paint.
    const struct { int kind; double span; float scale; bool marked; } cases[] {
        { 1, 300.0, 1.0f, false }, { 1, 10.0, 1.0f, false }, { 1, 300.0, 1.16f, false },
        { 0, 10.0, 1.16f, true }, { 1, 300.0, 1.0f, true }, { 2, 60.0, 1.37f, false },
    };
    for (const auto& c : cases)
    {
        LaneRig r (c.kind);
        r.lane.setSecondsShown (c.span);
        auto info = laneInfo (mediaOf (60.0, true), 20.0);
        r.lane.setStatus (info, c.marked);
        const auto width = (int) std::ceil ((float) laneWidth * c.scale), height = (int) std::ceil ((float) laneHeight * c.scale);
        const auto paint = [&] (juce::Image& image, bool whole)
        {
            juce::Graphics g (image);
            g.addTransform (juce::AffineTransform::scale (c.scale));
            if (! whole)
                g.reduceClipRegion (r.lane.waveformStrip());
            g.fillAll (juce::Colours::black);   // the window's backdrop under the lane's rounded edges
            r.lane.paintEntireComponent (g, true);
        };
        juce::Image shown (juce::Image::RGB, width, height, true);
        paint (shown, true);
        for (int tick = 1; tick <= 180; ++tick)   // three seconds at 60 Hz, a status every other tick
        {
            r.nowMs = 1000.0 + tick * 1000.0 / 60.0;
            if (tick % 2 == 0)
            {
                info.position = 20.0 + tick / 60.0;
                r.lane.setStatus (info, false);
            }
            const auto before = r.lane.timerRepaints();
            r.lane.timerCallback();
            if (r.lane.timerRepaints() != before)
                paint (shown, false);
            if (tick % 60 != 0)
                continue;
            juce::Image whole (juce::Image::RGB, width, height, true);
            paint (whole, true);
            // The strip is the timer's; the readout beside it repaints itself when its figures change.
            const auto strip = r.lane.waveformStrip().toFloat().transformedBy (juce::AffineTransform::scale (c.scale))
                                   .getSmallestIntegerContainer().reduced (1).getIntersection ({ width, height });
            int differing = 0;
            for (int y = strip.getY(); y < strip.getBottom(); ++y)
                for (int x = strip.getX(); x < strip.getRight(); ++x)
                    differing += shown.getPixelAt (x, y) != whole.getPixelAt (x, y);
            EXPECT_EQ (differing, 0) << "lane " << c.kind << ", " << c.span << " s, scale " << c.scale << ", tick " << tick;
            if (const char* dir = std::getenv ("VANTREL_UI_SNAPSHOT_DIR"))
            {
                juce::File file = juce::File (dir).getChildFile (juce::String::formatted ("lane-%d-%d-%.2f-%d-%d.png", c.kind,
                                                                                          (int) c.span, c.scale, (int) c.marked, tick));
                file.deleteFile();
                juce::FileOutputStream out (file);
                juce::PNGImageFormat().writeImageToStream (whole, out);
            }
        }
    }
}

TEST (WaveLane, OnlyAnActiveUnlockedMainScrubsFromItsWaveform)
{
    // 617 columns for 61.7 s: a column is 0.1 s; pulling the waveform left moves forward.
    const struct { int kind; bool locked, active; int width; float press, drag; double seconds; } cases[] {
        { 1, false, true, laneWidth, 400, 300, 10.0 }, { 1, false, true, laneWidth, 400, 450, -5.0 },
        { 1, false, true, laneWidth, 161, 61, 10.0 },  { 1, false, true, laneWidth, 777, 677, 10.0 },
        { 1, false, true, laneWidth, 160, 60, 0.0 },   { 1, false, true, laneWidth, 778, 678, 0.0 },
        { 1, true, true, laneWidth, 400, 300, 0.0 },   { 1, false, false, laneWidth, 400, 300, 0.0 },
        { 0, false, true, laneWidth, 400, 300, 0.0 },  { 2, false, true, laneWidth, 400, 300, 0.0 },
        { 1, false, true, 540, 150, 50, 0.0 },   // too narrow for a waveform
    };
    for (const auto& c : cases)
    {
        LaneRig r (c.kind, c.width);
        r.lane.setSecondsShown (61.7);
        r.lane.setSeekProtected (c.locked);
        r.lane.setStatus (laneInfo (mediaOf (2.0, false), 0.5, c.active), false);
        std::vector<double> steps;
        r.lane.onScrub = [&] (double s) { steps.push_back (s); };
        const auto event = [&] (float x)
        {
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), { x, 25.0f },
                                     juce::ModifierKeys::leftButtonModifier, 0, 0, 0, 0, 0, &r.lane, &r.lane,
                                     juce::Time::getCurrentTime(), { c.press, 25.0f }, {}, 1, true);
        };
        r.lane.mouseDown (event (c.press));
        for (auto x : { (c.press + c.drag) / 2, c.drag })
            r.lane.mouseDrag (event (x));
        r.lane.mouseUp (event (c.drag));
        r.lane.mouseDrag (event (c.drag - 100));   // after the release: nothing
        EXPECT_EQ (steps.size(), c.seconds != 0.0 ? 2u : 0u) << c.kind << c.locked << c.active << " " << c.press;
        EXPECT_NEAR (std::accumulate (steps.begin(), steps.end(), 0.0), c.seconds, 1.0e-9) << c.kind << c.press;
    }
}

TEST (WaveLane, DraggingMainsWaveformSeeksUnlessLiveLockProtectsIt)
{
    if (! xdotoolInstalled())
        GTEST_SKIP() << "xdotool is not installed";
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& s = *r.session;
    ASSERT_TRUE (addAndOpen (s, playlistOf ("Hall", { writeTone (r.rig.media(), "Long.wav", 40.0, 0.25f) })));
    ASSERT_TRUE (tickUntilPrepared (s, *s.cueState().ready));
    s.setZoom (0);   // 10 s across the lane
    s.go();
    auto& view = r.makeView();
    view.addToDesktop (0);
    view.setVisible (true);
    ASSERT_TRUE (waitUntilMapped (view, r.display));
    ASSERT_TRUE (tickUntil (s, [&] { return s.laneInfo (1).position > 0.5; }, 480));
    view.refresh();

    // A drag of 300 px to the left on a 617 px waveform of 10 s (4.86 s forward), then a click on
    // the time readout: once the readout has toggled, the drag's events have been handled.
    auto& lane = byId<WaveLaneView> (view, "wave-main");
    const auto detailed = [&] { return (bool) lane.time.getProperties()["detailed-time"]; };
    const auto dragThenClick = [&]
    {
        const auto at = lane.getScreenPosition();
        const auto time = lane.time.getScreenBounds().getCentre();
        juce::StringArray command;
        command.addTokens (juce::String::formatted ("mousemove %d %d mousedown 1 mousemove %d %d mouseup 1 mousemove %d %d click 1",
                                                    at.x + 700, at.y + 25, at.x + 400, at.y + 25, time.x, time.y), false);
        const bool wasDetailed = detailed();
        return xdotoolOn (r.display, command) && runMessagesUntil ([&] { return detailed() != wasDetailed; });
    };
    const struct { bool locked; double least, most; } cases[] { { true, 0.0, 1.0 }, { false, 4.5, 6.0 } };
    for (const auto& c : cases)
    {
        if (s.isLiveLockOn() != c.locked)
            s.toggleLiveLock();
        view.refresh();
        const auto before = s.laneInfo (1).position;
        ASSERT_TRUE (dragThenClick());
        ASSERT_TRUE (tickUntil (s, [&] { return s.laneInfo (1).position != before; }, 480));
        EXPECT_GT (s.laneInfo (1).position, before + c.least) << c.locked;
        EXPECT_LT (s.laneInfo (1).position, before + c.most) << c.locked;
    }
}
} // namespace
} // namespace vantrel
