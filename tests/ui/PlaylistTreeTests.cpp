#include "ViewTestSupport.h"

#include "ui/PlaylistTree.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

/** The main view in its own window on the private display, over a catalog the test builds. */
struct TreeRig : ViewRig
{
    TreeRig()
    {
        makeView().setBounds (0, 0, 1380, 860);
        view->addToDesktop (0);
        view->setVisible (true);
        waitUntilMapped (*view, display);
        focusWindow (display, *view);
    }
    bool xdotool (const juce::StringArray& args) { return xdotoolOn (display, args); }

    std::string folder (const std::string& name, const std::string& parent = {})
    {
        EXPECT_TRUE (session->addTreeFolder (name, parent));
        return session->catalogState().document.folders.back().id;
    }
    std::string list (const std::string& name, const std::string& folder = {})
    {
        auto playlist = playlistOf (name, { tone });
        playlist.folderId = folder;
        auto document = session->undoHistory().current();
        document.playlists.push_back (playlist);
        EXPECT_TRUE (session->commitEdit (document));
        return playlist.id;
    }
    juce::ListBox& tree() { return byId<juce::ListBox> (*view, "playlists"); }
    PlaylistModel& model() { return dynamic_cast<PlaylistModel&> (*tree().getModel()); }
    /** The lines after a refresh, a dot per level: "Show .Act ..Cue Top". */
    std::string lines()
    {
        view->refresh();
        std::string text;
        for (int i = 0; i < model().getNumRows(); ++i)
            text += (i > 0 ? " " : "") + std::string ((size_t) model().entryAt (i)->depth, '.') + model().entryAt (i)->name;
        return text;
    }
    std::string open() const { return session->catalogState().document.current; }
    juce::Point<int> at (int line, int x = 60) { return tree().getScreenPosition().translated (x, line * 36 + 18); }
    void click (int line, int x = 60, bool right = false) { PeerPointer (*view).click (at (line, x), right); }

    static bool menuUp (const juce::String& start) { return runMessagesUntil ([&] { return modalMenuText().startsWith (start); }); }
    static bool choose (const char* title) { return chooseInModalMenu (ja (title)); }
    bool settled() { return runMessagesUntil ([this] { return ! view->flags().dialogOpen && juce::Component::getCurrentlyModalComponent() == nullptr; }); }

    const juce::File tone = writeTone (rig.media(), "tone.wav", 1.0, 0.2f);   // every row's
};

#define START_TREE_RIG(r)          \
    TreeRig r;                     \
    if (! r.display.running())     \
        GTEST_SKIP() << r.display.problem;

TEST (PlaylistTree, RebuildsOnlyWhenItsStructureChangesAndFoldsInPlace)
{
    START_TREE_RIG (r);
    auto& s = *r.session;
    const auto show = r.folder ("Show");
    r.list ("Cue", r.folder ("Act", show));
    const auto intro = r.list ("Intro", show), top = r.list ("Top");
    const auto all = r.lines();
    ASSERT_EQ (all, "Show .Act ..Cue .Intro Top");
    struct Step { const char* what; std::function<void()> act; int rebuilds; const char* lines; };
    for (const auto& step : std::vector<Step> {
             { "nothing", [] {}, 0, all.c_str() }, { "zoom", [&] { s.setZoom (3); }, 0, all.c_str() },
             { "open another", [&] { s.openPlaylist (intro); }, 0, all.c_str() },
             { "a click on the name", [&] { r.click (0, 40); }, 0, all.c_str() },
             { "a row less", [&] { s.removeRow (currentPlaylist (s.catalogState().document)->rows[0].id); }, 1, all.c_str() },
             { "fold", [&] { r.click (0, 10); }, 1, "Show Top" }, { "unfold", [&] { r.click (0, 10); }, 1, all.c_str() },
             { "rename", [&] { s.renamePlaylist (top, "End"); }, 1, "Show .Act ..Cue .Intro End" } })
    {
        const int before = r.model().rebuilds();
        step.act();
        EXPECT_EQ (r.lines(), step.lines) << step.what;
        EXPECT_EQ (r.model().rebuilds() - before, step.rebuilds) << step.what;
    }
}

TEST (PlaylistTree, DeepLevelsIndentLikeLevelSevenAndStopAtLevelThirtyThree)
{
    START_TREE_RIG (r);
    std::string parent;
    for (int depth = 0; depth <= 8; ++depth)
        parent = r.folder ("Deep", parent);
    r.lines();
    const auto picture = [&] (int line) {
        juce::MemoryOutputStream png;
        juce::PNGImageFormat().writeImageToStream (r.tree().createComponentSnapshot (r.tree().getRowPosition (line, true)), png);
        return png.getMemoryBlock();
    };
    EXPECT_EQ (picture (7), picture (8));
    EXPECT_NE (picture (6), picture (7));
    // The disclosure area of level 8 ends at 106 px, like level 7's.
    for (const auto& [x, folded] : std::vector<std::pair<int, size_t>> { { 110, 0 }, { 100, 1 } })
    {
        r.click (8, x);
        EXPECT_EQ (r.session->catalogState().ui.collapsedFolders.size(), folded) << x;
    }
    // A catalog deeper than the rules allow: level 33 is listed, nothing below it.
    auto& document = SessionCoordinatorTestAccess::state (*r.session).document;
    for (int depth = 9; depth <= 36; ++depth)
        document.folders.push_back ({ "deep" + std::to_string (depth), "Deeper", document.folders.back().id });
    SessionCoordinatorTestAccess::state (*r.session).ui.collapsedFolders.clear();
    r.lines();
    ASSERT_EQ (r.model().getNumRows(), 34);
    EXPECT_EQ (r.model().entryAt (33)->depth, 33);
}

TEST (TreeMenu, OffersNoMoveIntoTheFolderItselfAndNoEditUnderLiveLock)
{
    START_TREE_RIG (r);
    const auto act = r.folder ("Act", r.folder ("Show"));
    r.folder ("Scene", act);
    r.session->toggleFolderCollapsed (r.folder ("Other"));
    EXPECT_EQ (r.lines(), "Show .Act ..Scene Other");
    juce::Button* treeRemove = nullptr;   // the "削除" beside the tree, not the rows list's
    for (auto* c : r.view->getChildren())
        if (auto* b = dynamic_cast<juce::TextButton*> (c); b && b->getButtonText() == ja ("削除") && b->getX() < r.tree().getRight())
            treeRemove = b;
    juce::SparseSet<int> actLine;
    actLine.addRange ({ 1, 2 });
    for (const auto& [locked, menu] : std::vector<std::pair<bool, const char*>> {
             { true, "Act; 名前を変更…; フォルダーだけ削除…; ここにプレイリストを追加…; ここにフォルダーを追加…; 移動先" },
             { false, "Act; +名前を変更…; +フォルダーだけ削除…; +ここにプレイリストを追加…; +ここにフォルダーを追加…; +移動先" } })
    {
        if (r.session->isLiveLockOn() != locked)
            r.session->toggleLiveLock();
        r.view->refresh();
        EXPECT_EQ (byId<juce::Button> (*r.view, "add-playlist-folder").isEnabled(), ! locked);
        EXPECT_EQ (treeRemove != nullptr && treeRemove->isEnabled(), ! locked);
        EXPECT_EQ (r.model().getDragSourceDescription (actLine).toString(), locked ? juce::String() : juce::String ("tree-folder:" + act));
        r.click (1, 60, true);
        ASSERT_TRUE (r.menuUp ("Act")) << locked;
        EXPECT_EQ (modalMenuText(), ja (menu));
        if (locked)
            juce::PopupMenu::dismissAllActiveMenus();
        ASSERT_TRUE (locked ? r.settled() : r.choose ("移動先"));
    }
    ASSERT_TRUE (r.menuUp ("+")) << modalMenuText();
    EXPECT_EQ (modalMenuText(), ja ("+最上位; Show; Show / Act; Show / Act / Scene; +Other"));
    ASSERT_TRUE (r.choose ("Other") && r.settled());
    EXPECT_EQ (r.lines(), "Show Other .Act ..Scene");   // the folded target opened to show it
    EXPECT_EQ (r.tree().getSelectedRow(), 2);
}

TEST (TreeMenu, RemoveAndRenameRunThroughTheirDialogs)
{
    START_TREE_RIG (r);
    if (! xdotoolInstalled())
        GTEST_SKIP() << "xdotool is not installed";
    const auto act = r.folder ("Act", r.folder ("Show"));
    r.folder ("Scene", act);
    r.list ("Cue", act);
    EXPECT_EQ (r.lines(), "Show .Act ..Scene ..Cue");
    ASSERT_TRUE (r.open().empty());
    struct Case { int line; const char* item; std::function<void (juce::AlertWindow&)> answer; const char* after; };
    for (const auto& c : std::vector<Case> {
             { 1, "フォルダーだけ削除…", [] (juce::AlertWindow& w) { w.exitModalState (0); }, "Show .Act ..Scene ..Cue" },
             { 1, "フォルダーだけ削除…", [] (juce::AlertWindow& w) { w.exitModalState (1); }, "Show .Scene .Cue" },
             { 2, "名前を変更…", [&] (juce::AlertWindow& w) {
                   focusWindow (r.display, w);
                   // The field has the focus when the dialog shows, with what it holds selected.
                   EXPECT_TRUE (runMessagesUntil ([&] { return w.getTextEditor ("value")->hasKeyboardFocus (false); }));
                   EXPECT_TRUE (r.xdotool ({ "type", "--delay", "30", " Encore " }) && r.xdotool ({ "key", "Return" }));
               }, "Show .Scene .Encore" } })
    {
        const auto name = r.model().entryAt (c.line)->name;
        r.click (c.line, 60, true);
        ASSERT_TRUE (r.menuUp (name) && r.choose (c.item)) << c.item;
        juce::AlertWindow* alert = nullptr;
        ASSERT_TRUE (runMessagesUntil ([&] { return (alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent())); }));
        c.answer (*alert);
        ASSERT_TRUE (r.settled()) << c.item;
        EXPECT_EQ (r.lines(), c.after) << c.item;
    }
    EXPECT_EQ (r.open(), r.session->catalogState().document.playlists[0].id);   // the right-click selected it, nothing sounding
}

TEST (TreeDrop, APlaylistDroppedOnALineGoesThereWhileATrackPlays)
{
    START_TREE_RIG (r);
    if (! xdotoolInstalled())
        GTEST_SKIP() << "xdotool is not installed";
    auto& s = *r.session;
    s.toggleFolderCollapsed (r.folder ("Show"));
    const auto a = r.list ("A");
    r.list ("B");
    const auto c = r.list ("C");
    ASSERT_TRUE (s.openPlaylist (a) && s.cueState().ready && tickUntilPrepared (s, *s.cueState().ready));
    s.go();
    EXPECT_EQ (r.lines(), "Show A B C");
    r.click (2);   // B is not opened while A sounds, and the selection stays on A
    EXPECT_EQ (r.open(), a);
    EXPECT_EQ (r.tree().getSelectedRow(), 1);
    // A real drag of C (not the open A) onto the folded folder: into it, at its catalog place.
    const auto from = r.at (3), to = r.at (0);
    ASSERT_TRUE (realPointerAt (r.display, to));   // JUCE asks where the pointer is at the release
    PeerPointer (*r.view).drag (from, to);
    ASSERT_TRUE (runMessagesUntil ([&] { return ! r.view->isDragAndDropActive(); }));
    EXPECT_EQ (r.lines(), "Show .C A B");
    EXPECT_EQ (s.catalogState().document.playlists[2].id, c);
    EXPECT_TRUE (s.cueState().main && r.open() == a);
    // Drops as the list takes them: on another playlist's line it takes that one's catalog place
    // as well (B A at the top level now); below the last line means the top level.
    auto& target = dynamic_cast<juce::DragAndDropTarget&> (r.tree());
    for (const auto& [description, line, lines] : std::vector<std::tuple<std::string, int, const char*>> {
             { "tree-list:" + a, 3, "Show .C B A" }, { "tree-list:" + c, 9, "Show B A C" } })
    {
        target.itemDropped ({ juce::String (description), &r.tree(), { 60, line * 36 + 18 } });
        EXPECT_EQ (r.lines(), lines) << description;
    }
}
} // namespace
} // namespace vantrel
