#pragma once
// Message thread only.

#include "ui/ViewSection.h"

namespace vantrel
{
/** The status row at the bottom: the coordinator's status line, the recover button while the
    stored data needs recovery, and the settings button. */
class StatusRow : public ViewSection
{
public:
    explicit StatusRow (const SectionContext& context);

    void layOut (const MainScreenLayout& layout) override;
    void refresh (const ViewSnapshot& snapshot) override;

private:
    juce::Label statusLabel;
    juce::TextButton recover, settings;
    bool recoverPlaced = false;   // the layout shows the recover button's place
};
} // namespace vantrel
