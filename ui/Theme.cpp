#include "ui/Theme.h"

#include "session/GainRange.h"
#include "ui/FocusCaret.h"
#include "ui/Fonts.h"

#include <utility>
#include <vector>

namespace vantrel
{
namespace
{
bool isStopButton (const juce::Component& c)
{
    const auto& id = c.getComponentID();
    return id == "stop" || id == "stop-lane" || id == "stop-pads";
}

/** The palette's value of each of its ids: what the Theme sets, and what a widget gets where no
    look-and-feel knows the id. */
std::vector<std::pair<int, juce::Colour>> paletteById()
{
    std::vector<std::pair<int, juce::Colour>> ids {
        { panelColourId, colours::panel },
        { fieldColourId, colours::field },
        { lineColourId, colours::line },
        { textColourId, colours::text },
        { dimTextColourId, colours::textDim },
        { accentColourId, colours::accent },
        { selectionColourId, colours::blue },
        { goColourId, colours::green },
        { readyColourId, colours::gold },
        { noticeColourId, colours::gold },
        { wheelTargetColourId, colours::orange },
        { alertColourId, colours::red },
        { meterSafeColourId, colours::green },
        { meterNearColourId, colours::gold },
        { meterOverColourId, colours::red },
        { libraryTextColourId, colours::library::text },
        { libraryDimTextColourId, colours::library::textDim },
        { libraryLineColourId, colours::library::line },
        { libraryAccentColourId, colours::library::accent },
        { libraryHighlightColourId, colours::library::highlight },
    };
    for (size_t band = 0; band < colours::eqBands.size(); ++band)
        ids.emplace_back (eqBandColourId + (int) band, colours::eqBands[band]);
    return ids;
}

juce::Colour paletteDefault (int colourId)
{
    static const auto ids = paletteById();
    for (const auto& [id, colour] : ids)
        if (id == colourId)
            return colour;
    jassertfalse;   // not one of the palette's ids
    return juce::Colours::black;
}

juce::Rectangle<float> shrunk (juce::Rectangle<float> r, float by)
{
    return { r.getX() + by, r.getY() + by, juce::jmax (0.0f, r.getWidth() - 2.0f * by),
             juce::jmax (0.0f, r.getHeight() - 2.0f * by) };
}
} // namespace

Theme::Theme()
{
    for (const auto& [id, colour] : paletteById())
        setColour (id, colour);
    setColour (juce::TextButton::textColourOffId, colours::text);
    setColour (juce::TextButton::textColourOnId, colours::accent);
    setColour (juce::Label::textColourId, colours::text);
    setColour (juce::TextEditor::backgroundColourId, colours::field);
    setColour (juce::TextEditor::textColourId, colours::text);
    setColour (juce::TextEditor::highlightColourId, colours::blue.withAlpha (0.3f));
    setColour (juce::TextEditor::outlineColourId, colours::line);
    setColour (juce::TextEditor::focusedOutlineColourId, colours::accent);
    setColour (juce::ListBox::backgroundColourId, juce::Colour (0x00000000));
    setColour (juce::ScrollBar::thumbColourId, colours::line.brighter (0.3f));
    setColour (juce::Slider::thumbColourId, colours::accent);
    setColour (juce::Slider::trackColourId, colours::accent.darker (0.5f));
    setColour (juce::Slider::backgroundColourId, colours::line);
    setColour (juce::Slider::textBoxTextColourId, colours::text);
    setColour (juce::Slider::textBoxBackgroundColourId, colours::field);
    setColour (juce::Slider::textBoxOutlineColourId, colours::line);
    setColour (juce::PopupMenu::backgroundColourId, colours::panel);
    setColour (juce::PopupMenu::textColourId, colours::text);
    setColour (juce::PopupMenu::highlightedBackgroundColourId, colours::blue.darker (0.8f));
    setColour (juce::AlertWindow::backgroundColourId, colours::panel);
    setColour (juce::AlertWindow::textColourId, colours::text);
    setColour (juce::AlertWindow::outlineColourId, colours::line);
    setDefaultSansSerifTypefaceName (uiSansName());
}

void Theme::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&, bool highlighted,
                                  bool down)
{
    const auto on = button.getToggleState();
    const auto bounds = shrunk (button.getLocalBounds().toFloat(), 0.7f);

    auto outline = themeColour (button, on ? (button.getComponentID() == "lock" ? noticeColourId : accentColourId)
                                           : lineColourId);
    if (isStopButton (button))
        outline = themeColour (button, alertColourId).darker (0.5f);

    const auto panel = themeColour (button, panelColourId);
    const auto face = down ? panel.brighter (0.25f) : (highlighted ? panel.brighter (0.12f) : panel);

    g.setGradientFill ({ face.brighter (0.08f), 0.0f, bounds.getY(), face.darker (0.1f), 0.0f, bounds.getBottom(),
                         false });
    g.fillRoundedRectangle (bounds, 6.0f);

    g.setColour (outline.withAlpha (button.isEnabled() ? 1.0f : 0.25f));
    g.drawRoundedRectangle (bounds, 6.0f, on ? 1.5f : 1.0f);

    if (on)
    {
        g.setColour (outline.withAlpha (0.13f));
        g.fillRoundedRectangle (shrunk (bounds, 1.0f), 5.0f);
    }
}

juce::Font Theme::getTextButtonFont (juce::TextButton&, int buttonHeight)
{
    return { uiSansName(), juce::jmin (0.4f * (float) buttonHeight, 12.0f), juce::Font::bold };
}

void Theme::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                              float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle style,
                              juce::Slider& slider)
{
    LookAndFeel_V4::drawLinearSlider (g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style, slider);

    if (slider.getMinimum() != minGainDb || slider.getMaximum() != maxGainDb)
        return;

    const auto p = (float) slider.valueToProportionOfLength (0.0);
    g.setColour (themeColour (slider, dimTextColourId));

    if (style == juce::Slider::LinearVertical)
    {
        const auto markY = (float) y + (float) height - (float) height * p;
        g.drawLine ((float) x, markY, (float) (x + width), markY, 1.0f);
    }
    else if (style == juce::Slider::LinearHorizontal)
    {
        const auto markX = (float) x + (float) width * p;
        g.drawLine (markX, (float) y + 2.0f, markX, (float) (y + height) - 2.0f, 1.0f);
    }
}

juce::Colour themeColour (const juce::Component& component, int colourId)
{
    // Called while painting: a component without properties has no colour of its own, and its
    // look-and-feel answers without the property look-up. Component::findColour answers black
    // where neither the component nor its look-and-feel knows the id.
    const auto& lookAndFeel = component.getLookAndFeel();
    const bool themed = lookAndFeel.isColourSpecified (colourId);
    if (themed && component.getProperties().isEmpty())
        return lookAndFeel.findColour (colourId);
    if (themed || component.isColourSpecified (colourId))
        return component.findColour (colourId);
    return paletteDefault (colourId);
}

juce::Colour themeColour (const juce::LookAndFeel& lookAndFeel, int colourId)
{
    return lookAndFeel.isColourSpecified (colourId) ? lookAndFeel.findColour (colourId) : paletteDefault (colourId);
}

void PaletteBindings::bind (juce::Component& part, int partColourId, int paletteColourId)
{
    bindings.push_back ({ &part, partColourId, paletteColourId });
}

void PaletteBindings::apply (const juce::Component& owner) const
{
    for (const auto& b : bindings)
        b.part->setColour (b.partColourId, themeColour (owner, b.paletteColourId));
}

void paintSectionBox (juce::Graphics& g, juce::Rectangle<float> area, const juce::Component& owner)
{
    if (! (area.getWidth() > 0.0f && area.getHeight() > 0.0f))
        return;

    g.setColour (themeColour (owner, panelColourId).withAlpha (0.62f));
    g.fillRoundedRectangle (area, 7.0f);

    const juce::Rectangle<float> edge { area.getX() + 0.5f, area.getY() + 0.5f,
                                        juce::jmax (0.0f, area.getWidth() - 1.0f),
                                        juce::jmax (0.0f, area.getHeight() - 1.0f) };
    g.setColour (themeColour (owner, lineColourId).withAlpha (0.7f));
    g.drawRoundedRectangle (edge, 7.0f, 1.0f);
}

juce::CaretComponent* Theme::createCaretComponent (juce::Component* keyFocusOwner)
{
    return new FocusCaret (keyFocusOwner);
}
} // namespace vantrel
