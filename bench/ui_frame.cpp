// One 30 Hz frame of the main view: its timer's work (the coordinator's tick, the lanes' refresh
// and every third frame the full refresh) plus the software painting of what that made dirty, with
// a 1,000-row playlist open and a track playing (the engine rendered offline, one frame's worth of
// audio between frames, not timed), at the default window size 1380x860.
// The window is painted off-screen, without an X display: its peer is a recording one that
// collects the repainted areas as a real peer does and paints exactly those, through the
// look-and-feel's software renderer, when the frame asks for the pending repaints.
// Figures: CPU time of the message thread per frame (CLOCK_THREAD_CPUTIME_ID).
// Usage: bench_ui_frame [--frames=N]   (other arguments, such as the benchmark library's, are ignored)

#include "BenchArguments.h"
#include "session/UiLanguage.h"
#include "support/MessagePump.h"
#include "tests/ui/DemoShow.h"
#include "ui/FittedContent.h"
#include "ui/Fonts.h"
#include "ui/VantrelView.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace
{
using namespace vantrel;

constexpr int width = 1380, height = 860;
constexpr int framesPerTick = 1600;   // 48 kHz at the view's 30 Hz
constexpr int warmUpFrames = 60;

double threadCpuMs()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec * 1000.0 + (double) t.tv_nsec / 1.0e6;
}

double percentile (std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    return values[std::min (values.size() - 1, (size_t) (p * (double) (values.size() - 1) + 0.5))];
}

/** A window peer without a native window: it keeps the areas its component repaints and, when
    asked for the pending repaints, paints just those into its image as JUCE's Linux peer does. */
class RecordingPeer : public juce::ComponentPeer
{
public:
    RecordingPeer (juce::Component& component, int styleFlags) : juce::ComponentPeer (component, styleFlags) {}

    void repaint (const juce::Rectangle<int>& area) override  { dirty.add (area.getIntersection (bounds.withZeroOrigin())); }

    void performAnyPendingRepaintsNow() override
    {
        dirty.consolidate();
        if (dirty.isEmpty())
            return;
        if (image.getWidth() != bounds.getWidth() || image.getHeight() != bounds.getHeight())
            image = juce::Image (juce::Image::RGB, std::max (1, bounds.getWidth()), std::max (1, bounds.getHeight()), true);
        paintedPixels = 0;
        for (const auto& r : dirty)
            paintedPixels += (std::int64_t) r.getWidth() * r.getHeight();
        const auto region = dirty;
        dirty.clear();
        const auto context = getComponent().getLookAndFeel().createGraphicsContext (image, {}, region);
        handlePaint (*context);
    }

    std::int64_t paintedPixels = 0;   // by the last performAnyPendingRepaintsNow

    void* getNativeHandle() const override  { return nullptr; }
    void setVisible (bool) override {}
    void setTitle (const juce::String&) override {}
    void setBounds (const juce::Rectangle<int>& newBounds, bool) override  { bounds = newBounds; }
    juce::Rectangle<int> getBounds() const override  { return bounds; }
    juce::Point<float> localToGlobal (juce::Point<float> p) override  { return p + bounds.getPosition().toFloat(); }
    juce::Point<float> globalToLocal (juce::Point<float> p) override  { return p - bounds.getPosition().toFloat(); }
    void setMinimised (bool) override {}
    bool isMinimised() const override  { return false; }
    void setFullScreen (bool) override {}
    bool isFullScreen() const override  { return false; }
    void setIcon (const juce::Image&) override {}
    bool contains (juce::Point<int> p, bool) const override  { return bounds.withZeroOrigin().contains (p); }
    OptionalBorderSize getFrameSizeIfPresent() const override  { return {}; }
    juce::BorderSize<int> getFrameSize() const override  { return {}; }
    bool setAlwaysOnTop (bool) override  { return false; }
    void toFront (bool) override {}
    void toBehind (juce::ComponentPeer*) override {}
    bool isFocused() const override  { return false; }
    void grabFocus() override {}
    void textInputRequired (juce::Point<int>, juce::TextInputTarget&) override {}
    void setAlpha (float) override {}
    juce::StringArray getAvailableRenderingEngines() override  { return { "Software Renderer" }; }

private:
    juce::Rectangle<int> bounds;
    juce::RectangleList<int> dirty;
    juce::Image image;
};

/** The main window's content (the fitted view) on a recording peer. */
class OffscreenWindow : public juce::Component
{
public:
    explicit OffscreenWindow (juce::Component& view) : fitted (view)  { addAndMakeVisible (fitted); }

    void resized() override  { fitted.setBounds (getLocalBounds()); }
    juce::ComponentPeer* createNewPeer (int styleFlags, void*) override  { return new RecordingPeer (*this, styleFlags); }

private:
    FittedContent fitted;
};

struct Frame
{
    double timerMs, paintMs;
    std::int64_t pixels;
    bool full;   // the frame of the full refresh
};

void printFrames (const char* what, const std::vector<Frame>& frames, bool withGoal)
{
    std::vector<double> total, timer, paint, pixels;
    for (const auto& f : frames)
    {
        total.push_back (f.timerMs + f.paintMs);
        timer.push_back (f.timerMs);
        paint.push_back (f.paintMs);
        pixels.push_back ((double) f.pixels);
    }
    std::printf ("    %s, %zu frames: median %.3f ms  p95 %.3f ms  max %.3f ms  (timer %.3f + paint %.3f ms median,"
                 " %.0f px painted median)\n",
                 what, frames.size(), percentile (total, 0.5), percentile (total, 0.95), percentile (total, 1.0),
                 percentile (timer, 0.5), percentile (paint, 0.5), percentile (pixels, 0.5));
    if (withGoal)
        std::printf ("    goal median under 4 ms: %s\n", percentile (total, 0.5) < 4.0 ? "met" : "not met");
}

using vantrel::bench::intArgument;

int fail (const juce::String& why)
{
    std::printf ("bench_ui_frame: %s\n", why.toRawUTF8());
    return 1;
}
} // namespace

int main (int argc, char** argv)
{
    const int frames = intArgument (argc, argv, "frames", 300);
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();
    setUiLanguage (false);

    test::SessionRig rig;
    auto session = rig.make();
    test::DemoShowOptions options;
    options.bigPlaylistRows = 1000;
    options.firstTrackSeconds = 5.0 + (warmUpFrames + frames) / 30.0;
    const auto show = test::buildDemoShow (*session, rig.media(), options);
    if (! show.ok())
        return fail (show.error);
    juce::String error;
    if (! test::openDemoPlaylist (*session, show.bigPlaylistId, error) || ! test::playDemoTrack (*session, 1.0, error))
        return fail (error);

    int result = 0;
    {
        VantrelView view (*session);
        view.stopTicking();   // the frames below run its timer's step themselves
        OffscreenWindow window (view);
        window.setBounds (0, 0, width, height);
        window.addToDesktop (0);
        window.setVisible (true);
        auto* peer = dynamic_cast<RecordingPeer*> (window.getPeer());
        if (peer == nullptr)
            return fail ("the window has no recording peer");
        peer->performAnyPendingRepaintsNow();

        std::vector<Frame> lanes, full;
        for (int i = 0; i < warmUpFrames + frames; ++i)
        {
            session->mutableAudioAdapter().renderOfflineFrames (framesPerTick);
            platform::pumpPostedMessages();   // what else waits on the message thread, not timed
            const auto start = threadCpuMs();
            view.timerCallback();
            const auto ticked = threadCpuMs();
            peer->performAnyPendingRepaintsNow();
            const auto painted = threadCpuMs();
            if (i < warmUpFrames)
                continue;
            // The view counts its ticks from 0 at its build: every third is the full refresh.
            const bool isFull = (i + 1) % 3 == 0;
            (isFull ? full : lanes).push_back ({ ticked - start, painted - ticked, peer->paintedPixels, isFull });
        }
        const auto lane = session->laneInfo (1);
        if (! lane.active)
            result = fail ("MAIN stopped before the last frame");

        std::vector<Frame> all (lanes);
        all.insert (all.end(), full.begin(), full.end());
        std::printf ("one 30 Hz frame of the main view (timer step + software painting of the dirty area), %dx%d,\n"
                     "    %d-row playlist open, MAIN playing (at %.1f s after the last frame), off-screen peer, CPU time of\n"
                     "    the message thread, after %d frames of warm-up\n",
                     width, height, options.bigPlaylistRows, lane.position, warmUpFrames);
        printFrames ("every frame", all, true);
        printFrames ("lanes-only frames", lanes, false);
        printFrames ("full-refresh frames (every third)", full, false);
        window.removeFromDesktop();
    }
    return result;
}
