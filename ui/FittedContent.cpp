#include "ui/FittedContent.h"

#include <cmath>

namespace vantrel
{
FittedContent::FittedContent (juce::Component& v) : view (&v)
{
    addAndMakeVisible (v);
}

FittedContent::~FittedContent()
{
    if (view != nullptr)
        removeChildComponent (view.getComponent());
}

void FittedContent::resized()
{
    if (view == nullptr)
        return;
    const float width = (float) getWidth(), height = (float) getHeight();
    const float s = std::min (width / designWidth, height / designHeight);
    if (! (s > 0.0f))
        return;
    view->setTransform ({});
    view->setBounds (0, 0, juce::roundToInt (width / s), juce::roundToInt (height / s));
    view->setTransform (juce::AffineTransform::scale (s));
}
} // namespace vantrel
