#include "ui/LibraryPanel.h"

#include "session/CatalogValidation.h"
#include "session/UiText.h"
#include "ui/Theme.h"

#include <cmath>
#include <set>

namespace vantrel
{
namespace
{
juce::String utf8 (const std::string& text) { return juce::String::fromUTF8 (text.c_str()); }
} // namespace

// ---- library -------------------------------------------------------------------------------------

LibraryList::LibraryList (SessionCoordinator& c) : coordinator (c) {}

void LibraryList::paint (juce::Graphics& g)
{
    auto area = getLocalBounds().reduced (12, 8);
    g.setColour (colours::library::accent);
    g.setFont (juce::Font (15.0f, juce::Font::bold));
    g.drawText (translate ("ライブラリ · すべての音源"), area.removeFromTop (28), juce::Justification::centredLeft);
    std::set<std::string> seen;
    g.setFont (juce::Font (13.0f));
    for (const auto& playlist : coordinator.state.document.playlists)
        for (const auto& row : playlist.rows)
        {
            if (area.getHeight() < 22)
                return;
            if (! seen.insert (row.source).second)
                continue;
            auto line = area.removeFromTop (26);
            g.setColour (colours::library::text);
            g.drawText (juce::File (utf8 (row.source)).getFileName(), line.removeFromLeft (line.getWidth() / 2),
                        juce::Justification::centredLeft, true);
            g.setColour (colours::library::textDim);
            g.drawText (utf8 (playlist.name), line, juce::Justification::centredLeft, true);
            g.setColour (colours::library::line);
            g.fillRect (line.getX() - area.getWidth() / 2, line.getBottom() - 1, area.getWidth(), 1);
        }
}
} // namespace vantrel
