#include "ui/WaveLane.h"

#include "session/UiText.h"
#include "ui/Fonts.h"
#include "ui/ShownText.h"
#include "ui/Theme.h"

#include <algorithm>
#include <cmath>

namespace vantrel
{
namespace
{
constexpr int waveLeft = 161;           // the waveform area's left edge
constexpr int waveRightMargin = 390;    // from the lane's right edge
constexpr double flashMs = 180.0;       // the drop-in after a GO
constexpr double flashRepaintMs = 200.0;
constexpr double maxExtrapolation = 0.08;   // seconds the lane runs ahead of its last status

juce::Font uiFont (float height, int style = juce::Font::plain)
{
    return { uiSansName(), height, style };
}

const char* laneName (int kind)
{
    return kind == 0 ? "OUTGOING" : kind == 1 ? "MAIN" : "READY";
}

int waveWidth (int laneWidth) { return std::max (laneWidth - waveLeft - waveRightMargin, 0); }

bool hasPeaks (const LoadedMedia* media)
{
    if (media == nullptr || media->peaks == nullptr)
        return false;
    const auto& p = *media->peaks;
    const auto values = (std::uint64_t) std::max (p.channels, 0) * p.peakCount;
    return p.peakCount >= 1 && p.channels > 0 && p.framesPerPeak > 0 && p.sampleRate > 0.0
        && std::isfinite (p.sampleRate) && p.minima.size() >= values && p.maxima.size() >= values;
}
/** Where an overlay image (ARGB) drawn at `scale` has pixels that are not transparent, in the lane's
    coordinates: everything left of `left`, and right of it the bounds of the upper and of the
    lower half's pixels, each with a margin of 2 px (more than the resampling's reach). */
juce::RectangleList<int> contentOf (const juce::Image& image, float scale, int left)
{
    juce::RectangleList<int> content;
    const auto height = image.getHeight();
    content.add (0, 0, left, juce::roundToInt (std::ceil ((float) height / scale)));
    const int firstColumn = std::min (std::max ((int) std::floor ((float) left * scale), 0), image.getWidth());
    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
    for (const auto band : { juce::Range<int> (0, height / 2), juce::Range<int> (height / 2, height) })
    {
        int minX = image.getWidth(), maxX = -1, minY = height, maxY = -1;
        for (int y = band.getStart(); y < band.getEnd(); ++y)
            for (int x = firstColumn; x < image.getWidth(); ++x)
                if (reinterpret_cast<const juce::PixelARGB*> (pixels.getPixelPointer (x, y))->getAlpha() != 0)
                {
                    minX = std::min (minX, x);
                    maxX = std::max (maxX, x);
                    minY = std::min (minY, y);
                    maxY = std::max (maxY, y);
                }
        if (maxX >= 0)
            content.add (juce::Rectangle<float> ((float) minX, (float) minY, (float) (maxX + 1 - minX), (float) (maxY + 1 - minY))
                             .transformedBy (juce::AffineTransform::scale (1.0f / scale))
                             .getSmallestIntegerContainer()
                             .expanded (2));
    }
    return content;
}
} // namespace

juce::String formatClock (double seconds, bool hundredths)
{
    if (! std::isfinite (seconds))
        return hundredths ? "--:--.--" : "--:--";
    const auto c = (std::int64_t) std::floor (juce::jlimit (0.0, 315360000.0, seconds) * 100.0 + 0.0000001);
    const auto minutes = c / 6000;
    const auto secs = c / 100 - 60 * minutes;
    auto text = juce::String (minutes).paddedLeft ('0', 2) + ":" + juce::String (secs).paddedLeft ('0', 2);
    if (hundredths)
        text << "." << juce::String (c % 100).paddedLeft ('0', 2);
    return text;
}

// ---- time readout -----------------------------------------------------------------------------

WaveTime::WaveTime()
{
    setComponentID ("wave-time");
    setMouseCursor (juce::MouseCursor::PointingHandCursor);
}

void WaveTime::paint (juce::Graphics& g)
{
    const auto w = getWidth(), h = getHeight();
    g.setColour (themeColour (*this, fieldColourId));
    g.fillRoundedRectangle (getLocalBounds().toFloat(), 4.0f);

    const int first = (w - 16) / 2;
    const juce::Rectangle<int> cells[] { { 4, 0, first, h }, { 4 + first + 8, 0, w - 8 - first - 8, h } };
    const char* labels[] { "TIME", "REMAIN" };
    const double values[] { elapsed, remain };
    const auto none = detailed ? "--:--.--" : "--:--";
    const auto labelColour = themeColour (*this, dimTextColourId), figureColour = themeColour (*this, textColourId);
    for (int i = 0; i < 2; ++i)
    {
        auto cell = cells[i];
        g.setFont (uiFont (9.0f));
        g.setColour (labelColour);
        g.drawText (labels[i], cell.removeFromLeft (std::min (cell.getWidth(), 40)), juce::Justification::centredLeft, false);

        const auto text = hasLength ? formatClock (values[i], detailed) : juce::String (none);
        auto font = uiFont (large ? 23.0f : 21.0f, juce::Font::bold);
        const auto textWidth = font.getStringWidthFloat (text);
        const auto area = (float) cell.getWidth();
        if (textWidth > area - 2.0f)
            font.setHeight (font.getHeight() * std::max (area - 2.0f, 1.0f) / textWidth);
        g.setFont (font);
        g.setColour (figureColour);
        g.drawText (text, cell, juce::Justification::centredRight, false);
    }
}

void WaveTime::mouseDown (const juce::MouseEvent& e)
{
    if (e.mods.isLeftButtonDown() && onClick)
        onClick();
}

// ---- lane -------------------------------------------------------------------------------------

WaveLaneView::WaveLaneView (int k)
    : kind (k), clock ([] { return juce::Time::getMillisecondCounterHiRes(); }),
      laneColour (themeColour (*this, goColourId))
{
    time.large = kind != 0;
    addAndMakeVisible (time);
    if (kind != 2)
    {
        stopButton.setButtonText (translate ("■ STOP"));
        stopButton.setComponentID ("stop-lane");
        paletteParts.bind (stopButton, juce::TextButton::textColourOffId, alertColourId);
        paletteParts.apply (*this);
        stopButton.setWantsKeyboardFocus (false);
        addAndMakeVisible (stopButton);
    }
    updateTime();
}

void WaveLaneView::setStatus (WaveLaneInfo info, bool markChange)
{
    const auto now = clock();
    const bool sameRow = info.rowId == status.rowId;
    if (info.position != status.position || ! sameRow || info.active != status.active || info.paused != status.paused)
        anchorTimeMs = now;
    const bool overlayChanged = ! sameRow || info.title != status.title || info.rowNumber != status.rowNumber
                             || info.active != status.active || info.media != status.media;
    overlayDirty = overlayDirty || overlayChanged;
    if (markChange)
    {
        changeTimeMs = std::max<std::uint32_t> ((std::uint32_t) now, 1);
        flashToClear = true;
    }

    // What the timer does not repaint is repainted here: the whole lane when its look changed, the
    // waveform when a lane that does not play moved (a seek while paused, a new cue point).
    const bool lookChanged = overlayChanged || markChange || info.paused != status.paused || info.cued != status.cued;
    const bool moved = info.position != status.position || info.length != status.length;
    status = std::move (info);
    if (lookChanged)
        repaint();
    else if (moved && ! (status.active && ! status.paused))
        repaint (waveformStrip());
    updateTime();
    // The frame timer runs only while it has frames to paint: while the lane plays or flashes.
    if (needsFrames() && ! isTimerRunning() && ! framesFromView)
        startTimerHz (60);
}

void WaveLaneView::updateTime()
{
    const auto length = status.length;
    time.hasLength = length > 0.0;
    time.elapsed = time.hasLength ? juce::jlimit (0.0, length, status.position) : 0.0;
    time.remain = std::max (length - status.position, 0.0);

    // Repainted only when what it shows changes: whole seconds, or hundredths when detailed.
    const double scale = time.detailed ? 100.0 : 1.0;
    const auto units = [scale] (double v) { return std::isfinite (v) ? (std::int64_t) std::trunc (std::min (v * scale, 1.0e15)) : -2; };
    const auto elapsedUnits = units (time.elapsed), remainUnits = units (time.remain);
    if (elapsedUnits != shownElapsed || remainUnits != shownRemain || time.hasLength != shownHasLength)
    {
        shownElapsed = elapsedUnits;
        shownRemain = remainUnits;
        shownHasLength = time.hasLength;
        time.repaint();
    }
}

void WaveLaneView::setLaneColour (juce::Colour colour)
{
    if (colour != laneColour)
    {
        laneColour = colour;
        repaint();
    }
}

void WaveLaneView::setSecondsShown (double seconds)
{
    if (std::isfinite (seconds) && seconds > 0.0 && seconds != secondsShown)
    {
        secondsShown = seconds;
        repaint (waveformStrip());
    }
}

void WaveLaneView::setSeekProtected (bool locked) { scrubLocked = locked; }

juce::Rectangle<int> WaveLaneView::waveformStrip() const
{
    return { 153, 0, std::max (getWidth() - 533, 0), getHeight() };
}

void WaveLaneView::resized()
{
    const auto w = getWidth(), h = getHeight();
    time.setBounds (w - 300, 3, 294, h - 6);
    stopButton.setBounds (w - 374, (h - 25) / 2, 66, 25);
}

void WaveLaneView::lookAndFeelChanged()
{
    paletteParts.apply (*this);
    overlayDirty = true;
    repaint();
}

void WaveLaneView::parentHierarchyChanged()
{
    lookAndFeelChanged();
}

void WaveLaneView::colourChanged()
{
    lookAndFeelChanged();
}

juce::Colour WaveLaneView::stateColour() const
{
    if (status.cued)
        return laneColour;
    if (! status.active)
        return themeColour (*this, dimTextColourId).darker (0.45f);
    return status.paused ? laneColour.darker (0.38f) : laneColour;
}

bool WaveLaneView::flashing (double now, double span) const
{
    return changeTimeMs != 0 && (double) (std::uint32_t) ((std::uint32_t) now - changeTimeMs) < span;
}

double WaveLaneView::currentTime (double now) const
{
    if (status.length <= 0.0)
        return 0.0;
    auto t = status.position;
    if (status.active && ! status.paused)
        t += juce::jlimit (0.0, maxExtrapolation, (now - anchorTimeMs) / 1000.0);
    return juce::jlimit (0.0, status.length, t);
}

WaveLaneView::WavePlacement WaveLaneView::placeWaveform (double now) const
{
    WavePlacement p;
    const auto h = getHeight();
    p.box = { waveLeft, 3, waveWidth (getWidth()), std::max (h - 6, 0) };
    const bool flash = flashing (now, flashMs);
    const float f = kind == 0 ? (flash ? 1.0f : 0.57f) : (flash ? 0.78f : 1.0f);
    p.height = (float) p.box.getHeight() * f;
    p.top = (float) p.box.getY() + ((float) p.box.getHeight() - p.height) / 2.0f;
    p.columns = std::max (p.box.getWidth(), 1);
    p.imageHeight = std::max ((int) std::ceil (p.height), 1);
    p.start = currentTime (now) - secondsShown / 2.0;
    if (flash)
        p.flashOffset = h * std::pow (1.0 - (double) ((std::uint32_t) now - changeTimeMs) / flashMs, 3.0);
    return p;
}

juce::Colour WaveLaneView::waveformColour() const
{
    return stateColour().withAlpha (status.paused ? 0.7f : 0.9f);
}

bool WaveLaneView::waveImageFits (const WavePlacement& p, juce::Colour colour) const
{
    return wavePeaks == status.media->peaks && waveColumns == p.columns && waveHeight == p.imageHeight
        && waveSeconds == secondsShown && waveColour == colour && p.start >= waveStart
        && p.start + secondsShown <= waveStart + 3.0 * secondsShown;
}

juce::Point<int> WaveLaneView::waveImageOrigin (const WavePlacement& p) const
{
    const double x = p.box.getX() - (p.start - waveStart) * p.columns / secondsShown;
    return { (int) std::lround (x), (int) std::lround (p.top + p.flashOffset) };
}

bool WaveLaneView::waveformMoved (double now) const
{
    // Without peaks the area shows a text that a new status repaints; it is repainted as before.
    if (! wavePainted || ! hasPeaks (status.media.get()))
        return true;
    const auto p = placeWaveform (now);
    if (p.box.isEmpty() || p.height <= 0.0f)
        return false;
    return ! waveImageFits (p, waveformColour()) || waveImageOrigin (p) != paintedOrigin;
}

void WaveLaneView::paint (juce::Graphics& g)
{
    const auto h = getHeight();
    const auto now = clock();
    // The time readout's opaque face paints over everything under it, inside its 4 px corners:
    // what the lane would draw there is never seen (a new second repaints just the readout).
    if (time.isVisible() && time.getWidth() > 16 && time.getHeight() > 8 && themeColour (*this, fieldColourId).isOpaque())
        g.excludeClipRegion (time.getBounds().reduced (7, 3));
    const auto outline = getLocalBounds().toFloat().reduced (0.7f);
    g.setGradientFill (juce::ColourGradient::vertical (themeColour (*this, panelColourId), outline.getY(),
                                                       juce::Colour (0xFF101920), outline.getBottom()));
    g.fillRoundedRectangle (outline, 7.0f);

    const auto state = stateColour();
    g.setColour (state.withAlpha (status.active || status.cued ? 0.6f : 0.35f));
    g.drawRoundedRectangle (outline, 7.0f, kind == 1 ? 1.3f : 1.0f);

    const auto placement = placeWaveform (now);
    const auto& box = placement.box;

    g.setColour (themeColour (*this, lineColourId).withAlpha (0.35f));
    for (int i = 1; i <= 9; ++i)
        g.drawVerticalLine (juce::roundToInt ((float) box.getX() + (float) (i * box.getWidth()) / 10.0f), 6.0f, (float) h - 6.0f);

    wavePainted = false;
    if (hasPeaks (status.media.get()))
    {
        paintWaveform (g, placement, waveformColour());
        // Recorded only when the whole area was drawn: a paint clipped to another part of the lane
        // leaves the area as it was, so the timer must not take it as up to date.
        wavePainted = wavePainted && g.getClipBounds().contains (box);
    }
    else if (! status.rowId.empty())
    {
        const bool failed = status.media != nullptr && status.media->failed();
        g.setFont (uiFont (11.0f));
        g.setColour (themeColour (*this, failed ? alertColourId : dimTextColourId));
        g.drawText (failed ? translateMessage (status.media->error) : translate ("波形を準備中"), box, juce::Justification::centred, true);
    }

    g.setColour (themeColour (*this, textColourId).withAlpha (0.48f));
    g.drawVerticalLine (juce::roundToInt ((float) box.getX() + (float) box.getWidth() / 2.0f), 6.0f, (float) h - 6.0f);

    paintOverlay (g, state);
}

void WaveLaneView::paintWaveform (juce::Graphics& g, const WavePlacement& p, juce::Colour colour)
{
    if (p.box.isEmpty() || p.height <= 0.0f)
        return;
    const auto& peaks = status.media->peaks;
    const float scale = std::max (g.getInternalContext().getPhysicalPixelScaleFactor(), 1.0f);
    if (! waveImageFits (p, colour) || waveScale != scale)
    {
        waveStart = p.start - secondsShown;
        const double duration = status.media->duration > 0.0 ? status.media->duration : peaks->durationSeconds();
        buildWaveImage (*peaks, duration, p.columns, p.imageHeight, colour, scale);
        wavePeaks = peaks;
        waveColumns = p.columns;
        waveHeight = p.imageHeight;
        waveSeconds = secondsShown;
        waveColour = colour;
        waveScale = scale;
    }

    juce::Graphics::ScopedSaveState saved (g);
    g.reduceClipRegion (p.box);
    const auto origin = waveImageOrigin (p);
    g.setOpacity (1.0f);
    if (scale == 1.0f)
    {
        g.drawImageAt (waveImage, origin.x, origin.y);
    }
    else
    {
        // The image is at the screen's scale; with its corner on a whole screen pixel it is copied
        // pixel for pixel. Drawn at lane pixels, every frame of a flash or a scroll would resample it.
        auto corner = origin.toFloat();
        if (auto* top = getTopLevelComponent(); top != nullptr && top != this)
        {
            // The window's own pixel scale: the screen's, without the view's fitting transform.
            const auto unit = top->getLocalArea (this, juce::Rectangle<float> (0.0f, 0.0f, 1.0f, 1.0f)).getWidth();
            const auto at = top->getLocalPoint (this, juce::Point<float>()) * (scale / std::max (unit, 0.001f));
            const auto onScreen = at + corner * scale;
            corner = (juce::Point<float> (std::round (onScreen.x), std::round (onScreen.y)) - at) / scale;
        }
        g.drawImageTransformed (waveImage, juce::AffineTransform::scale (1.0f / scale).translated (corner));
    }
    paintedOrigin = origin;
    wavePainted = true;
}

void WaveLaneView::buildWaveImage (const orvane::audio::WaveformPeakData& peaks, double duration, int columns,
                                   int height, juce::Colour colour, float scale)
{
    waveImage = juce::Image (juce::Image::ARGB, (int) std::ceil ((float) (3 * columns) * scale),
                             (int) std::ceil ((float) height * scale), true);
    juce::Graphics g (waveImage);
    g.setColour (colour);
    // A column covers whole screen pixels, so neighbouring columns meet without a seam.
    const auto drawColumn = [&] (int j, float top, float bottom)
    {
        if (scale == 1.0f)
            return g.drawVerticalLine (j, top, bottom);
        const auto left = juce::roundToInt ((float) j * scale), right = juce::roundToInt ((float) (j + 1) * scale);
        g.fillRect (juce::Rectangle<float> ((float) left, top * scale, (float) (right - left), (bottom - top) * scale));
    };

    const int channels = std::min (peaks.channels, 2);
    const auto count = (std::int64_t) peaks.peakCount;
    const double peaksPerSecond = peaks.sampleRate / (double) peaks.framesPerPeak;
    const double columnSeconds = secondsShown / columns;
    const float rowHeight = (float) height / (float) channels;
    const float s = 0.44f * rowHeight;
    const auto indexAt = [&] (double t)
    {
        const auto i = std::floor (std::max (t, 0.0) * peaksPerSecond);
        return (std::int64_t) std::min (i, (double) (count - 1));
    };

    for (int j = 0; j < 3 * columns; ++j)
    {
        const double t0 = (j - 0.5) * columnSeconds + waveStart;
        const double t1 = t0 + columnSeconds;
        if (t1 < 0.0 || t0 >= duration)
            continue;
        const auto first = indexAt (t0), last = indexAt (t1);
        for (int c = 0; c < channels; ++c)
        {
            // Four peaks a step: a column of a long span covers hundreds of them.
            const float* mins = peaks.minima.data() + c;
            const float* maxs = peaks.maxima.data() + c;
            const auto stride = (std::int64_t) peaks.channels;
            float lo = 1.0f, hi = -1.0f;
            auto i = first;
            for (; i + 3 <= last; i += 4)
            {
                lo = std::min ({ lo, mins[i * stride], mins[(i + 1) * stride], mins[(i + 2) * stride], mins[(i + 3) * stride] });
                hi = std::max ({ hi, maxs[i * stride], maxs[(i + 1) * stride], maxs[(i + 2) * stride], maxs[(i + 3) * stride] });
            }
            for (; i <= last; ++i)
            {
                lo = std::min (lo, mins[i * stride]);
                hi = std::max (hi, maxs[i * stride]);
            }
            const float centre = ((float) c + 0.5f) * rowHeight;
            drawColumn (j, centre - s * hi, centre - s * lo);
        }
    }
}

void WaveLaneView::paintOverlay (juce::Graphics& g, juce::Colour state)
{
    const auto w = getWidth(), h = getHeight();
    const float scale = std::max (g.getInternalContext().getPhysicalPixelScaleFactor(), 1.0f);
    const int imageWidth = std::max ((int) std::ceil ((float) w * scale), 1);
    const int imageHeight = std::max ((int) std::ceil ((float) h * scale), 1);

    if (overlayDirty || overlayImage.getWidth() != imageWidth || overlayImage.getHeight() != imageHeight
        || overlayScale != scale || overlayColour != state)
    {
        overlayImage = juce::Image (juce::Image::ARGB, imageWidth, imageHeight, true);
        juce::Graphics o (overlayImage);
        o.addTransform (juce::AffineTransform::scale (scale));
        const auto boxHeight = (float) (h - 8);
        const auto field = themeColour (*this, fieldColourId);

        o.setColour (field.withAlpha (0.78f));
        o.fillRoundedRectangle (4.0f, 4.0f, 91.0f, boxHeight, 4.0f);
        o.setColour (state.withAlpha (0.8f));
        o.drawVerticalLine (151, 7.0f, (float) h - 7.0f);

        o.setColour (state);
        o.setFont (uiFont (12.0f, juce::Font::bold));
        o.drawFittedText (laneName (kind), { 7, 4, 86, h - 8 }, juce::Justification::centred, 1);

        o.setColour (field);
        o.fillRoundedRectangle (101.0f, 4.0f, 44.0f, boxHeight, 4.0f);
        o.setColour (state);
        o.drawRoundedRectangle (101.0f, 4.0f, 44.0f, boxHeight, 4.0f, 1.0f);
        o.setColour (themeColour (*this, textColourId));
        o.setFont (uiFont (22.0f, juce::Font::bold));
        const auto number = status.rowNumber >= 1 ? juce::String (status.rowNumber).paddedLeft ('0', 2) : translate ("—");
        o.drawFittedText (number, { 102, 4, 42, h - 8 }, juce::Justification::centred, 1);

        const int textWidth = w < 547 ? 1 : w - 545;
        const bool low = h < 45;
        o.setColour (juce::Colours::white);
        o.setFont (uiFont (kind == 1 ? 15.0f : 13.0f));
        const auto title = status.title.empty() ? juce::String::fromUTF8 ("—") : labelTextOf (status.title);
        o.drawFittedText (title, { waveLeft, 2, textWidth, low ? 17 : 24 }, juce::Justification::centredLeft, 1);
        if (status.active && status.media != nullptr)
        {
            o.setFont (uiFont (10.0f));
            o.drawFittedText (status.media->fileName + juce::String::fromUTF8 ("  ·  ") + status.media->format,
                              { waveLeft, h - 23 + (low ? 5 : 0), textWidth, low ? 17 : 20 },
                              juce::Justification::centredRight, 1);
        }
        overlayDirty = false;
        overlayColour = state;
        overlayScale = scale;
        overlayContent = contentOf (overlayImage, scale, waveLeft - 8);
    }

    // Only where the overlay has pixels: over the waveform area it is mostly transparent, and a
    // frame of a scrolling lane need not blend those pixels (they change nothing).
    juce::Graphics::ScopedSaveState saved (g);
    g.reduceClipRegion (overlayContent);
    g.setOpacity (1.0f);
    if (scale == 1.0f)
        g.drawImageAt (overlayImage, 0, 0);
    else
        g.drawImageTransformed (overlayImage, juce::AffineTransform::scale (1.0f / scale));
}

void WaveLaneView::timerCallback()
{
    const auto now = clock();
    const bool flash = flashing (now, flashRepaintMs);
    // One more frame after the flash: a late tick must not leave its last shifted frame on screen.
    const bool lastFlashFrame = ! flash && flashToClear;
    flashToClear = flashToClear && flash;
    // While it only plays, the strip is repainted when the waveform moved by a whole column: at a
    // span of minutes that is a few times a second, not every tick.
    const bool playing = status.active && ! status.paused;
    if (((playing && waveformMoved (now)) || flash || lastFlashFrame) && ! waveformStrip().isEmpty())
    {
        repaint (waveformStrip());
        ++repaintsByTimer;
    }
    if (! needsFrames())
        stopTimer();   // started again by the status that makes it play or flash
}

void WaveLaneView::mouseDown (const juce::MouseEvent& e)
{
    lastMouseX = e.position.x;
    scrubbing = lastMouseX >= (float) waveLeft && lastMouseX < (float) (getWidth() - waveRightMargin);
}

void WaveLaneView::mouseDrag (const juce::MouseEvent& e)
{
    if (! scrubbing || kind != 1 || scrubLocked || ! status.active || ! onScrub)
        return;
    const auto x = e.position.x;
    const double step = (double) (lastMouseX - x) / std::max (waveWidth (getWidth()), 1) * secondsShown;
    lastMouseX = x;
    if (step != 0.0)   // a vertical move seeks nowhere
        onScrub (step);
}

void WaveLaneView::mouseUp (const juce::MouseEvent&) { scrubbing = false; }
} // namespace vantrel
