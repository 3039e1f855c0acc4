// The EQ panel's curve: its scales, the response drawn from the engine's own EQ design, the
// spectrum behind it and the band handles the operator drags.
#include "ui/TrackEqPanel.h"

#include "audio/dsp/EqCoefficients.h"
#include "ui/Theme.h"

#include <cmath>
#include <limits>
#include <utility>

namespace vantrel
{
namespace
{
constexpr double lowestHz = 20.0, highestHz = 20000.0, decades = 3.0;
constexpr double gainSpanDb = 48.0, maxBandGainDb = 18.0;
constexpr double levelFloorDb = -96.0, levelSpanDb = 108.0;
constexpr float handleDiameter = 18.0f, selectionDiameter = 24.0f, grabRadius = 25.0f;
/** Below this frequency the fine spectrum is blended in; below 200 Hz only it counts. */
constexpr double fineBlendTopHz = 350.0, fineBlendSpanHz = 150.0;

bool hasGain (int shape)  { return shape < (int) EqShape::highPass; }

juce::String frequencyLabel (double hz)
{
    return hz >= 1000.0 ? juce::String (juce::roundToInt (hz / 1000.0)) + "k" : juce::String (juce::roundToInt (hz));
}
} // namespace

EqPlot EqPlot::of (juce::Rectangle<int> bounds)
{
    return { (float) bounds.getX() + 36.0f, (float) bounds.getY() + 18.0f, (float) std::max (bounds.getWidth() - 72, 0),
             (float) std::max (bounds.getHeight() - 36, 0) };
}

double EqPlot::columnFrequency (double column) const
{
    return width > 0.0f ? lowestHz * std::pow (1000.0, column / width) : lowestHz;
}

float EqPlot::xOf (double frequency) const
{
    return left + width * (float) (std::log10 (frequency / lowestHz) / decades);
}

double EqPlot::frequencyAt (float x) const
{
    return juce::jlimit (lowestHz, highestHz, columnFrequency (x - left));
}

float EqPlot::yOfGain (double dB) const
{
    return top + height / 2.0f - (float) (dB / gainSpanDb) * height;
}

double EqPlot::gainAt (float y) const
{
    if (height <= 0.0f)
        return 0.0;
    return juce::jlimit (-maxBandGainDb, maxBandGainDb, (double) (top + height / 2.0f - y) / height * gainSpanDb);
}

float EqPlot::yOfLevel (double dBFS) const
{
    return bottom() - height * (float) juce::jlimit (0.0, 1.0, (dBFS - levelFloorDb) / levelSpanDb);
}

TrackEqPanel::Curve::Curve (TrackEqPanel& owner) : panel (owner)
{
    setOpaque (true);   // the cached background holds the panel's colour in its corners
}

juce::Point<float> TrackEqPanel::Curve::handleCentre (int band) const
{
    const auto& b = panel.eq.bands[(size_t) band];
    const auto p = plot();
    return { p.xOf (b.frequency), p.yOfGain (hasGain (b.shape) ? b.gainDb : 0.0) };
}

const std::vector<double>& TrackEqPanel::Curve::response()
{
    const double rate = panel.coordinator.audioAdapter().sampleRate();
    if (builtWidth == getWidth() && builtHeight == getHeight() && builtRate == rate && builtFor == panel.eq)
        return responseValues;
    builtWidth = getWidth();
    builtHeight = getHeight();
    builtRate = rate;
    builtFor = panel.eq;

    // The engine's own design and response: what is drawn is what plays.
    const auto coefficients = orvane::audio::designEq (panel.eq, rate);
    const auto p = plot();
    const int columns = (int) p.width;
    responseValues.resize ((size_t) columns + 1);
    responsePath.clear();
    for (int i = 0; i <= columns; ++i)
    {
        responseValues[(size_t) i] = coefficients.responseDb (p.columnFrequency (i), rate);
        const auto y = juce::jlimit (p.top, p.bottom(), p.yOfGain (responseValues[(size_t) i]));
        if (i == 0)
            responsePath.startNewSubPath (p.left, y);
        else
            responsePath.lineTo (p.left + (float) i, y);
    }
    juce::PathStrokeType (2.0f).createStrokedPath (responseStroke, responsePath);   // stroked once, filled per paint
    return responseValues;
}

std::vector<float> TrackEqPanel::Curve::spectrumLevels() const
{
    std::vector<float> levels;
    const auto& s = panel.spectrum;
    if (! s.coarseReady)
        return levels;
    const auto p = plot();
    const int columns = (int) p.width;
    levels.reserve ((size_t) columns);
    for (int i = 0; i < columns; ++i)
    {
        const double f0 = p.columnFrequency (i), f1 = p.columnFrequency (i + 1);
        if (f0 >= s.sampleRate / 2.0)
            break;
        double level = spectrumBandLevel (s.coarse.data(), AnalyserSnapshot::coarsePoints, s.sampleRate, f0, f1);
        if (s.fineReady && f0 < fineBlendTopHz)
        {
            const double v = juce::jlimit (0.0, 1.0, (fineBlendTopHz - f0) / fineBlendSpanHz);
            const double fine = spectrumBandLevel (s.fine.data(), AnalyserSnapshot::finePoints, s.sampleRate, f0, f1);
            level = v * fine + (1.0 - v) * level;
        }
        levels.push_back ((float) level);
    }
    return levels;
}

void TrackEqPanel::Curve::repaintPlot()
{
    const auto p = plot();
    repaint (juce::Rectangle<float> (p.left, p.top, p.width, p.height).expanded (selectionDiameter / 2.0f + 2.0f)
                 .getSmallestIntegerContainer());
}

void TrackEqPanel::Curve::repaintIfChanged()
{
    if (panel.eq != paintedEq || panel.selectedBand != paintedSelection)
        repaintPlot();
}

void TrackEqPanel::Curve::paint (juce::Graphics& g)
{
    const auto p = plot();
    const auto scale = g.getInternalContext().getPhysicalPixelScaleFactor();
    const int imageWidth = std::max (1, juce::roundToInt ((float) getWidth() * scale));
    const int imageHeight = std::max (1, juce::roundToInt ((float) getHeight() * scale));
    if (background.getWidth() != imageWidth || background.getHeight() != imageHeight || backgroundScale != scale)
    {
        background = juce::Image (juce::Image::RGB, imageWidth, imageHeight, false);
        backgroundScale = scale;
        juce::Graphics image (background);
        image.addTransform (juce::AffineTransform::scale (scale));
        paintBackground (image, p);
    }
    g.drawImageTransformed (background, juce::AffineTransform::scale (1.0f / scale));
    paintSpectrum (g, p);
    paintedEq = panel.eq;
    paintedSelection = panel.selectedBand;

    response();
    g.setColour (themeColour (*this, panel.eq.enabled ? accentColourId : dimTextColourId));
    g.fillPath (responseStroke);
    paintHandles (g);
}

void TrackEqPanel::Curve::paintBackground (juce::Graphics& g, const EqPlot& p) const
{
    const int w = getWidth(), h = getHeight();
    const auto line = themeColour (*this, lineColourId);
    const auto dimText = themeColour (*this, dimTextColourId);
    g.fillAll (themeColour (*this, panelColourId));
    g.setColour (themeColour (*this, fieldColourId));
    g.fillRoundedRectangle (getLocalBounds().toFloat(), 5.0f);
    g.setFont (juce::Font (10.0f));
    for (const double hz : { 20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0 })
    {
        const auto x = p.xOf (hz);
        g.setColour (line);
        g.drawLine (x, p.top, x, p.bottom(), 1.0f);
        g.setColour (dimText);
        g.drawText (frequencyLabel (hz), juce::Rectangle<float> (x - 19.0f, (float) h - 16.0f, 38.0f, 15.0f),
                    juce::Justification::centred, false);
    }
    for (const int dB : { -24, -12, 0, 12, 24 })
    {
        const auto y = p.yOfGain (dB);
        g.setColour (dB == 0 ? line.brighter (0.7f) : line);
        g.drawLine (p.left, y, p.left + p.width, y, 1.0f);
        g.setColour (dimText);
        g.drawText ((dB > 0 ? "+" : "") + juce::String (dB), juce::Rectangle<float> ((float) w - 32.0f, y - 8.0f, 30.0f, 16.0f),
                    juce::Justification::centredLeft, false);
    }
    for (const int dBFS : { 0, -24, -48, -72, -96 })
        g.drawText (juce::String (dBFS), juce::Rectangle<float> (0.0f, p.yOfLevel (dBFS) - 7.0f, 31.0f, 14.0f),
                    juce::Justification::centredRight, false);

    g.setFont (juce::Font (9.0f));
    g.drawText (juce::String::fromUTF8 ("POST EQ · dBFS"), juce::Rectangle<float> (p.left, 0.0f, 115.0f, 15.0f),
                juce::Justification::centredLeft, false);
    g.drawText (juce::String::fromUTF8 ("EQ · dB"), juce::Rectangle<float> ((float) w - 80.0f, 0.0f, 76.0f, 15.0f),
                juce::Justification::centredRight, false);
}

void TrackEqPanel::Curve::paintSpectrum (juce::Graphics& g, const EqPlot& p) const
{
    const auto levels = spectrumLevels();
    if (levels.empty())
        return;
    juce::Path line;
    for (size_t i = 0; i < levels.size(); ++i)
    {
        const juce::Point<float> point (p.left + (float) i, p.yOfLevel (levels[i]));
        if (i == 0)
            line.startNewSubPath (point);
        else
            line.lineTo (point);
    }
    auto area = line;
    area.lineTo (p.left + (float) (levels.size() - 1), p.bottom());
    area.lineTo (p.left, p.bottom());
    area.closeSubPath();
    const auto accent = themeColour (*this, accentColourId);
    g.setColour (accent.withAlpha (0.12f));
    g.fillPath (area);
    g.setColour (accent.withAlpha (0.48f));
    g.strokePath (line, juce::PathStrokeType (1.2f));
}

void TrackEqPanel::Curve::paintHandles (juce::Graphics& g) const
{
    g.setFont (juce::Font (11.0f, juce::Font::bold));
    for (int i = 0; i < EqSettings::numBands; ++i)
    {
        const auto centre = handleCentre (i);
        const auto square = juce::Rectangle<float> (handleDiameter, handleDiameter).withCentre (centre);
        g.setColour (themeColour (*this, eqBandColourId + i).withAlpha (panel.eq.bands[(size_t) i].enabled ? 1.0f : 0.35f));
        g.fillEllipse (square);
        if (i == panel.selectedBand)
        {
            g.setColour (themeColour (*this, textColourId));
            g.drawEllipse (juce::Rectangle<float> (selectionDiameter, selectionDiameter).withCentre (centre), 1.0f);
        }
        g.setColour (themeColour (*this, fieldColourId));
        g.drawText (juce::String (i + 1), square, juce::Justification::centred, false);
    }
}

void TrackEqPanel::Curve::lookAndFeelChanged()
{
    background = {};
    repaint();
}

void TrackEqPanel::Curve::parentHierarchyChanged()
{
    lookAndFeelChanged();
}

void TrackEqPanel::Curve::colourChanged()
{
    lookAndFeelChanged();
}

void TrackEqPanel::Curve::mouseDown (const juce::MouseEvent& e)
{
    // The nearest handle is selected however far away it is (the first of equal distances).
    int nearest = 0;
    float distance = std::numeric_limits<float>::max();
    for (int i = 0; i < EqSettings::numBands; ++i)
    {
        const auto d = handleCentre (i).getDistanceFrom (e.position);
        if (d < distance)
        {
            distance = d;
            nearest = i;
        }
    }
    panel.selectedBand = nearest;
    repaintPlot();
    if (distance > grabRadius || ! panel.editable())
        return;   // too far to grab, or the values are locked: a selection only

    panel.coordinator.beginEqEdit();
    panel.dragging = true;
    holding = true;
    held = panel.eq.bands[(size_t) nearest];
    pressedAt = e.position;
}

void TrackEqPanel::Curve::mouseDrag (const juce::MouseEvent& e)
{
    const auto p = plot();
    if (! holding || ! panel.dragging || p.width <= 0.0f || p.height <= 0.0f)
        return;
    // The handle follows the pointer's movement from the press, so a press that does not move
    // changes nothing; where the pointer has not moved on an axis that value stays exact.
    const auto moved = e.position - pressedAt;
    auto& band = panel.eq.bands[(size_t) panel.selectedBand];
    band.frequency = moved.x == 0.0f ? held.frequency : p.frequencyAt (p.xOf (held.frequency) + moved.x);
    if (hasGain (band.shape))
        band.gainDb = moved.y == 0.0f ? held.gainDb : p.gainAt (p.yOfGain (held.gainDb) + moved.y);
    panel.applyEdit();
}

void TrackEqPanel::Curve::mouseUp (const juce::MouseEvent&)
{
    holding = false;
    if (std::exchange (panel.dragging, false))
        panel.coordinator.commitEqEdit();
    panel.refresh();
}

void TrackEqPanel::Curve::mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails& wheel)
{
    if (! panel.editable())
        return;
    // One committed step per wheel event (no edit is open), unless a drag holds one.
    auto& band = panel.eq.bands[(size_t) panel.selectedBand];
    band.q = juce::jlimit (0.1, 12.0, band.q * std::pow (1.25, 4.0 * wheel.deltaY));
    panel.applyEdit();
}
} // namespace vantrel
