// The CD window over an importer that reads generated disc images through libcdio as it reads a
// drive: discs coming and going, an import from the click to its playlist, the status line.
#include "app/CdStepGate.h"
#include "ViewTestSupport.h"

#include "support/CdImage.h"
#include "ui/CdImportPanel.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

/** The main view over an offline session whose importer lists the images in `cues` every 20 ms,
    and the CD window opened by the view's CD button. */
struct CdPanelRig : ViewRig
{
    explicit CdPanelRig (bool importer = true)
    {
        session.reset();
        if (importer)
        {
            CdImportSetup setup;
            setup.drives.list = [this] { std::lock_guard<std::mutex> lock (mutex); return cues; };
            setup.listIntervalMs = 20;
            setup.afterStep = [g = gate] (const juce::String& step) { g->pass (step); };
            rig.options.cdImportSetup = setup;
        }
        session = rig.make();
        makeView().setBounds (0, 0, 1380, 860);
        byId<juce::Button> (*view, "cd-import").triggerClick();
        runMessagesUntil ([this] { return (window = view->window ("cd-window")) != nullptr; });
        panel = &byId<CdImportPanel> (*window, "cd-import-panel");
        waitUntilMapped (*window, display);
    }
    ~CdPanelRig()
    {
        gate->release();
        view.reset();
        session.reset();   // its importer's worker lists `cues` until then
    }

    /** Puts a disc image into a drive, before the others. */
    juce::String insert (const juce::String& name, const CdImageContents& contents)
    {
        const auto cue = writeCdImage (rig.profile / name, contents).cue.getFullPathName();
        std::lock_guard<std::mutex> lock (mutex);
        cues.insert (cues.begin(), cue);
        return cue;
    }
    void eject (const juce::String& cue)  { std::lock_guard<std::mutex> lock (mutex); cues.erase (std::find (cues.begin(), cues.end(), cue)); }

    template <typename Type = juce::Button>
    Type& part (const char* id) { return byId<Type> (*panel, id); }
    juce::String status() { return part<juce::Label> ("cd-status").getText(); }
    /** The disc box's items (the chosen one marked) and the track rows as the operator reads them. */
    juce::String listing()
    {
        auto& box = part<juce::ComboBox> ("cd-discs");
        juce::StringArray items, rows;
        for (int i = 0; i < box.getNumItems(); ++i)
            items.add (box.getItemText (i) + (box.getSelectedItemIndex() == i ? " *" : ""));
        for (int row = 0; row < panel->getNumRows(); ++row)
            rows.add (panel->getNameForRow (row));
        return items.joinIntoString ("; ") + " | " + rows.joinIntoString ("; ");
    }
    juce::String ticks()
    {
        juce::String numbers;
        for (const int n : panel->tickedTracks())
            numbers << n << ",";
        return numbers;
    }
    void clickRow (int row)
    {
        auto& list = part<juce::ListBox> ("cd-tracks");
        PeerPointer (*window).click (list.localPointToGlobal (list.getRowPosition (row, true).getCentre()));
    }
    /** Clicks import once it is enabled, and waits until the worker is held at `step`. */
    bool startHeldAt (const juce::String& step)
    {
        gate->hold (step);
        return runMessagesUntil ([this] { return part ("cd-start").isEnabled(); }) && (part ("cd-start").triggerClick(), true)
            && runMessagesUntil ([this] { return gate->isReached() && part ("cd-cancel").isEnabled(); });
    }

    std::mutex mutex;
    std::vector<juce::String> cues;
    std::shared_ptr<CdStepGate> gate = std::make_shared<CdStepGate>();
    juce::Component* window = nullptr;
    CdImportPanel* panel = nullptr;
};

#define START_CD_RIG(r, ...)      \
    CdPanelRig r { __VA_ARGS__ }; \
    if (! r.display.running())    \
        GTEST_SKIP() << r.display.problem;

TEST (CdImportPanel, DiscsComingAndGoingUpdateTheBoxAndTheTracksAndTheShownDiscKeepsItsTicksAndName)
{
    START_CD_RIG (r);
    const auto none = ja ("音楽CDを入れると表示します"), choose = ja ("取り込む曲と形式を選んでください");
    const auto albumTracks = " | Track 01 03:40; Track 02 00:02; Track 03 00:04";
    juce::String album, other;
    struct Step { std::function<void()> change; juce::String listing, ticks, name, status; };
    const std::vector<Step> steps {
        { [] {}, " | ", "", "", none },
        { [&] { album = r.insert ("album", { { std::vector<std::uint8_t> (16500 * 2352), cdAudio (2, 150), cdAudio (3, 300) }, 0, "Live" }); },
          "Live (*) *" + juce::String (albumTracks), "1,2,3,", "Live", choose },
        // The operator unticks track 2 and names the playlist; another disc comes in before it.
        { [&] { r.clickRow (1); r.part<juce::TextEditor> ("cd-name").setText ("Encore"); }, "", "1,3,", "Encore", choose },
        { [&] { other = r.insert ("other", { { cdAudio (4, 150), cdAudio (5, 225) }, 0, {} }); },
          "Audio CD (*); Live (*) *" + juce::String (albumTracks), "1,3,", "Encore", choose },
        { [&] { r.eject (album); }, "Audio CD (*) * | Track 01 00:02; Track 02 00:03", "1,2,", "Audio CD", choose },
        { [&] { r.eject (other); }, " | ", "", "Audio CD", none },
    };
    for (size_t i = 0; i < steps.size(); ++i)
    {
        const auto& step = steps[i];
        step.change();
        const auto listing = step.listing.replace ("Live (*)", "Live (" + album + ")").replace ("Audio CD (*)", "Audio CD (" + other + ")");
        EXPECT_TRUE (runMessagesUntil ([&] {
            return (listing.isEmpty() || r.listing() == listing) && r.ticks() == step.ticks && r.status() == step.status
                && r.part ("cd-start").isEnabled() == step.ticks.isNotEmpty();
        })) << i << ": " << r.listing() << " ticks " << r.ticks() << " " << r.status();
        EXPECT_EQ (r.part<juce::TextEditor> ("cd-name").getText(), step.name) << i;
    }
}

TEST (CdImportPanel, TheStatusLineAndTheImportButtonFollowTheChoicesAndAnImportEndsInItsPlaylist)
{
    START_CD_RIG (r);
    r.insert ("disc", { { cdAudio (1, 150), cdAudio (2, 188), cdAudio (3, 225) }, 0, "Disc" });
    ASSERT_TRUE (runMessagesUntil ([&] { return r.ticks() == "1,2,3,"; }));
    auto& s = *r.session;
    ASSERT_TRUE (s.currentPreferences().isLocked (LockScope::playlistEditing));
    const auto choose = ja ("取り込む曲と形式を選んでください"), cancelled = ja ("CD取込をキャンセルしました");
    auto& name = r.part<juce::TextEditor> ("cd-name");
    auto& status = r.part<juce::Label> ("cd-status");
    struct Step { const char* what; std::function<void()> act; juce::String status; bool error, importable; };
    for (const auto& step : std::vector<Step> {
             { "LIVE LOCK on", [&] { s.toggleLiveLock(); }, ja ("LIVE LOCKを解除すると取込・登録できます"), false, false },
             { "LIVE LOCK off", [&] { s.toggleLiveLock(); }, choose, false, true },
             { "none ticked", [&] { r.part ("cd-select-none").triggerClick(); }, choose, false, false },
             { "all ticked", [&] { r.part ("cd-select-all").triggerClick(); }, choose, false, true },
             { "a name of blanks", [&] { name.setText ("   "); }, choose, false, false },
             { "cancelled", [&] { name.setText ("Set"), r.startHeldAt ("ripped 1"), r.part ("cd-cancel").triggerClick();
                                  runPendingMessages(), r.gate->release(); }, cancelled, true, true },
             { "the error outranks LIVE LOCK", [&] { s.toggleLiveLock(); }, cancelled, true, false },
             { "LIVE LOCK off again", [&] { s.toggleLiveLock(); r.clickRow (1); }, cancelled, true, true } })
    {
        step.act();
        EXPECT_TRUE (runMessagesUntil ([&] {
            return ! cdImportState (s).busy && status.getText() == step.status && r.part ("cd-start").isEnabled() == step.importable;
        })) << step.what << ": " << status.getText();
        EXPECT_EQ (status.findColour (juce::Label::textColourId) == juce::Colour (0xffef7776), step.error) << step.what;
    }
    s.tick();
    EXPECT_TRUE (s.undoHistory().current().playlists.empty());
    EXPECT_TRUE (r.rig.music().getChildFile ("imports").findChildFiles (juce::File::findDirectories, false).isEmpty());

    for (const int format : { 2, 1, 2 })   // MP3 opens the rate and the bit rate, WAV closes them
    {
        r.part<juce::ComboBox> ("cd-format").setSelectedId (format);
        EXPECT_TRUE (runMessagesUntil ([&] { return r.part<juce::ComboBox> ("cd-rate").isEnabled() == (format == 2)
                                                    && r.part<juce::ComboBox> ("cd-bitrate").isEnabled() == (format == 2); }));
    }
    r.part<juce::ComboBox> ("cd-rate").setSelectedId (48000);
    r.part<juce::ComboBox> ("cd-bitrate").setSelectedId (128);
    ASSERT_TRUE (r.startHeldAt ("ripped 1"));
    EXPECT_TRUE (runMessagesUntil ([&] { return status.getText() == ja ("CDを読み込み中 · ") + "Track 01"; })) << status.getText();
    for (const char* id : { "cd-discs", "cd-name", "cd-format", "cd-rate", "cd-bitrate", "cd-select-all", "cd-select-none", "cd-start", "cd-tracks" })
        EXPECT_FALSE (r.part<juce::Component> (id).isEnabled()) << id;
    r.gate->release();
    auto* bar = r.part<juce::Component> ("cd-progress").getAccessibilityHandler()->getValueInterface();
    ASSERT_TRUE (runMessagesUntil ([&] {
        return status.getText() == ja ("CD取込が完了しました") && r.part ("cd-start").isEnabled() && ! r.part ("cd-cancel").isEnabled()
            && bar->getCurrentValue() == 1.0;
    })) << status.getText();

    s.tick();
    const auto& document = s.undoHistory().current();
    ASSERT_EQ (document.playlists.size(), 1u);
    EXPECT_EQ (document.playlists[0].name, "Set");
    EXPECT_EQ (document.current, document.playlists[0].id);
    juce::StringArray files;
    for (const auto& row : document.playlists[0].rows)
    {
        juce::MemoryBlock mp3;
        juce::File (row.source).loadFileAsData (mp3);
        // The first frame's header: MPEG-1 layer III at 128 kbps (index 9) and 48 kHz (index 1).
        const auto* b = static_cast<const std::uint8_t*> (mp3.getData());
        const bool chosen = mp3.getSize() > 3 && b[0] == 0xff && (b[1] & 0xfe) == 0xfa && b[2] >> 4 == 9 && (b[2] >> 2 & 3) == 1;
        files.add (juce::String (row.title) + " " + juce::File (row.source).getFileName() + (chosen ? " 128/48" : ""));
    }
    EXPECT_EQ (files.joinIntoString ("; "), "Track 01 Track01.mp3 128/48; Track 03 Track03.mp3 128/48");
}

TEST (CdImportPanel, WithoutAnImporterTheStatusLineSaysWhyAndTheCdButtonShowsTheSameWindowAgain)
{
    START_CD_RIG (r, false);
    for (const bool recovering : { false, true })
    {
        SessionCoordinatorTestAccess::setRecoveryRequired (*r.session, recovering);
        r.panel->timerCallback();
        EXPECT_EQ (r.status(), ja (recovering ? "保存データの復旧確認が終わるまでCD取込は使えません" : "音声なしで起動しているためCD取込は使えません"));
        EXPECT_FALSE (r.part ("cd-start").isEnabled());
    }
    SessionCoordinatorTestAccess::setRecoveryRequired (*r.session, false);

    r.part<juce::TextEditor> ("cd-name").setText ("Kept");
    auto& window = dynamic_cast<juce::DocumentWindow&> (*r.window);
    window.getCloseButton()->triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return ! window.isVisible(); }));
    byId<juce::Button> (*r.view, "cd-import").triggerClick();
    EXPECT_TRUE (runMessagesUntil ([&] { return window.isVisible(); }));
    EXPECT_EQ (r.view->window ("cd-window"), &window);
    EXPECT_EQ (r.part<juce::TextEditor> ("cd-name").getText(), "Kept");
}
} // namespace
} // namespace vantrel
