#pragma once

// Message thread only. These widgets paint themselves; the main view places them, feeds them
// and wires their clicks.

#include "audio/dsp/MasterOutputProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

namespace vantrel
{
/** The master output meter: two peak bars (red above -1 dB, gold above -9 dB, else green) and
    the larger peak as "… dBFS". A value that is not finite shows as silence. */
class Meter : public juce::Component
{
public:
    /** Takes the coordinator's latest meters; repaints when what the meter shows changed. */
    void setValues (const orvane::audio::MasterOutputMeters&);

    void paint (juce::Graphics&) override;

    orvane::audio::MasterOutputMeters values;

private:
    /** What the meter draws: per bar its colour zone (0 green, 1 gold, 2 red) and lit height. */
    struct Shown
    {
        std::array<int, 2> zone { -1, -1 }, lit { -1, -1 };
        juce::String text;
    };

    int barHeight() const;
    Shown shownFor (const orvane::audio::MasterOutputMeters&) const;

    Shown lastShown;
    int shownHeight = -1;
};

/** The meter's text: the larger of the two peaks with one decimal and " dBFS". */
juce::String peakText (float peakLeftDb, float peakRightDb);

/** The readout beside the meter: "GR  -3.2 dB" for 3.2 dB of limiter reduction; no
    reduction reads "GR  0.0 dB", as before the first refresh. */
juce::String gainReductionText (float limiterReductionDb);

/** The SAFETY mark shows while the true-peak stage reduces by more than 0.05 dB. */
bool safetyMarkVisible (float truePeakReductionDb);

/** The GO button: outline, icon and "GO!" in the GO colour (ui/Theme.h), and its caption. */
class GoButton : public juce::Button
{
public:
    GoButton();

    void paintButton (juce::Graphics&, bool highlighted, bool down) override;

    juce::String caption { "ENTER / PLAY" };

private:
    juce::Image icon;         // drawn again when the GO colour changes
    juce::Colour iconColour;
};

/** The REPEAT button: a loop icon and the mode word; mode 0 off, 1 one, 2 (and any other) all. */
class RepeatButton : public juce::TextButton
{
public:
    RepeatButton();

    void paintButton (juce::Graphics&, bool highlighted, bool down) override;

    int mode = 0;
};

/** The product's wordmark beside the title area; takes no clicks. */
class BrandMark : public juce::Component
{
public:
    BrandMark();
    void paint (juce::Graphics&) override;
};

/** The small "PAD" mark above the pads; takes no clicks. */
class PadBrand : public juce::Component
{
public:
    PadBrand();
    void paint (juce::Graphics&) override;
};
} // namespace vantrel
