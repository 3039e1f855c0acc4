#pragma once

// Message thread only. The main view's three wave lanes: each shows its track's number, title and
// scrolling waveform under a fixed centre playhead, and its TIME and REMAIN readout.

#include "app/SessionCoordinator.h"
#include "ui/Theme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace vantrel
{
/** "03:07" for 187.25 s, "03:07.25" with hundredths; "--:--" ("--:--.--") for a value that is
    not finite. Negative values read as 0. */
juce::String formatClock (double seconds, bool hundredths);

/** A lane's time readout ("wave-time"): TIME (elapsed) and REMAIN side by side. A left press
    calls onClick. */
class WaveTime : public juce::Component
{
public:
    WaveTime();

    void paint (juce::Graphics&) override;
    void mouseDown (const juce::MouseEvent&) override;

    std::function<void()> onClick;
    double elapsed = 0.0;
    double remain = 0.0;
    bool hasLength = false;
    bool large = true;       // the bigger figures of MAIN and READY
    bool detailed = false;   // hundredths shown
};

/** One wave lane: 0 OUTGOING, 1 MAIN, 2 READY. The waveform is drawn from a cached image three
    screens wide and the static parts from a second cached image, so that a frame of a scrolling
    lane costs two blits. While it plays (or flashes after a GO) the lane's 60 Hz timer repaints
    its waveform strip when what the strip shows moved: the waveform by a whole column, the
    flash's drop-in, a cached image that must be drawn again; otherwise only a new status
    repaints it. MAIN can be scrubbed by dragging its waveform. */
class WaveLaneView : public juce::Component, public juce::Timer
{
public:
    explicit WaveLaneView (int kind);

    /** Takes the view's new status for the lane; markChange: a GO has just moved the row into it. */
    void setStatus (WaveLaneInfo info, bool markChange);
    void setLaneColour (juce::Colour colour);
    /** The time span across the waveform area; a value that is not positive and finite is ignored. */
    void setSecondsShown (double seconds);
    /** While set (LIVE LOCK's waveform seek scope) a drag does not scrub. */
    void setSeekProtected (bool locked);

    /** What the timer repaints: the waveform area with a margin, over the whole height. */
    juce::Rectangle<int> waveformStrip() const;
    /** How many times the timer has repainted. */
    int timerRepaints() const { return repaintsByTimer; }

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    /** The lane's palette colours (ui/Theme.h) are taken again: the overlay is drawn anew. */
    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;
    void colourChanged() override;

    const int kind;
    std::function<void (double seconds)> onScrub;   // a seek relative to the current position
    WaveLaneInfo status;                            // as last given; read only outside the lane
    WaveTime time;
    juce::TextButton stopButton;                    // shown on OUTGOING and MAIN only
    /** The lane's clock in milliseconds (the high-resolution counter); a test passes its own. */
    std::function<double()> clock;

    /** The view's frames call frame() from now on, in place of the lane's own 60 Hz timer. */
    void takeFramesFromView()  { stopTimer(); framesFromView = true; }
    /** One frame: the waveform strip is repainted where it moved. */
    void frame()  { if (needsFrames()) timerCallback(); }
    /** True while the frame timer has something to paint: the lane plays, or a flash is on. */
    bool needsFrames() const  { return (status.active && ! status.paused) || flashToClear; }

private:
    /** Where the waveform goes at `now`: its area, the drawn band and the image's size. */
    struct WavePlacement
    {
        juce::Rectangle<int> box;
        float top = 0.0f, height = 0.0f;
        int columns = 1, imageHeight = 1;
        double start = 0.0;         // the time at the area's left edge
        double flashOffset = 0.0;   // the drop-in's downward shift
    };

    juce::Colour stateColour() const;
    juce::Colour waveformColour() const;
    WavePlacement placeWaveform (double now) const;
    /** True when the cached waveform image is the one `p` needs (else the next paint draws it again). */
    bool waveImageFits (const WavePlacement& p, juce::Colour colour) const;
    /** The image's top-left corner for `p`, from the cached image's start. */
    juce::Point<int> waveImageOrigin (const WavePlacement& p) const;
    /** True when the timer's repaint would show something other than the last painted waveform. */
    bool waveformMoved (double now) const;
    bool flashing (double now, double span) const;
    double currentTime (double now) const;
    void updateTime();
    void paintWaveform (juce::Graphics&, const WavePlacement&, juce::Colour colour);
    /** Draws the image three widths wide at the screen's pixel scale `scale`. */
    void buildWaveImage (const orvane::audio::WaveformPeakData& peaks, double duration, int columns, int height,
                         juce::Colour colour, float scale);
    void paintOverlay (juce::Graphics&, juce::Colour state);

    double secondsShown = 300.0;
    bool scrubLocked = false;
    juce::Colour laneColour;   // the GO colour until the view gives the preferences' one
    PaletteBindings paletteParts;

    bool overlayDirty = true;
    juce::Colour overlayColour;
    float overlayScale = 1.0f;
    juce::Image overlayImage;
    juce::RectangleList<int> overlayContent;   // where the overlay image is not transparent, with a margin

    bool scrubbing = false;
    float lastMouseX = 0.0f;
    std::uint32_t changeTimeMs = 0;   // the clock at the last marked change; 0: none
    bool flashToClear = false;        // the frame after the flash is still to be painted
    double anchorTimeMs = 0.0;        // the clock when status.position was taken

    juce::Image waveImage;
    std::shared_ptr<const orvane::audio::WaveformPeakData> wavePeaks;
    int waveColumns = 0;
    int waveHeight = 0;
    double waveSeconds = 0.0;
    double waveStart = 0.0;
    juce::Colour waveColour;
    float waveScale = 1.0f;            // screen pixels per lane pixel the image was drawn at
    bool wavePainted = false;          // the whole area was last painted with the image at paintedOrigin
    juce::Point<int> paintedOrigin;

    std::int64_t shownElapsed = -1, shownRemain = -1;   // the readout's displayed units
    bool shownHasLength = false;
    int repaintsByTimer = 0;
    bool framesFromView = false;
};
} // namespace vantrel
