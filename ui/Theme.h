#pragma once

// Message thread only: the theme and the palette are used while painting.

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <vector>

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

/** The palette by role: the ids a widget looks its colours up by (themeColour below) instead of
    reading the palette. The Theme sets each id once from the palette, as it maps JUCE's own ids;
    an owner recolours a widget by setting an id on it (juce::Component::setColour), as it does
    with JUCE's own ids. */
enum PaletteColourIds
{
    // surfaces and lines
    panelColourId = 0x7a100001,         // a panel's or window's background: colours::panel
    fieldColourId = 0x7a100010,         // wells: lists, bars, clocks, text fields: colours::field
    lineColourId = 0x7a100011,          // outlines, rules, grid lines: colours::line

    // texts
    textColourId = 0x7a100020,          // primary text: colours::text
    dimTextColourId = 0x7a100002,       // secondary text (notes, headings, status lines): colours::textDim

    // states
    accentColourId = 0x7a100030,        // what is switched on or in force: colours::accent
    selectionColourId = 0x7a100031,     // the selected or current row or entry: colours::blue
    goColourId = 0x7a100032,            // GO and what sounds (a MAIN or OUTGOING row, a playing pad),
                                        // the brand, a ticked track: colours::green
    readyColourId = 0x7a100036,         // the row or pad READY waits on: colours::gold
    noticeColourId = 0x7a100033,        // what asks for a look (LIVE LOCK, notes, folders): colours::gold
    wheelTargetColourId = 0x7a100034,   // the control the mouse wheel drives: colours::orange
    alertColourId = 0x7a100035,         // errors, failures, a missing output, STOP: colours::red

    // the level meter's zones
    meterSafeColourId = 0x7a100040,     // below -9 dBFS: colours::green
    meterNearColourId = 0x7a100041,     // -9 to -1 dBFS: colours::gold
    meterOverColourId = 0x7a100042,     // above -1 dBFS: colours::red

    // the library panel's own variant of the texts, the lines and the accent, plus its highlight
    libraryTextColourId = 0x7a100050,
    libraryDimTextColourId = 0x7a100051,
    libraryLineColourId = 0x7a100052,
    libraryAccentColourId = 0x7a100053,
    libraryHighlightColourId = 0x7a100054,   // a missing file, an unused copy

    // one per EQ band: eqBandColourId + band index, in band order (colours::eqBands)
    eqBandColourId = 0x7a100060,
};

/** The colour `colourId` (a PaletteColourIds value) as `component` finds it: set on the component,
    else from its look-and-feel; the palette's own value where neither knows the id (a widget
    painted outside the program's windows, as in tests). */
juce::Colour themeColour (const juce::Component& component, int colourId);

/** The colour `colourId` from a look-and-feel, the palette's own value where it does not know the id. */
juce::Colour themeColour (const juce::LookAndFeel& lookAndFeel, int colourId);

/** Colours of a widget's parts (a label's text, a list's background...) that follow palette ids:
    the widget binds each once and applies them again whenever its look-and-feel or its colours
    change, so parts built before the widget was placed in a window take the window's theme. */
class PaletteBindings
{
public:
    /** `part`'s colour `partColourId` is `owner`'s palette colour `paletteColourId` from now on. */
    void bind (juce::Component& part, int partColourId, int paletteColourId);

    /** Sets every bound part's colour from `owner` (the component the parts live in). */
    void apply (const juce::Component& owner) const;

private:
    struct Binding
    {
        juce::Component* part;
        int partColourId;
        int paletteColourId;
    };
    std::vector<Binding> bindings;
};

/** The program's look-and-feel: maps the palette onto JUCE's colour ids and its own, and draws
    buttons and linear sliders. The typeface that texts really use is set once on JUCE's default
    look-and-feel (installUiFonts in ui/Fonts.h), because font lookup never consults a
    component's own look-and-feel; this one only repeats the family name. */
class Theme : public juce::LookAndFeel_V4
{
public:
    Theme();

    /** Palette faces with an outline by toggle state: the notice colour (gold) for "lock" when
        on, accent for others when on, line when off; the stop buttons always the alert colour
        darkened. Each through the palette ids the button finds. The colour argument is not used. */
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool highlighted, bool down) override;

    /** Bold, min (0.4 x height, 12) high. */
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;

    /** JUCE's slider plus a 0 dB mark on linear sliders of the gain range -60..+12. */
    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                           float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle,
                           juce::Slider&) override;

    /** A caret that blinks only while its field has the focus (ui/FocusCaret.h). */
    juce::CaretComponent* createCaretComponent (juce::Component* keyFocusOwner) override;
};

/** A section's background box: a translucent panel with a thin outline, in the palette colours
    `owner` finds; nothing for an empty rectangle. */
void paintSectionBox (juce::Graphics&, juce::Rectangle<float> area, const juce::Component& owner);
} // namespace vantrel
