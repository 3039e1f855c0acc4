#pragma once

// Message thread only: the theme and the palette are used while painting.

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

namespace vantrel
{
/** The one dark palette every widget of the user interface paints with. */
namespace colours
{
inline const juce::Colour text { 0xFFEDF3F6 };
inline const juce::Colour field { 0xFF0C1116 };
inline const juce::Colour textDim { 0xFF91A2AF };
inline const juce::Colour line { 0xFF2B3944 };
inline const juce::Colour accent { 0xFF9CDDE8 };
inline const juce::Colour panel { 0xFF141D24 };
inline const juce::Colour red { 0xFFEF7776 };
inline const juce::Colour orange { 0xFFFFA23A };
inline const juce::Colour blue { 0xFF77ADF5 };
inline const juce::Colour green { 0xFF48DE8A };
inline const juce::Colour gold { 0xFFE4B263 };

/** One colour per EQ band, in band order. */
inline const std::array<juce::Colour, 8> eqBands { juce::Colour (0xFFF59778), juce::Colour (0xFFE4B263),
                                                   juce::Colour (0xFFCADF7B), juce::Colour (0xFF78D7A0),
                                                   juce::Colour (0xFF77D6E8), juce::Colour (0xFF77ADF5),
                                                   juce::Colour (0xFFB398ED), juce::Colour (0xFFE799C7) };

/** The library panel's own variant of four palette values, plus its highlight. */
namespace library
{
inline const juce::Colour text { 0xFFEDF3F6 };
inline const juce::Colour textDim { 0xFF9DB0BB };
inline const juce::Colour line { 0xFF293B45 };
inline const juce::Colour accent { 0xFF91D8E6 };
inline const juce::Colour highlight { 0xFFEEB85D };
} // namespace library
} // namespace colours

/** Palette colours that a widget looks up in its look-and-feel (juce::Component::findColour)
    instead of reading the palette; the Theme maps them as it maps JUCE's own ids. */
enum PaletteColourIds
{
    panelColourId = 0x7a100001,     // a panel's background: colours::panel
    dimTextColourId = 0x7a100002,   // secondary text (notes, status lines): colours::textDim
};

/** The program's look-and-feel: maps the palette onto JUCE's colour ids and its own, and draws
    buttons and linear sliders. The typeface that texts really use is set once on JUCE's default
    look-and-feel (installUiFonts in ui/Fonts.h), because font lookup never consults a
    component's own look-and-feel; this one only repeats the family name. */
class Theme : public juce::LookAndFeel_V4
{
public:
    Theme();

    /** Palette faces with an outline by toggle state: gold for "lock" when on, accent for
        others when on, line when off; the stop buttons always darkened red. The colour
        argument is not used. */
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool highlighted, bool down) override;

    /** Bold, min (0.4 x height, 12) high. */
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;

    /** JUCE's slider plus a 0 dB mark on linear sliders of the gain range -60..+12. */
    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                           float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle,
                           juce::Slider&) override;
};

/** A section's background box: a translucent panel with a thin outline; nothing for an empty
    rectangle. */
void paintSectionBox (juce::Graphics&, juce::Rectangle<float> area);
} // namespace vantrel
