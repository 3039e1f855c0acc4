// A second run over the same profile folder: what the first run left is what the second one shows.
#include "SessionTestSupport.h"

#include <gtest/gtest.h>

namespace
{
using vantrel::padIndex;
using vantrel::padMediaKey;
using namespace vantrel::test;

TEST (Restart, ASecondRunShowsTheCatalogPadsLayoutAndLimiterTheFirstRunLeft)
{
    SessionRig rig;
    const auto intro = writeTone (rig.media(), "intro.wav", 0.5, 0.1f);
    const auto walkOn = writeTone (rig.media(), "walk-on.wav", 0.5, 0.2f, 550.0);
    const auto horn = writeTone (rig.media(), "Horn.WAV", 0.25, 0.3f, 880.0);

    vantrel::CatalogDocument document;
    vantrel::PadSlots pads;
    vantrel::UiState layout;
    std::string firstRow;
    {
        auto first = rig.make();
        ASSERT_TRUE (first->addTreeFolder ("Act 1", ""));
        const auto folderId = first->undoHistory().current().folders.back().id;
        ASSERT_TRUE (first->addPlaylist ("Encore", ""));
        auto opening = playlistOf ("Opening", { intro, walkOn });
        opening.folderId = folderId;
        firstRow = opening.rows[0].id;
        ASSERT_TRUE (addAndOpen (*first, opening));
        ASSERT_TRUE (first->commitRowGain (opening.rows[1].id, -4.5f));

        first->assignPad (2, 3, horn);
        ASSERT_TRUE (tickUntil (*first, [&] { return ! first->catalogState().pads[(size_t) *padIndex (2, 3)].asset.empty(); }, 512));
        ASSERT_TRUE (first->setPadGain (2, 3, -3.0f));
        ASSERT_TRUE (first->setPadLabel (2, 3, "Fanfare"));

        first->togglePadPanel();
        first->toggleMemoPanel();
        first->setZoom (7);
        first->setRowHeight (36);
        first->toggleFolderCollapsed (folderId);
        first->setLimiterEnabled (false);

        document = first->undoHistory().current();
        pads = first->catalogState().pads;
        layout = first->catalogState().ui;
        ASSERT_EQ (document.playlists.size(), 2u);
        ASSERT_EQ (document.current, opening.id);
    }   // the run ends: its last state is saved on the way out

    auto second = rig.make();
    EXPECT_TRUE (second->alertText().isEmpty()) << second->alertText();
    EXPECT_EQ (second->undoHistory().current(), document);
    EXPECT_EQ (second->catalogState().pads, pads);
    EXPECT_EQ (second->catalogState().ui, layout);
    EXPECT_FALSE (second->isLimiterOn());
    EXPECT_FALSE (second->audioAdapter().isLimiterEnabled());
    // Folded pads start muted.
    EXPECT_TRUE (second->isPadMuteOn());
    EXPECT_TRUE (second->audioAdapter().isPadMuted());
    // The open playlist is open again, and the pad's own copy of its file is found and plays.
    EXPECT_EQ (second->cueState().ready, firstRow);
    ASSERT_TRUE (second->selectPadBank (2));
    ASSERT_TRUE (tickUntilPrepared (*second, padMediaKey (2, 3)));
    EXPECT_NE (second->audioAdapter().loadedMedia (padMediaKey (2, 3))->pcm, nullptr);
}
} // namespace
