#include "ui/RowsList.h"

#include "ui/ViewImpl.h"

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

juce::String formatDuration (double seconds)
{
    if (! std::isfinite (seconds) || seconds < 0.0)
        seconds = 0.0;
    const auto whole = (long long) std::min (seconds, 1.0e9);
    return juce::String (whole / 60).paddedLeft ('0', 2) + ":" + juce::String (whole % 60).paddedLeft ('0', 2);
}

// ---- rows -------------------------------------------------------------------------------------------

RowsModel::RowsModel (SessionCoordinator& c, std::function<void()> after)
    : coordinator (c), afterAction (std::move (after))
{
}

const Playlist* RowsModel::openPlaylist() const { return currentPlaylist (coordinator.state.document); }

int RowsModel::getNumRows()
{
    const auto* playlist = openPlaylist();
    return playlist != nullptr ? (int) playlist->rows.size() : 0;
}

void RowsModel::paintListBoxItem (int rowNumber, juce::Graphics& g, int width, int height, bool selected)
{
    const auto* playlist = openPlaylist();
    if (playlist == nullptr || ! juce::isPositiveAndBelow (rowNumber, (int) playlist->rows.size()))
        return;
    const auto& row = playlist->rows[(size_t) rowNumber];
    const auto& cue = coordinator.cue;
    if (selected)
    {
        g.setColour (colours::accent.withAlpha (0.12f));
        g.fillRect (0, 0, width, height);
    }
    g.setColour (colours::line.withAlpha (0.6f));
    g.fillRect (0, height - 1, width, 1);

    // State column: playing, paused or READY.
    const bool isMain = cue.main && *cue.main == row.id, isOut = cue.outgoing && *cue.outgoing == row.id;
    const bool isReady = cue.ready && *cue.ready == row.id;
    g.setFont (juce::Font (13.0f, juce::Font::bold));
    if (isMain || isOut)
    {
        g.setColour (isMain ? colours::green : colours::textDim);
        g.drawText (translate (cue.paused ? "Ⅱ" : "▶"), 5, 0, 44, height, juce::Justification::centred);
    }
    else if (isReady)
    {
        g.setColour (colours::gold);
        g.fillEllipse (5.0f + 22.0f - 4.0f, (float) height * 0.5f - 4.0f, 8.0f, 8.0f);
    }

    const int fontHeight = juce::jlimit (17, 22, height / 2);
    g.setColour (colours::textDim);
    g.setFont (juce::Font ((float) fontHeight));
    g.drawText (juce::String (rowNumber + 1).paddedLeft ('0', 2), 49, 0, 43, height, juce::Justification::centred);
    g.setColour (colours::text);
    g.setFont (juce::Font (13.0f));
    const int titleWidth = std::max (0, width - 96 - 330);
    if (row.note.empty())
    {
        g.drawText (utf8 (row.title), 96, 0, titleWidth, height, juce::Justification::centredLeft, true);
    }
    else
    {
        g.drawText (utf8 (row.title), 96, 0, titleWidth, height / 2 + 4, juce::Justification::bottomLeft, true);
        g.setColour (colours::textDim);
        g.setFont (juce::Font (11.0f));
        g.drawText (utf8 (row.note), 96, height / 2 + 4, titleWidth, height / 2 - 4, juce::Justification::topLeft, true);
        g.setColour (colours::text);
    }
    g.setFont (juce::Font (14.0f));
    g.drawText (formatDuration (row.duration), std::max (0, width - 330), 0, 88, height, juce::Justification::centredRight);
    g.setColour (colours::textDim);
    g.drawText (juce::String (row.gainDb, 1) + " dB", std::max (0, width - 195), 0, 190, height, juce::Justification::centredLeft);
}

void RowsModel::listBoxItemClicked (int rowNumber, const juce::MouseEvent&)
{
    const auto* playlist = openPlaylist();
    if (playlist == nullptr || ! juce::isPositiveAndBelow (rowNumber, (int) playlist->rows.size()))
        return;
    coordinator.selectReady (playlist->rows[(size_t) rowNumber].id);
    if (afterAction)
        afterAction();
}


// ---- drops on the rows list -------------------------------------------------------------------------

bool VantrelView::Impl::rowsTakeDrag (const juce::String&) const { return false; }

void VantrelView::Impl::dropOnRows (const juce::String&, juce::Point<int>) {}

void VantrelView::Impl::filesDroppedOnRows (const juce::StringArray&) {}

} // namespace vantrel
