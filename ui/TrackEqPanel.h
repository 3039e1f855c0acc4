#pragma once
// Message thread only, except the analyser worker it owns (TrackEqAnalyser.h).

#include "app/SessionCoordinator.h"
#include "ui/Theme.h"
#include "ui/TrackEqAnalyser.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace vantrel
{
/** The plot area of the EQ curve and its scales: 20 Hz..20 kHz logarithmic across, EQ gain
    from +24 dB at the top to -24 dB at the bottom, spectrum level from +12 dBFS at the top to
    -96 dBFS at the bottom. */
struct EqPlot
{
    float left = 0.0f, top = 0.0f, width = 0.0f, height = 0.0f;

    /** The plot inside a curve's bounds: 36 px each side, 18 px above and below. */
    static EqPlot of (juce::Rectangle<int> bounds);

    float bottom() const  { return top + height; }
    /** The frequency of a plot column (0 at the left edge, `width` at the right). */
    double columnFrequency (double column) const;
    float xOf (double frequency) const;
    /** The frequency under x, limited to 20..20000 Hz. */
    double frequencyAt (float x) const;
    float yOfGain (double dB) const;
    /** The EQ gain under y, limited to -18..+18 dB. */
    double gainAt (float y) const;
    float yOfLevel (double dBFS) const;
};

/** One 8-band EQ — of a track row, a playlist's bus or the master output — as a table of band
    controls over an interactive curve: the summed response of the bands (the engine's own
    design and response), one draggable handle per band and, behind it, the live spectrum of the
    signal after this EQ. It reads and writes the EQ only through the coordinator's mix edits: a
    handle or slider drag is one history step whose intermediate values the engine hears, every
    other change is one step at once. Under LIVE LOCK the values are fixed; a press on a handle
    still selects it. */
class TrackEqPanel : public juce::Component, public juce::Timer
{
public:
    /** target: "@master", "@playlist:" + a playlist id, or a row id; fixed for the panel's life. */
    TrackEqPanel (SessionCoordinator& coordinator, std::string target);
    ~TrackEqPanel() override;

    /** Ends a pending drag as its one history step, then refreshes. The window calls it when it
        is closed. */
    void finishDrag();
    /** Sets every control from the target's EQ (the last values stay when it is gone). */
    void refresh();
    /** Sends the working copy: as a live value during a drag, else as one committed step. */
    void applyEdit();

    /** 30 Hz: the analysis token of the target's signal, the worker's newest spectrum, and the
        model read every third tick. */
    void timerCallback() override;
    void paint (juce::Graphics&) override;
    void resized() override;
    /** The labels' colours follow the palette ids (ui/Theme.h) of the window the panel is in. */
    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;
    void colourChanged() override;

    const std::string& targetId() const  { return target; }
    /** The working copy of the EQ, as the controls show it. */
    const EqSettings& settings() const  { return eq; }
    int selectedBandIndex() const  { return selectedBand; }
    /** The spectrum the curve draws (cleared while the target's signal is not playing). */
    const AnalyserSnapshot& spectrumSnapshot() const  { return spectrum; }
    juce::Thread::ThreadID analyserThreadId() const  { return worker->threadId(); }

    /** The frequency/gain plot with the response, the handles and the spectrum ("eq-curve"). */
    class Curve : public juce::Component
    {
    public:
        explicit Curve (TrackEqPanel& panel);

        EqPlot plot() const  { return EqPlot::of (getLocalBounds()); }
        /** Where band 0..7's handle sits (High and Low Pass on the 0 dB line). */
        juce::Point<float> handleCentre (int band) const;
        /** The summed response as drawn, in dB, one value per plot column 0..width. */
        const std::vector<double>& response();
        /** The spectrum as drawn, in dBFS, one value per plot column up to half the rate; empty
            while no spectrum is ready. */
        std::vector<float> spectrumLevels() const;

        /** Repaints the part that changes (the plot and the handles reaching out of it). */
        void repaintPlot();
        /** repaintPlot, only when the EQ or the selection differs from what was painted last. */
        void repaintIfChanged();

        /** The static parts (background, grids, scales) come from a cached image, drawn again
            only for a new size or pixel scale, or when the colours may have changed (the three
            overrides below drop it). */
        void paint (juce::Graphics&) override;
        void lookAndFeelChanged() override;
        void parentHierarchyChanged() override;
        void colourChanged() override;
        void mouseDown (const juce::MouseEvent&) override;
        void mouseDrag (const juce::MouseEvent&) override;
        void mouseUp (const juce::MouseEvent&) override;
        void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

    private:
        void paintBackground (juce::Graphics&, const EqPlot&) const;
        void paintSpectrum (juce::Graphics&, const EqPlot&) const;
        void paintHandles (juce::Graphics&) const;

        TrackEqPanel& panel;
        juce::Image background;
        float backgroundScale = 0.0f;
        EqSettings paintedEq;
        int paintedSelection = -1;
        juce::Path responsePath, responseStroke;
        std::vector<double> responseValues;
        // What the cached response was built for.
        EqSettings builtFor;
        double builtRate = 0.0;
        int builtWidth = -1, builtHeight = -1;
        // The handle held by the press that opened the drag, with its values at the press.
        bool holding = false;
        EqBand held;
        juce::Point<float> pressedAt;
    };

private:
    struct BandRow
    {
        juce::Label number;
        juce::ToggleButton on { "ON" };
        juce::ComboBox shape;
        juce::Slider frequency, gain, q;
    };

    const EqSettings* liveSettings() const;
    bool editable() const  { return coordinator.canEditEq (target); }
    void setUpBand (int index);
    void startSliderDrag (int band);
    void endSliderDrag();
    void copyToClipboard();
    void pasteFromClipboard();

    SessionCoordinator& coordinator;
    const std::string target;
    EqSettings eq;
    Curve curve { *this };
    juce::Label titleLabel, noteLabel, flowLabel;
    juce::TextButton enableButton { "EQ OFF" }, resetButton, copyButton { "COPY" }, pasteButton { "PASTE" };
    std::array<BandRow, EqSettings::numBands> bands;
    PaletteBindings paletteParts;
    bool refreshing = false;
    bool dragging = false;
    int selectedBand = 0;
    AnalyserSnapshot spectrum;
    std::unique_ptr<AnalyserWorker> worker;
    std::int64_t lastToken = 0;
    int tickCount = 0;
};
} // namespace vantrel
