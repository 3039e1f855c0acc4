#include "ui/TooltipsOnDemand.h"

#include <algorithm>

namespace vantrel
{
TooltipsOnDemand::TooltipsOnDemand (int delay, int rest, std::function<double()> clockMs)
    : delayMs (delay), restMs (rest),
      clock (clockMs ? std::move (clockMs) : std::function<double()> ([] { return juce::Time::getMillisecondCounterHiRes(); }))
{
    followWindows();
}

TooltipsOnDemand::~TooltipsOnDemand()
{
    for (auto& component : watched)
        if (component != nullptr)
            component->removeMouseListener (this);
    window.reset();
}

void TooltipsOnDemand::followWindows()
{
    watched.erase (std::remove_if (watched.begin(), watched.end(), [] (const auto& c) { return c == nullptr; }), watched.end());
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
    {
        auto* top = desktop.getComponent (i);
        if (top == nullptr || (window.has_value() && top == &*window))
            continue;
        if (std::none_of (watched.begin(), watched.end(), [top] (const auto& c) { return c.getComponent() == top; }))
        {
            top->addMouseListener (this, true);
            watched.emplace_back (top);
        }
    }
    if (window.has_value() && clock() - lastUseMs >= restMs)
        window.reset();
}

void TooltipsOnDemand::used()
{
    lastUseMs = clock();
    if (! window.has_value())
        window.emplace (nullptr, delayMs);
}
} // namespace vantrel
