#include "ui/MainScreenLayout.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using Rect = juce::Rectangle<int>;

struct Expected
{
    const char* part;
    Rect bounds;
    bool visible = true;
};

void expectParts (const MainScreenLayout& layout, std::initializer_list<Expected> table)
{
    for (const auto& e : table)
    {
        SCOPED_TRACE (e.part);
        ASSERT_TRUE (layout.parts.count (e.part) == 1);
        EXPECT_EQ (layout[e.part].bounds, e.bounds);
        EXPECT_EQ (layout[e.part].visible, e.visible);
    }
}

MainScreenLayout layoutAt (int w, int h, MainScreenState state = {}) { return layoutMainScreen ({ 0, 0, w, h }, state); }

// Inner area at 1380 x 860: X0 15, Y0 9, W0 1350, H0 842. Top band f 155: a = (5735 - 666) / 137 = 37, so lane
// slots 43, 56, 56 from y 12. Master section x 1365 - 173 = 1192, inner width B 155. Control row at T = 172:
// slots from x 15 add up to 962, leaving the output R = 388 from x 977. Working area from y 240, 842 - 263 = 579
// high; columns 185 | 8 | 867 | 8 | 282. The memo starts folded (25 high, at 240 + 579 - 12 - 25 = 782).
TEST (MainScreenLayout, BoundsAtTheHarnessSize)
{
    const auto layout = layoutAt (1380, 860);
    EXPECT_EQ (layout.masterPanel, Rect (1192, 9, 173, 155));
    EXPECT_EQ (layout.playlistPanel, Rect (15, 240, 185, 579));
    EXPECT_EQ (layout.rowsPanel, Rect (208, 240, 867, 579));
    EXPECT_EQ (layout.padsPanel, Rect (1083, 240, 282, 579));
    expectParts (layout, {
        { "wave-outgoing", { 15, 12, 1168, 37 } }, { "wave-main", { 15, 55, 1168, 50 } }, { "wave-ready", { 15, 111, 1168, 50 } },
        { "vst-rack", { 1310, 14, 45, 18 } }, { "master-eq", { 1267, 14, 41, 18 } }, { "master-heading", { 1201, 13, 65, 20 } },
        // dynamics block 30 high from 9 + 155 - 8 - 30 = 126; LIMITER and DYNAMICS share B at h = 77
        { "gr-readout", { 1201, 130, 155, 10 } }, { "safety-mark", { 1300, 130, 52, 10 } },
        { "master-limiter", { 1202, 140, 75, 20 } }, { "dynamics-fold", { 1279, 140, 76, 20 } },
        { "limiter-label-0", { 1201, 160, 60, 0 }, false },
        { "meter", { 1204, 35, 56, 93 } }, { "master-gain", { 1266, 33, 87, 97 } },
        { "brand", { 15, 172, 154, 58 } }, { "go", { 183, 172, 136, 58 } },
        { "seek-back", { 335, 179, 40, 44 } }, { "pause", { 379, 179, 50, 44 } }, { "seek-forward", { 433, 179, 40, 44 } },
        { "auto-cue", { 484, 179, 82, 44 } }, { "auto-ready", { 572, 179, 88, 44 } }, { "repeat", { 666, 179, 66, 44 } },
        { "lock", { 738, 179, 86, 44 } }, { "wave-zoom-label", { 840, 172, 132, 22 } }, { "wave-zoom", { 840, 194, 132, 29 } },
        { "output-label", { 980, 176, 294, 50 } }, { "output-device", { 1278, 179, 86, 44 } },
        // playlist column: inner x 22, width 171; header 30 at 245; below it 539 down to 814
        { "playlists-fold", { 22, 245, 23, 30 } }, { "playlists-heading", { 45, 245, 105, 30 } },
        { "add-playlist-folder", { 150, 245, 43, 30 } }, { "tree-remove", { 144, 787, 49, 27 } },
        { "library-button", { 23, 277, 169, 29 } }, { "playlists", { 22, 311, 171, 415 } },
        { "cd-summary", { 22, 726, 171, 23 } }, { "cd-import", { 22, 749, 171, 29 } },
        // rows column: inner x 217, width 849; header slots from the right end 1066
        { "remove-rows", { 1018, 247, 47, 30 } }, { "row-down", { 990, 247, 26, 30 } }, { "row-up", { 962, 247, 26, 30 } },
        { "add-audio", { 885, 248, 74, 28 } }, { "playlist-eq", { 845, 248, 36, 28 } },
        { "playlist-gain", { 675, 247, 166, 30 } }, { "playlist-title", { 217, 246, 456, 32 } },
        // headings over the list's columns: u = 839; 44, 43, then gain 190, EQ 42, time 88, title 432
        { "state-header", { 222, 278, 44, 23 } }, { "number-header", { 266, 278, 43, 23 } },
        { "track-header", { 309, 278, 432, 23 } }, { "duration-header", { 741, 278, 88, 23 } },
        { "gain-header", { 871, 278, 190, 23 } }, { "setlist", { 217, 301, 849, 481 } },
        { "memo-fold", { 217, 788, 98, 24 } }, { "row-density-label", { 891, 788, 31, 24 } },
        { "row-density", { 922, 788, 144, 24 } }, { "playlist-memo", { 217, 815, 849, 0 }, false },
        { "library-panel", { 217, 246, 849, 567 }, false },
        // pads column: inner x 1091, width 266; banks 53 wide; bus block the bottom 79 (740..819)
        { "pads-fold", { 1334, 245, 23, 30 } }, { "pad-edit", { 1293, 247, 39, 26 } }, { "stop-pads", { 1235, 247, 54, 26 } },
        { "pad-brand", { 1091, 245, 66, 30 } }, { "pad-preset-label", { 1094, 275, 260, 16 } },
        { "pad-bank-1", { 1093, 293, 49, 27 } }, { "pad-bank-5", { 1305, 293, 49, 27 } },
        { "pad-bus-heading", { 1091, 740, 266, 17 } }, { "pad-bus", { 1091, 760, 266, 28 } },
        { "pad-mute-all", { 1093, 793, 262, 24 } },
        // grid 326..735 (409 high): 88 x 88 cells, the three rows centred from 326 + 72
        { "pad-editor-list", { 1091, 326, 266, 409 }, false },
        { "pad-7", { 1091, 398, 86, 85 } }, { "pad-5", { 1179, 486, 86, 85 } }, { "pad-3", { 1267, 574, 86, 85 } },
        // status row at 826: settings 76 and recover 58 from the right
        { "settings", { 1291, 828, 72, 21 } }, { "recover", { 1233, 828, 54, 21 } }, { "status-label", { 15, 826, 1216, 25 } },
    });
    EXPECT_EQ (layout.playlistsFoldText, juce::String::fromUTF8 ("‹"));
    EXPECT_EQ (layout.padsFoldText, juce::String::fromUTF8 ("›"));
    EXPECT_EQ (layout.memoFoldText, juce::String::fromUTF8 ("メモ ▸"));
}

// The default window (1380 x 860 content) lays the view out at 1187 x 740: W0 1157, H0 722, the output gets
// R = 1172 - 977 = 195 (label under the button), the working panels 722 - 263 = 459 high.
TEST (MainScreenLayout, BoundsAtTheDefaultWindowsDesignSize)
{
    const auto layout = layoutAt (1187, 740);
    EXPECT_EQ (layout.masterPanel, Rect (999, 9, 173, 155));
    EXPECT_EQ (layout.rowsPanel, Rect (208, 240, 674, 459));
    EXPECT_EQ (layout.padsPanel, Rect (890, 240, 282, 459));
    expectParts (layout, {
        { "wave-ready", { 15, 111, 975, 50 } }, { "vst-rack", { 1117, 14, 45, 18 } },
        { "output-label", { 980, 211, 189, 19 } }, { "output-device", { 1085, 175, 86, 33 } },
        { "setlist", { 217, 301, 656, 361 } }, { "gain-header", { 678, 278, 190, 23 } },
        // grid 326..615 (289 high): cells 88 x 88, rows from 326 + 12
        { "pad-7", { 898, 338, 86, 85 } }, { "pad-3", { 1074, 514, 86, 85 } }, { "pad-mute-all", { 900, 673, 262, 24 } },
        { "settings", { 1098, 708, 72, 21 } }, { "recover", { 1040, 708, 54, 21 } }, { "status-label", { 15, 706, 1023, 25 } },
    });
}

TEST (MainScreenLayout, OutputLabelGoesUnderTheButtonBelow1227)
{
    // 1226: R = 15 + 1196 - 977 = 234, not more than 234.
    expectParts (layoutAt (1226, 860), { { "output-label", { 980, 211, 228, 19 } }, { "output-device", { 1124, 175, 86, 33 } } });
    expectParts (layoutAt (1227, 860), { { "output-label", { 980, 176, 141, 50 } }, { "output-device", { 1125, 179, 86, 44 } } });
}

TEST (MainScreenLayout, Variants)
{
    MainScreenState dynamics;
    dynamics.dynamicsOpen = true;
    // f 239: a = 59, slots 65 and 87; dynamics block 118 from 122; working area from 324, 84 shorter
    const auto open = layoutAt (1380, 860, dynamics);
    EXPECT_EQ (open.playlistPanel, Rect (15, 324, 185, 495));
    expectParts (open, {
        { "wave-outgoing", { 15, 12, 1168, 59 } }, { "wave-main", { 15, 77, 1168, 81 } }, { "wave-ready", { 15, 164, 1168, 81 } },
        { "master-limiter", { 1202, 136, 75, 20 } }, { "meter", { 1204, 35, 56, 89 } },
        { "limiter-label-0", { 1201, 156, 60, 22 } }, { "limiter-slider-3", { 1261, 222, 95, 22 } }, { "go", { 183, 256, 136, 58 } },
    });

    MainScreenState folded;
    folded.playlistsFolded = folded.padsFolded = true;
    folded.padEditMode = true;   // no effect while the pads are folded
    const auto strips = layoutAt (1380, 860, folded);
    EXPECT_EQ (strips.playlistPanel, Rect (15, 240, 27, 579));
    EXPECT_EQ (strips.rowsPanel, Rect (50, 240, 1280, 579));
    EXPECT_EQ (strips.padsPanel, Rect (1338, 240, 27, 579));
    EXPECT_EQ (strips.playlistsFoldText, juce::String::fromUTF8 ("›"));
    EXPECT_EQ (strips.padsFoldText, juce::String::fromUTF8 ("‹"));
    for (const char* hidden : { "playlists", "playlists-heading", "add-playlist-folder", "tree-remove", "library-button",
                                "cd-import", "cd-summary", "pad-brand", "pad-edit", "stop-pads", "pad-bus", "pad-mute-all",
                                "pad-bank-3", "pad-editor-list", "pad-1", "pad-9" })
        EXPECT_FALSE (strips[hidden].visible) << hidden;
    expectParts (strips, { { "playlists-fold", { 17, 242, 23, 30 } }, { "pads-fold", { 1340, 242, 23, 30 } } });

    MainScreenState library;
    library.libraryShown = true;
    library.memoFolded = false;
    const auto lib = layoutAt (1380, 860, library);
    EXPECT_TRUE (lib["library-panel"].visible);
    EXPECT_TRUE (lib["playlists"].visible);
    for (const char* hidden : { "playlist-eq", "playlist-gain", "playlist-title", "row-up", "row-down", "remove-rows",
                                "add-audio", "state-header", "gain-header", "setlist", "memo-fold", "row-density-label",
                                "row-density", "playlist-memo" })
        EXPECT_FALSE (lib[hidden].visible) << hidden;

    MainScreenState memo;
    memo.memoFolded = false;   // memo block 93 from 714
    const auto memoOpen = layoutAt (1380, 860, memo);
    expectParts (memoOpen, { { "setlist", { 217, 301, 849, 413 } }, { "playlist-memo", { 217, 747, 849, 63 } },
                             { "memo-fold", { 217, 720, 98, 24 } } });
    EXPECT_EQ (memoOpen.memoFoldText, juce::String::fromUTF8 ("メモ ▾"));

    MainScreenState english;
    english.english = true;
    expectParts (layoutAt (1380, 860, english), { { "settings", { 1271, 828, 92, 21 } }, { "recover", { 1213, 828, 54, 21 } },
                                                  { "status-label", { 15, 826, 1196, 25 } } });
}

TEST (MainScreenLayout, PadEditModeListsThePadsInKeypadOrder)
{
    struct Case { int w, h, scrollBar, containerWidth; } cases[] = {
        { 1380, 860, 8, 266 },   // grid 409 high: no scroll bar needed
        { 1187, 740, 8, 258 },   // grid 289 high: the scroll bar takes its width
    };
    for (const auto& c : cases)
    {
        MainScreenState state;
        state.padEditMode = true;
        state.scrollBarThickness = c.scrollBar;
        const auto layout = layoutAt (c.w, c.h, state);
        EXPECT_TRUE (layout.padsInEditor);
        EXPECT_TRUE (layout["pad-editor-list"].visible);
        EXPECT_EQ (layout.padEditorContainer, Rect (0, 0, c.containerWidth, 396));
        expectParts (layout, { { "pad-7", { 0, 0, c.containerWidth, 42 } }, { "pad-4", { 0, 132, c.containerWidth, 42 } },
                               { "pad-3", { 0, 352, c.containerWidth, 42 } } });
    }
}

TEST (MainScreenLayout, SmallViewsKeepEveryVisiblePartInsideWithNoNegativeSize)
{
    for (auto [w, h] : { std::pair { 0, 0 }, { 20, 10 }, { 300, 200 }, { 700, 320 }, { 1000, 420 } })
        for (bool dynamics : { false, true })
        {
            MainScreenState state;
            state.dynamicsOpen = dynamics;
            const auto layout = layoutAt (w, h, state);
            const Rect view (0, 0, w, h);
            for (const auto& [name, placement] : layout.parts)
            {
                SCOPED_TRACE (name + " at " + std::to_string (w) + "x" + std::to_string (h));
                EXPECT_GE (placement.bounds.getWidth(), 0);
                EXPECT_GE (placement.bounds.getHeight(), 0);
                if (placement.visible && ! placement.bounds.isEmpty())
                {
                    EXPECT_TRUE (view.contains (placement.bounds));
                }
            }
        }
}
} // namespace
} // namespace vantrel
