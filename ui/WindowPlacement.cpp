#include "ui/WindowPlacement.h"

#include <algorithm>

namespace vantrel
{
WindowPlacement placeMainWindow (std::optional<juce::Rectangle<int>> userArea, FrameBorders borders)
{
    const auto area = userArea.value_or (juce::Rectangle<int> { 0, 0, 1380, 900 });
    const int availableW = std::max (area.getWidth() - 20, 0);
    const int availableH = std::max (area.getHeight() - 20, 0);
    const int frameW = borders.left + borders.right;
    const int frameH = borders.top + borders.bottom;
    const int contentW = std::min (std::max (availableW - frameW, 200), windowSizes::initialWidth);
    const int contentH = std::min (std::max (availableH - frameH, 180), windowSizes::initialHeight);

    WindowPlacement placement;
    placement.minimumWidth = std::min (contentW, windowSizes::designWidth);
    placement.minimumHeight = std::min (contentH, windowSizes::designHeight);
    // Integer division truncates towards zero, as the frame may be larger than a tiny area.
    placement.content = { area.getX() + 10 + (availableW - (contentW + frameW)) / 2 + borders.left,
                          area.getY() + 10 + (availableH - (contentH + frameH)) / 2 + borders.top,
                          contentW, contentH };
    return placement;
}
} // namespace vantrel
