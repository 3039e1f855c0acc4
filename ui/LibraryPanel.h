#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace vantrel
{
/** The library panel's first form: every audio file the catalog refers to, once, by name. */
class LibraryList : public juce::Component
{
public:
    explicit LibraryList (SessionCoordinator&);
    void paint (juce::Graphics&) override;

private:
    SessionCoordinator& coordinator;
};

} // namespace vantrel
