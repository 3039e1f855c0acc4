// The rows list driven as the operator drives it: gestures through the window's peer, menus and dialogs.
#include "ViewTestSupport.h"

#include "session/CatalogValidation.h"
#include "ui/FileChoosing.h"
#include "ui/RowsList.h"
#include "ui/ShownText.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

/** Answers the view's file question with these files. */
struct Chooser : AudioFileChooser
{
    explicit Chooser (juce::Array<juce::File> f) : files (f) {}   // answered later, on the message thread
    void launch (const juce::String&, bool, Answer reply) override  { juce::MessageManager::callAsync ([=] { reply (files); }); }
    juce::Array<juce::File> files;
};

/** The main view in a focused window over an open playlist whose rows all play one short tone;
    removed files go to a Trash of the test's own. */
struct RowsRig : ViewRig
{
    explicit RowsRig (int count = 4)
    {
        rig.options.trashFolder = rig.profile / "home/Trash";
        session.reset();   // made again with the Trash
        session = rig.make();
        tone = writeTone (rig.media(), "tone.wav", 0.2, 0.2f);
        show = playlistOf ("Rows", std::vector<juce::File> ((size_t) count, tone));
        EXPECT_TRUE (addAndOpen (*session, show));
        makeView().setBounds (0, 0, 1380, 860);
        view->addToDesktop (0);
        view->setVisible (true);
        waitUntilMapped (*view, display);
        focusWindow (display, *view);
        view->refresh();
    }

    juce::ListBox& list() { return byId<juce::ListBox> (*view, "setlist"); }
    RowComponent& row (int i)
    {
        view->refresh();
        if (auto* c = dynamic_cast<RowComponent*> (list().getComponentForRowNumber (i)))
            return *c;
        throw std::runtime_error ("row " + std::to_string (i) + " is not shown");
    }
    const std::vector<Row>& rows() { return currentPlaylist (session->undoHistory().current())->rows; }
    static juce::Point<int> centre (juce::Component& c)  { return c.getScreenBounds().getCentre(); }
    /** On a gain slider's track, left of its value box. */
    static juce::Point<int> onTrack (juce::Slider& s)  { return s.getScreenPosition().translated (12, s.getHeight() / 2); }

    bool menuOpened (int i)
    {
        PeerPointer (*view).click (centre (row (i).numberLabel), true);
        return runMessagesUntil ([] { return modalMenuText().contains (ja ("音源を再リンク…")); });
    }
    static juce::AlertWindow* modal()  { return dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent()); }
    static juce::AlertWindow* alert()  { return runMessagesUntil ([] { return modal() != nullptr; }) ? modal() : nullptr; }
    bool nothingModal() { return runMessagesUntil ([this] { return juce::Component::getCurrentlyModalComponent() == nullptr && ! view->flags().dialogOpen; }); }

    juce::File tone;
    Playlist show;
};

#define START_ROWS_RIG(r, ...)                 \
    RowsRig r { __VA_ARGS__ };                 \
    if (! r.display.running())                 \
        GTEST_SKIP() << r.display.problem;

TEST (RowsList, ColumnsGiveUpTheTitleFirstOnANarrowRow)
{
    struct Case { int width; std::array<int, 6> widths; };   // status, number, title, duration, EQ, gain
    for (const auto& c : std::vector<Case> { { 200, { 44, 43, 0, 0, 0, 103 } }, { 600, { 44, 43, 183, 88, 42, 190 } },
                                             { 320, { 44, 43, 0, 0, 33, 190 } }, { 10, { 0, 0, 0, 0, 0, 0 } } })
    {
        const auto a = rowColumns (c.width, 49);
        const juce::Rectangle<int> columns[] = { a.status, a.number, a.title, a.duration, a.eq, a.gain };
        for (int i = 0; i < 6; ++i)
        {
            EXPECT_EQ (columns[i].getWidth(), c.widths[(size_t) i]) << c.width << " column " << i;
            EXPECT_EQ (columns[i].getX(), i == 0 ? 5 : columns[i - 1].getRight()) << c.width << " column " << i;
        }
    }
}

TEST (RowsList, RowsShowNumberTimeAndTheirNoteBesideOrBelowTheTitle)
{
    START_ROWS_RIG (r);
    auto candidate = r.session->undoHistory().current();
    auto& rows = currentPlaylist (candidate)->rows;
    rows[0].duration = 3725.9;
    rows[0].note = "Fade by hand";
    rows[2].duration = 59.99;
    ASSERT_TRUE (r.session->commitEdit (candidate));
    const char* const texts[] = { "01 62:05", "02 --:--", "03 00:59" };
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (r.row (i).numberLabel.getText() + " " + r.row (i).durationLabel.getText(), texts[i]);
    for (const int height : { 30, 49 })
    {
        r.session->setRowHeight (height);
        const auto title = r.row (0).titleLabel.getBounds(), note = r.row (0).noteLabel.getBounds();
        ASSERT_TRUE (r.row (0).noteLabel.isVisible()) << height;
        EXPECT_TRUE (height == 30 ? note.getX() >= title.getRight() + 5 && note.getY() == title.getY()
                                  : note.getY() >= title.getBottom() && note.getHeight() == 11) << height << ": " << note.toString();
        EXPECT_EQ (r.row (1).titleLabel.getHeight(), height - 6);   // no note: the title has the column
    }
}

TEST (RowsList, AClickMakesARowReadyAndADragMovesItOnlyFromOutsideItsControls)
{
    START_ROWS_RIG (r);
    PeerPointer pointer (*r.view);
    pointer.click (r.centre (r.row (2).numberLabel));
    EXPECT_EQ (r.session->cueState().ready, r.rows()[2].id);
    pointer.click (RowsRig::onTrack (r.row (1).gain.slider));
    EXPECT_EQ (r.session->cueState().ready, r.rows()[2].id) << "the gain control keeps its click";

    const auto below = r.list().getScreenBounds().getCentre().withY (r.list().getScreenBounds().getBottom() - 20);
    const std::pair<int, std::function<juce::Point<int>()>> froms[] = {
        { 3, [&] { return RowsRig::onTrack (r.row (0).gain.slider); } },   // no drag from the gain
        { 3, [&] { return r.centre (r.row (0).eqButton); } },               // nor from the EQ button
        { 0, [&] { return r.centre (r.row (0).numberLabel); } },            // below the last row: to the end
    };
    for (const auto& [last, at] : froms)
    {
        pointer.drag (at(), below);
        ASSERT_TRUE (runMessagesUntil ([&] { return ! r.view->isDragAndDropActive(); }));
        EXPECT_EQ (r.rows().back().id, r.show.rows[(size_t) last].id);
    }
}

TEST (RowsList, TextTypedIntoAReusedRowGoesToTheRowItWasTypedFor)
{
    START_ROWS_RIG (r, 30);
    struct Case { const char* what; int edited; std::function<void()> reuse; int typedRowNow; bool reused; };
    const Case cases[] = {
        { "scrolled out of view", 0, [&] { r.list().getViewport()->setViewPosition (0, 20 * r.list().getRowHeight()); }, 0, true },
        { "moved away under the editor", 0, [&] { r.session->moveRow (0, 2); r.view->refresh(); }, 2, true },
        { "the list shrank under the editor", 29, [&] { r.session->removeRow (r.rows()[0].id); r.view->refresh(); }, 28, false },
    };
    for (const auto& c : cases)
    {
        r.list().scrollToEnsureRowIsOnscreen (c.edited);
        auto& component = r.row (c.edited);
        const auto typedFor = component.rowId;
        component.titleLabel.showEditor();
        ASSERT_NE (component.titleLabel.getCurrentTextEditor(), nullptr);
        component.titleLabel.getCurrentTextEditor()->setText (c.what);
        c.reuse();
        EXPECT_EQ (r.rows()[(size_t) c.typedRowNow].id, typedFor) << c.what;
        EXPECT_EQ (r.rows()[(size_t) c.typedRowNow].title, c.what);
        if (c.reused)
        {
            EXPECT_NE (component.rowId, typedFor) << c.what << ": the component was not reused";
            EXPECT_NE (findRowById (r.session->undoHistory().current(), component.rowId)->title, c.what) << c.what;
        }
    }
}

TEST (RowsList, TheRowMenuRelinksAndWritesANoteWhereThereWasNone)
{
    START_ROWS_RIG (r);
    const auto other = writeTone (r.rig.media(), "other.wav", 0.3, 0.2f);
    r.view->setFileChooser (std::make_unique<Chooser> (juce::Array<juce::File> { other }));
    struct Case { const char* item; std::function<void()> answer; std::function<bool()> done; };
    const Case cases[] = {
        { "音源を再リンク…", [] {}, [&] { return r.rows()[1].source == other.getFullPathName().toStdString(); } },
        { "備考を編集…", [&] {
              ASSERT_TRUE (runMessagesUntil ([&] { return r.row (1).noteLabel.isBeingEdited(); })) << "no note editor";
              EXPECT_TRUE (r.row (1).noteLabel.isShowing());
              r.row (1).noteLabel.getCurrentTextEditor()->setText ("Cue on applause");
              r.row (1).noteLabel.getCurrentTextEditor()->keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
          }, [&] { return r.rows()[1].note == "Cue on applause"; } },
    };
    for (const auto& c : cases)
    {
        ASSERT_TRUE (r.nothingModal());
        ASSERT_TRUE (r.menuOpened (1)) << c.item;
        EXPECT_EQ (modalMenuText(), ja ("+音源を再リンク…; +備考を編集…; +プレイリストから削除…"));
        ASSERT_TRUE (chooseInModalMenu (ja (c.item)));
        c.answer();
        EXPECT_TRUE (runMessagesUntil (c.done)) << c.item << ": " << r.session->statusText();
    }
}

TEST (RowsList, AddedFilesAreReferencedAtOnceOrJoinAsCopiesAfterTheCopy)
{
    START_ROWS_RIG (r, 1);
    const juce::Array<juce::File> files { writeTone (r.rig.media(), "a.wav", 0.1, 0.2f), writeTone (r.rig.media(), "b.wav", 0.1, 0.2f) };
    r.view->setFileChooser (std::make_unique<Chooser> (files));
    const auto library = r.rig.music().getChildFile ("playlists/" + juce::String (r.show.id) + "/audio").getFullPathName().toStdString();
    struct Case { const char* entry; int answer; size_t rows; bool copied; };
    for (const auto& c : { Case { "button", 2, 3, false }, Case { "drop", 0, 3, false }, Case { "drop", 1, 5, true } })
    {
        ASSERT_TRUE (r.nothingModal());
        if (juce::String (c.entry) == "button")
            byId<juce::Button> (*r.view, "add-audio").triggerClick();
        else
            dynamic_cast<juce::FileDragAndDropTarget&> (r.list()).filesDropped ({ files[0].getFullPathName(), files[1].getFullPathName() }, 5, 5);
        auto* dialog = r.alert();
        ASSERT_TRUE (dialog != nullptr && dialog->getName() == ja ("音源を追加")) << c.entry;
        dialog->exitModalState (c.answer);
        ASSERT_TRUE (r.nothingModal());
        const auto copied = [&] { return r.session->runningJobs() == 0 && r.session->postedCopies() == 0 && r.session->copiesAwaitingSave() == 0; };
        ASSERT_TRUE (tickUntil (*r.session, copied));
        ASSERT_EQ (r.rows().size(), c.rows) << c.entry << " " << c.answer;
        EXPECT_EQ (r.rows().back().source.rfind (library, 0) == 0, c.copied) << r.rows().back().source;
    }
}

TEST (RowsList, RemovingARowOffersOnlyTheCopiesNothingUsesAnyMore)
{
    START_ROWS_RIG (r);
    // Removed through the menu: a copy that another playlist also plays is not offered.
    const auto audio = r.rig.music().getChildFile ("playlists/" + juce::String (r.show.id) + "/audio");
    const auto shared = writeTone (audio, "shared.wav", 0.05, 0.1f);
    auto candidate = r.session->undoHistory().current();
    currentPlaylist (candidate)->rows[0] = rowFor (shared);
    candidate.playlists.push_back (playlistOf ("Other", { shared }));
    const auto removed = currentPlaylist (candidate)->rows[0].id;
    ASSERT_TRUE (r.session->commitEdit (candidate));
    ASSERT_TRUE (r.menuOpened (0) && chooseInModalMenu (ja ("プレイリストから削除…")) && r.alert() != nullptr);
    EXPECT_TRUE (r.alert()->getDescription().contains (ja ("プレイリストから削除しますか？")));
    r.alert()->exitModalState (1);
    ASSERT_TRUE (runMessagesUntil ([&] { return findRowById (r.session->undoHistory().current(), removed) == nullptr; }));
    EXPECT_FALSE (r.view->flags().dialogOpen) << "a copy still in use was offered";

    // A removed playlist leaves five unused copies: four names, then how many more; taken, they
    // go to the Trash.
    juce::StringArray takes;
    std::vector<juce::File> takeFiles;
    for (int i = 1; i <= 5; ++i)
        takes.add ((takeFiles.emplace_back (writeTone (audio, "Take " + juce::String (i) + ".wav", 0.05, 0.1f))).getFullPathName());
    auto takesList = playlistOf ("Takes", takeFiles);
    for (auto& row : takesList.rows)   // the offer names each copy by its row's title
        row.title = juce::File (row.source).getFileName().toStdString();
    ASSERT_TRUE (addAndOpen (*r.session, takesList));
    r.view->refresh();
    byId<juce::Button> (*r.view, "tree-remove").triggerClick();   // the open playlist
    ASSERT_TRUE (r.alert() != nullptr && r.alert()->getDescription().contains (ja ("このプレイリストを削除しますか？")));
    r.alert()->exitModalState (1);
    juce::AlertWindow* offer = nullptr;
    ASSERT_TRUE (runMessagesUntil ([&] { return (offer = RowsRig::modal()) != nullptr && offer->getName() == ja ("保存音源の扱い"); }));
    EXPECT_TRUE (offer->getDescription().contains ("Take 3.wav\nTake 4.wav\n" + ja ("ほか 1音源\n\nごみ箱への移動はUndoで戻せません。")))
        << offer->getDescription();
    EXPECT_FALSE (offer->getDescription().contains ("Take 5"));
    offer->exitModalState (1);
    EXPECT_TRUE (runMessagesUntil ([&] { return ! juce::File (takes[4]).exists() && juce::File (shared).exists(); }));
}

TEST (RowsList, UnderLiveLockTheRowsRefuseEditsWhileGoStillPlays)
{
    START_ROWS_RIG (r);
    ASSERT_TRUE (tickUntilPrepared (*r.session, r.rows()[0].id));
    r.session->toggleLiveLock();
    auto& row = r.row (0);
    EXPECT_FALSE (row.titleLabel.isEditableOnDoubleClick());
    EXPECT_FALSE (row.gain.isEnabled());
    EXPECT_FALSE (dynamic_cast<juce::DragAndDropTarget&> (r.list()).isInterestedInDragSource ({ "row:0", &row, {} }));
    ASSERT_TRUE (r.menuOpened (0));
    EXPECT_EQ (modalMenuText(), ja ("音源を再リンク…; 備考を編集…; プレイリストから削除…"));
    juce::PopupMenu::dismissAllActiveMenus();
    ASSERT_TRUE (r.nothingModal());   // and no file dialog for a drop:
    dynamic_cast<juce::FileDragAndDropTarget&> (r.list()).filesDropped ({ r.tone.getFullPathName() }, 5, 5);
    EXPECT_FALSE (r.view->flags().dialogOpen);

    byId<juce::Button> (*r.view, "go").triggerClick();
    EXPECT_TRUE (runMessagesUntil ([&] { return r.session->cueState().main == r.rows()[0].id; })) << r.session->statusText();
}
// A title, note or memo longer than its box shows is shown cut and read-only: the view never
// lays out megabytes, and nothing it shows cut is saved back in place of the whole text.
TEST (RowsList, TextsTooLongForTheirBoxesShowCutAndAreNeverSavedBackCut)
{
    START_ROWS_RIG (r);
    auto candidate = r.session->undoHistory().current();
    auto& playlist = *currentPlaylist (candidate);
    playlist.rows[0].title = std::string (200000, 't') + "end";
    playlist.rows[0].note = std::string (200000, 'n');
    playlist.memo = juce::String::fromUTF8 ("メモ").toStdString() + std::string (100000, 'm');
    ASSERT_TRUE (r.session->commitEdit (candidate));
    r.session->toggleMemoPanel();
    r.view->resized();
    r.view->refresh();

    auto& row = r.row (0);
    for (auto* label : { &row.titleLabel, &row.noteLabel })
    {
        EXPECT_EQ (label->getText().length(), labelTextLimit + 1);
        EXPECT_TRUE (label->getText().endsWith (juce::String::fromUTF8 ("…")));
        EXPECT_FALSE (label->isEditableOnDoubleClick());
    }
    EXPECT_TRUE (r.row (1).titleLabel.isEditableOnDoubleClick()) << "a short title is edited as always";
    row.editNote();
    EXPECT_FALSE (row.noteLabel.isBeingEdited());

    auto& memo = byId<juce::TextEditor> (*r.view, "playlist-memo");
    EXPECT_TRUE (memo.isReadOnly());
    EXPECT_LT (memo.getTotalNumChars(), memoTextLimit + 200);
    EXPECT_TRUE (memo.getText().contains (juce::String::fromUTF8 ("メモ") + juce::String::repeatedString ("m", 100)));

    // Every end of inline edits (a button, a window, the quit) saves the memo being typed.
    r.view->commitPendingEdits();
    const auto& saved = *currentPlaylist (r.session->undoHistory().current());
    EXPECT_TRUE (saved.memo == playlist.memo);
    EXPECT_TRUE (saved.rows[0].title == playlist.rows[0].title);
    EXPECT_TRUE (saved.rows[0].note == playlist.rows[0].note);
}
} // namespace
} // namespace vantrel
