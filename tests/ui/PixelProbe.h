#pragma once

// Headless snapshots of widgets and pixel probes on them. Set VANTREL_UI_SNAPSHOT_DIR to a
// folder to also keep each snapshot as a PNG for a look by eye.

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

namespace vantrel::test
{
inline juce::Image snapshotOf (juce::Component& component, const juce::String& name)
{
    auto image = component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    if (const char* dir = std::getenv ("VANTREL_UI_SNAPSHOT_DIR"))
    {
        juce::File file = juce::File (dir).getChildFile (name + ".png");
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat().writeImageToStream (image, out);
    }
    return image;
}

/** True when the pixel's colour is within a small distance of the expected one (anti-aliasing
    and premultiplication rounding). */
inline bool near (juce::Colour actual, juce::Colour expected, int tolerance = 12)
{
    return std::abs (actual.getRed() - expected.getRed()) <= tolerance
        && std::abs (actual.getGreen() - expected.getGreen()) <= tolerance
        && std::abs (actual.getBlue() - expected.getBlue()) <= tolerance
        && std::abs (actual.getAlpha() - expected.getAlpha()) <= tolerance;
}
} // namespace vantrel::test
