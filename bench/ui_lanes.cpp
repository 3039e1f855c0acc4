// The three wave lanes at 60 Hz: OUTGOING, MAIN and READY, 1380 px wide at their layout heights
// (37, 50, 50), each over the peaks of its own 5-minute track (generated, decoded through the
// loader's peak reduction), active and playing, the position advancing 1/60 s a frame. A frame is
// what the view and the lanes' timers do: the new status, the timer step, and, when the timer asked
// for it, the software painting of the area it repainted into the lane's image.
// Figures: CPU time of the thread per frame for the three lanes together (CLOCK_THREAD_CPUTIME_ID),
// at the default span (5 minutes) and at the shortest (10 s, the cached image is redrawn every
// 10 s of play).
// Usage: bench_ui_lanes [--frames=N]   (other arguments are ignored)

#include "BenchTiming.h"
#include "BenchArguments.h"
#include "audio/media/WaveformPeaks.h"
#include "ui/Fonts.h"
#include "ui/WaveLane.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace
{
using namespace vantrel;

constexpr int width = 1380;
constexpr std::array<int, 3> heights { 37, 50, 50 };
constexpr double rate = 48000.0, trackSeconds = 300.0;

using vantrel::bench::threadCpuMs;
using vantrel::bench::percentile;

/** A 5-minute stereo track: a 220 Hz tone whose level follows a slow deterministic envelope. */
std::shared_ptr<LoadedMedia> fiveMinuteTrack (int variant)
{
    const auto frames = (size_t) (trackSeconds * rate);
    std::vector<float> samples (frames * 2);
    for (size_t i = 0; i < frames; ++i)
    {
        const double t = (double) i / rate;
        const auto level = 0.15 + 0.8 * std::abs (std::sin (t * (0.7 + 0.2 * variant)) * std::sin (t * 0.05));
        const auto value = (float) (level * std::sin (2.0 * juce::MathConstants<double>::pi * 220.0 * t));
        samples[2 * i] = value;
        samples[2 * i + 1] = 0.8f * value;
    }
    auto media = std::make_shared<LoadedMedia>();
    media->peaks = std::make_shared<orvane::audio::WaveformPeakData> (
        orvane::audio::computeWaveformPeaks (samples.data(), samples.size(), 2, rate, orvane::audio::defaultFramesPerPeak));
    media->duration = trackSeconds;
    media->fileName = "Track " + juce::String (variant + 1) + ".wav";
    media->format = "WAV";
    return media;
}

void run (double secondsShown, int frames, const std::array<std::shared_ptr<LoadedMedia>, 3>& media)
{
    std::array<std::unique_ptr<WaveLaneView>, 3> lanes;
    std::array<juce::Image, 3> images;
    std::array<WaveLaneInfo, 3> infos;
    for (int i = 0; i < 3; ++i)
    {
        lanes[(size_t) i] = std::make_unique<WaveLaneView> (i);
        auto& lane = *lanes[(size_t) i];
        lane.stopTimer();   // the frames below run its step
        lane.setSize (width, heights[(size_t) i]);
        lane.setSecondsShown (secondsShown);
        images[(size_t) i] = juce::Image (juce::Image::RGB, width, heights[(size_t) i], true);
        infos[(size_t) i] = { "row-" + std::to_string (i), "Track " + std::to_string (i + 1), media[(size_t) i],
                              20.0 + 40.0 * i, trackSeconds, true, false, i == 2, i + 1 };
        lane.setStatus (infos[(size_t) i], false);
        juce::Graphics g (images[(size_t) i]);
        lane.paintEntireComponent (g, true);   // the first full paint, not timed
    }

    std::vector<double> perFrame;
    for (int f = 0; f < frames; ++f)
    {
        const auto start = threadCpuMs();
        for (int i = 0; i < 3; ++i)
        {
            auto& lane = *lanes[(size_t) i];
            infos[(size_t) i].position += 1.0 / 60.0;
            lane.setStatus (infos[(size_t) i], false);
            const auto repaintsBefore = lane.timerRepaints();
            lane.timerCallback();
            if (lane.timerRepaints() == repaintsBefore)
                continue;   // the timer asked for nothing: the waveform has not moved a column
            juce::Graphics g (images[(size_t) i]);
            g.reduceClipRegion (lane.waveformStrip());
            lane.paintEntireComponent (g, true);
        }
        perFrame.push_back (threadCpuMs() - start);
    }
    const auto median = percentile (perFrame, 0.5);
    std::printf ("    span %5.0f s, %d frames: median %.3f ms  p99 %.3f ms  max %.3f ms per frame of three lanes"
                 " (%d timer repaints of MAIN)\n",
                 secondsShown, frames, median, percentile (perFrame, 0.99), percentile (perFrame, 1.0),
                 lanes[1]->timerRepaints());
    std::printf ("    goal median under 2 ms: %s\n", median < 2.0 ? "met" : "not met");
}
} // namespace

int main (int argc, char** argv)
{
    const int frames = vantrel::bench::intArgument (argc, argv, "frames", 1200);
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();
    const std::array<std::shared_ptr<LoadedMedia>, 3> media { fiveMinuteTrack (0), fiveMinuteTrack (1), fiveMinuteTrack (2) };
    std::printf ("three wave lanes at 60 Hz, %d px wide, %d/%d/%d px high, 5-minute tracks playing, software painting\n"
                 "    of the timer's repaint area, CPU time of the thread\n",
                 width, heights[0], heights[1], heights[2]);
    run (300.0, frames, media);
    run (10.0, frames, media);
    return 0;
}
