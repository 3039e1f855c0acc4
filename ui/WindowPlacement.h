#pragma once

#include <juce_graphics/juce_graphics.h>

#include <optional>

namespace vantrel
{
/** The main window's fixed sizes: the view's design size, the first content size and the
    largest window. */
namespace windowSizes
{
constexpr int designWidth = 1140, designHeight = 740;
constexpr int initialWidth = 1380, initialHeight = 860;
constexpr int maximumWidth = 3840, maximumHeight = 2160;
} // namespace windowSizes

/** The native frame around the content; the defaults hold when the window system reports none. */
struct FrameBorders
{
    int top = 32, left = 8, bottom = 8, right = 8;
};

/** Where the main window's content goes when the window first opens, and its resize limits. */
struct WindowPlacement
{
    juce::Rectangle<int> content;
    int minimumWidth = 0, minimumHeight = 0;
    int maximumWidth = windowSizes::maximumWidth, maximumHeight = windowSizes::maximumHeight;
};

/** Centres the framed window in the user area less 10 pixels on each side, the content at most
    the first content size and at least 200 x 180. No user area (no display, e.g. headless): the
    area (0, 0, 1380, 900). Pure. */
WindowPlacement placeMainWindow (std::optional<juce::Rectangle<int>> userArea, FrameBorders borders = {});
} // namespace vantrel
