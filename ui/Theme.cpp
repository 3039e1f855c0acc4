#include "ui/Theme.h"

#include "session/GainRange.h"
#include "ui/Fonts.h"

namespace vantrel
{
namespace
{
bool isStopButton (const juce::Component& c)
{
    const auto& id = c.getComponentID();
    return id == "stop" || id == "stop-lane" || id == "stop-pads";
}

juce::Rectangle<float> shrunk (juce::Rectangle<float> r, float by)
{
    return { r.getX() + by, r.getY() + by, juce::jmax (0.0f, r.getWidth() - 2.0f * by),
             juce::jmax (0.0f, r.getHeight() - 2.0f * by) };
}
} // namespace

Theme::Theme()
{
    setColour (panelColourId, colours::panel);
    setColour (dimTextColourId, colours::textDim);
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

    auto outline = on ? (button.getComponentID() == "lock" ? colours::gold : colours::accent) : colours::line;
    if (isStopButton (button))
        outline = colours::red.darker (0.5f);

    const auto face = down ? colours::panel.brighter (0.25f)
                           : (highlighted ? colours::panel.brighter (0.12f) : colours::panel);

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
    g.setColour (colours::textDim);

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

void paintSectionBox (juce::Graphics& g, juce::Rectangle<float> area)
{
    if (! (area.getWidth() > 0.0f && area.getHeight() > 0.0f))
        return;

    g.setColour (colours::panel.withAlpha (0.62f));
    g.fillRoundedRectangle (area, 7.0f);

    const juce::Rectangle<float> edge { area.getX() + 0.5f, area.getY() + 0.5f,
                                        juce::jmax (0.0f, area.getWidth() - 1.0f),
                                        juce::jmax (0.0f, area.getHeight() - 1.0f) };
    g.setColour (colours::line.withAlpha (0.7f));
    g.drawRoundedRectangle (edge, 7.0f, 1.0f);
}
} // namespace vantrel
