#include "ui/Meters.h"

#include "ui/Fonts.h"
#include "ui/Theme.h"

#include <cmath>

namespace vantrel
{
namespace
{
float finiteOr (float value, float fallback)
{
    return std::isfinite (value) ? value : fallback;
}

juce::Font uiFont (float height, int style = juce::Font::plain)
{
    return { uiSansName(), height, style };
}

juce::Font brandFont (float height)
{
    return { brandFontName(), height, juce::Font::bold | juce::Font::italic };
}

void fillTriangle (juce::Graphics& g, float x1, float y1, float x2, float y2, float x3, float y3)
{
    juce::Path p;
    p.addTriangle (x1, y1, x2, y2, x3, y3);
    g.fillPath (p);
}

// The GO icon: a play symbol in a rounded square, drawn once per button.
juce::Image makeGoIcon (juce::Colour colour)
{
    constexpr int size = 128;
    juce::Image image (juce::Image::ARGB, size, size, true);
    juce::Graphics g (image);
    const auto box = juce::Rectangle<float> (4.0f, 4.0f, size - 8.0f, size - 8.0f);
    g.setColour (colour.withAlpha (0.18f));
    g.fillRoundedRectangle (box, 22.0f);
    g.setColour (colour);
    g.drawRoundedRectangle (box, 22.0f, 6.0f);
    fillTriangle (g, 46.0f, 32.0f, 46.0f, 96.0f, 98.0f, 64.0f);
    return image;
}
} // namespace

int Meter::barHeight() const
{
    const auto h = getHeight();
    const auto barH = h - 31;
    return barH < 1 || h < 3 ? 0 : barH;
}

Meter::Shown Meter::shownFor (const orvane::audio::MasterOutputMeters& meters) const
{
    Shown shown;
    const auto barH = barHeight();
    const float peaks[2] { finiteOr (meters.outputPeakLeftDb, -120.0f), finiteOr (meters.outputPeakRightDb, -120.0f) };
    for (int i = 0; i < 2; ++i)
    {
        const auto dB = peaks[i];
        const auto m = juce::jlimit (0.0f, 1.0f, (dB + 60.0f) / 60.0f);
        shown.zone[i] = dB > -1.0f ? 2 : (dB > -9.0f ? 1 : 0);
        shown.lit[i] = juce::jmax (0, (int) std::floor ((float) barH * m));
    }
    shown.text = peakText (peaks[0], peaks[1]);
    return shown;
}

void Meter::setValues (const orvane::audio::MasterOutputMeters& meters)
{
    // Repainted only when a bar, its colour or the figure changes: the view feeds the meter at
    // 30 Hz, and most of those frames would draw the same pixels.
    const auto shown = shownFor (meters);
    values = meters;
    if (shown.zone != lastShown.zone || shown.lit != lastShown.lit || shown.text != lastShown.text
        || getHeight() != shownHeight)
    {
        lastShown = shown;
        shownHeight = getHeight();
        repaint();
    }
}

void Meter::paint (juce::Graphics& g)
{
    const auto w = getWidth();
    const auto h = getHeight();
    const auto barH = barHeight();
    const auto barW = juce::jmax ((w - 11) / 2, 3);
    const auto top = 1;
    const auto shown = shownFor (values);
    const juce::Colour zoneColours[] { themeColour (*this, meterSafeColourId), themeColour (*this, meterNearColourId),
                                       themeColour (*this, meterOverColourId) };
    const auto field = themeColour (*this, fieldColourId);
    const auto line = themeColour (*this, lineColourId);
    const auto dimText = themeColour (*this, dimTextColourId);

    for (int i = 0; i < 2; ++i)
    {
        const auto barX = 1 + i * (barW + 9);
        g.setColour (field);
        g.fillRoundedRectangle ((float) barX, (float) top, (float) barW, (float) barH, 2.0f);

        g.setColour (zoneColours[shown.zone[(size_t) i]]);
        const auto v = shown.lit[(size_t) i];
        g.fillRect (barX, top + barH - v, barW, v);

        g.setColour (line);
        g.drawRect (barX, top, barW, barH, 1);

        g.setColour (dimText);
        g.setFont (uiFont (9.0f));
        g.drawText (i == 0 ? "L" : "R", barX, barH + 3, barW, 13, juce::Justification::centred, false);
    }

    const auto textH = juce::jmax (0, juce::jmin (h - 2, 18));
    g.setColour (dimText);
    g.setFont (uiFont (9.0f));
    g.drawText (shown.text, 1, h - textH - 1, juce::jmax (0, w - 2), textH, juce::Justification::centred, false);
}

juce::String peakText (float peakLeftDb, float peakRightDb)
{
    return juce::String (juce::jmax (finiteOr (peakLeftDb, -120.0f), finiteOr (peakRightDb, -120.0f)), 1) + " dBFS";
}

juce::String gainReductionText (float limiterReductionDb)
{
    const auto shown = juce::String (juce::jmax (0.0f, finiteOr (limiterReductionDb, 0.0f)), 1);
    return (shown == "0.0" ? "GR  " : "GR  -") + shown + " dB";
}

bool safetyMarkVisible (float truePeakReductionDb)
{
    return truePeakReductionDb > 0.05f;
}

GoButton::GoButton() : juce::Button ("GO")
{
    setComponentID ("go");
    setWantsKeyboardFocus (false);
    setMouseClickGrabsKeyboardFocus (false);
}

void GoButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const auto b = getLocalBounds().toFloat().reduced (1.0f);
    const auto x0 = b.getX();
    const auto y0 = b.getY();
    const auto W = b.getWidth();
    const auto H = b.getHeight();
    const auto go = themeColour (*this, goColourId);
    if (icon.isNull() || iconColour != go)
    {
        icon = makeGoIcon (go);
        iconColour = go;
    }

    g.setGradientFill ({ juce::Colour (0xFF1C342B), 0.0f, b.getY(), themeColour (*this, fieldColourId), 0.0f,
                         b.getBottom(), false });
    g.fillRoundedRectangle (b, 9.0f);
    g.setColour (go.withAlpha (down ? 0.95f : (highlighted ? 0.8f : 0.48f)));
    g.drawRoundedRectangle (b, 9.0f, down ? 2.4f : 1.5f);

    const auto gh = juce::jmax (H - 4.0f, 0.0f);
    const auto inner = juce::jmax (W - 14.0f, 0.0f);
    const auto t = juce::jmin (gh, 56.0f, inner);
    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
    g.drawImage (icon, { x0 + 10.0f, y0 + 5.0f, juce::jmax (t - 6.0f, 0.0f), juce::jmax (gh - 6.0f, 0.0f) },
                 juce::RectanglePlacement::centred);

    g.setColour (go);
    g.setFont (uiFont (getWidth() >= 140 ? 31.0f : 25.0f, juce::Font::bold | juce::Font::italic));
    g.drawText ("GO!", juce::Rectangle<float> (x0 + 7.0f + t, y0 + 2.0f, inner - t, juce::jmax (gh - 14.0f, 0.0f)),
                juce::Justification::centred, false);

    const auto captionH = juce::jmin (gh, 18.0f);
    g.setColour (themeColour (*this, dimTextColourId));
    g.setFont (uiFont (8.0f));
    g.drawText (caption, juce::Rectangle<float> (x0 + 7.0f + t, y0 + 2.0f + gh - captionH, inner - t, captionH),
                juce::Justification::centred, false);
}

RepeatButton::RepeatButton() : juce::TextButton ("REPEAT OFF")
{
    setComponentID ("repeat");
    setWantsKeyboardFocus (false);
    setMouseClickGrabsKeyboardFocus (false);
}

void RepeatButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    getLookAndFeel().drawButtonBackground (g, *this, themeColour (*this, panelColourId), highlighted, down);

    const auto c = (float) getWidth() / 2.0f - 13.0f;
    juce::Path loop;
    loop.startNewSubPath (c, 16.0f);
    loop.lineTo (c, 12.0f);
    loop.quadraticTo (c, 9.0f, c + 4.0f, 9.0f);
    loop.lineTo (c + 25.0f, 9.0f);
    loop.startNewSubPath (c + 26.0f, 16.0f);
    loop.lineTo (c + 26.0f, 20.0f);
    loop.quadraticTo (c + 26.0f, 23.0f, c + 22.0f, 23.0f);
    loop.lineTo (c + 1.0f, 23.0f);

    g.setColour (themeColour (*this, mode != 0 ? accentColourId : dimTextColourId));
    g.strokePath (loop, { 1.8f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded });
    fillTriangle (g, c + 21.0f, 5.0f, c + 27.0f, 9.0f, c + 21.0f, 13.0f);
    fillTriangle (g, c + 5.0f, 19.0f, c - 1.0f, 23.0f, c + 5.0f, 27.0f);

    if (mode == 1)
    {
        g.setFont (uiFont (12.0f, juce::Font::bold));
        g.drawFittedText ("1", juce::Rectangle<float> (c + 7.0f, 8.0f, 12.0f, 16.0f).toNearestInt(),
                          juce::Justification::centred, 1);
    }

    g.setColour (findColour (getToggleState() ? juce::TextButton::textColourOnId : juce::TextButton::textColourOffId));
    g.setFont (uiFont (9.0f, juce::Font::bold));
    g.drawFittedText (mode == 0 ? "OFF" : (mode == 1 ? "ONE" : "ALL"), 4, getHeight() - 15, getWidth() - 8, 13,
                      juce::Justification::centred, 1);
}

BrandMark::BrandMark()
{
    setComponentID ("brand");
    setTitle ("Vantrel!");
    setInterceptsMouseClicks (false, false);
}

void BrandMark::paint (juce::Graphics& g)
{
    const auto w = getWidth();
    const auto h = getHeight();
    const auto go = themeColour (*this, goColourId);
    const auto text = themeColour (*this, textColourId);
    const auto cy = (float) h / 2.0f;

    g.setColour (go);
    g.fillRoundedRectangle (2.0f, cy - 13.0f, 26.0f, 26.0f, 3.5f);
    g.setColour (text);
    fillTriangle (g, 12.0f, cy - 6.0f, 12.0f, cy + 6.0f, 21.0f, cy);

    const auto avail = juce::jmax (w - 4, 0);
    const auto left = 2.0f + (float) juce::jmin (w - 4, 34);
    const auto r = (float) (avail - juce::jmin (avail, 34));
    const auto full = brandFont (25.0f).getStringWidthFloat ("Vantrel!");
    const auto font = brandFont (25.0f * juce::jmin (full > 0.0f ? r / full : 0.0f, 1.0f));
    const auto wordW = font.getStringWidthFloat ("Vantrel") + 1.0f;

    g.setFont (font);
    g.setColour (text);
    g.drawText ("Vantrel", juce::Rectangle<float> (left, 0.0f, wordW, (float) h), juce::Justification::centredLeft,
                false);
    g.setColour (go);
    g.drawText ("!", juce::Rectangle<float> (left + wordW, 0.0f, juce::jmax (0.0f, r - wordW), (float) h),
                juce::Justification::centredLeft, false);
}

PadBrand::PadBrand()
{
    setComponentID ("pad-brand");
    setTitle ("PAD");
    setInterceptsMouseClicks (false, false);
}

void PadBrand::paint (juce::Graphics& g)
{
    const auto h = (float) getHeight();
    const auto go = themeColour (*this, goColourId);
    const auto text = themeColour (*this, textColourId);
    const auto cy = h / 2.0f;

    g.setColour (go);
    g.fillRoundedRectangle (2.0f, cy - 7.0f, 14.0f, 14.0f, 2.0f);
    g.setColour (text);
    fillTriangle (g, 7.0f, cy - 3.5f, 7.0f, cy + 3.5f, 12.0f, cy);

    const auto font = brandFont (15.0f);
    const auto paW = font.getStringWidthFloat ("PA");
    g.setFont (font);
    g.drawText ("PA", juce::Rectangle<float> (22.0f, 0.0f, paW + 1.0f, h), juce::Justification::centredLeft, false);
    g.setColour (go);
    g.drawText ("D", juce::Rectangle<float> (22.0f + paW, 0.0f, 18.0f, h), juce::Justification::centredLeft, false);
}
} // namespace vantrel
