#include "ui/MainScreenLayout.h"

#include <algorithm>

namespace vantrel
{
namespace
{
using Rect = juce::Rectangle<int>;

int pos (int n) noexcept { return std::max (n, 0); }

juce::String utf8 (const char* text) { return juce::String::fromUTF8 (text); }

Rect rect (int x, int y, int w, int h) { return { x, y, pos (w), pos (h) }; }

/** Shrinks r so that it does not pass the right or bottom edge of area (it keeps its x and y). */
Rect clip (Rect r, Rect area)
{
    return rect (r.getX(), r.getY(), std::min (r.getRight(), area.getRight()) - r.getX(),
                 std::min (r.getBottom(), area.getBottom()) - r.getY());
}

/** Slots taken from one side of a span: each at most what remains. */
struct Slots
{
    int from, to;   // the span still free, from <= to

    int fromLeft (int width)
    {
        const int x = from;
        from += std::min (pos (width), to - from);
        return x;
    }
    int fromRight (int width)
    {
        to -= std::min (pos (width), to - from);
        return to;
    }
};

/** The rows list's columns over a row of the given width: x and width of status, number, title,
    duration, EQ and gain. */
struct RowColumns
{
    int x[6];
    int w[6];
};

RowColumns rowColumns (int width)
{
    const int usable = width >= 11 ? width - 10 : 0;
    RowColumns c {};
    c.w[0] = std::min (usable, 44);
    c.w[1] = std::min (usable - c.w[0], 43);
    int rest = usable - c.w[0] - c.w[1];
    for (int column : { 5, 4, 3 })
    {
        c.w[column] = std::min (rest, column == 5 ? 190 : column == 4 ? 42 : 88);
        rest -= c.w[column];
    }
    c.w[2] = rest;
    c.x[0] = 5;
    for (int i = 1; i < 6; ++i)
        c.x[i] = c.x[i - 1] + c.w[i - 1];
    return c;
}

class Builder
{
public:
    Builder (Rect local, const MainScreenState& s) : state (s)
    {
        inner = rect (local.getX() + 15, local.getY() + 9, local.getWidth() - 30, local.getHeight() - 18);
        f = std::min (state.dynamicsOpen ? 239 : 155, inner.getHeight());
    }

    MainScreenLayout build()
    {
        topBand();
        controlRow();
        statusRow();
        workingArea();
        return std::move (out);
    }

private:
    void put (const std::string& name, Rect r, Rect area, bool visible = true)
    {
        out.parts[name] = { clip (r, area), visible };
    }

    void topBand()
    {
        const int X0 = inner.getX(), Y0 = inner.getY(), W0 = inner.getWidth();
        const int Mw = std::min (W0, 173);
        const int Mx = X0 + W0 - Mw;
        out.masterPanel = rect (Mx, Y0, Mw, f);
        const Rect lanes = rect (X0, Y0, W0 - Mw - 9, f);

        const int a = pos (37 * f - 666) / 137;
        const int outgoingSlot = a + 6;
        const int laneSlot = pos (f - a - 18) / 2 + 6;
        int y = Y0 + 3;
        for (auto [name, slot] : { std::pair { "wave-outgoing", outgoingSlot }, { "wave-main", laneSlot },
                                   { "wave-ready", laneSlot } })
        {
            put (name, rect (X0, y, lanes.getWidth(), slot - 6), lanes);
            y += slot;
        }

        const Rect& m = out.masterPanel;
        const int B = pos (Mw - 18);
        put ("vst-rack", rect (Mx + 10 + B - 47, Y0 + 5, 45, 18), m);
        put ("master-eq", rect (Mx + 10 + B - 90, Y0 + 5, 41, 18), m);
        put ("master-heading", rect (Mx + 9, Y0 + 4, B - 90, 20), m);

        const int d = std::min (pos (f - 28), state.dynamicsOpen ? 118 : 30);
        const int A = Y0 + f - 8 - d;
        const int h = B / 2;
        put ("gr-readout", rect (Mx + 9, A + 4, B, 10), m);
        put ("safety-mark", rect (Mx + 108, A + 4, 52, 10), m);
        put ("master-limiter", rect (Mx + 10, A + 14, h - 2, 20), m);
        put ("dynamics-fold", rect (Mx + 10 + h, A + 14, B - h - 2, 20), m);

        for (int row = 0; row < 4; ++row)
        {
            const int top = A + 30 + 22 * row;
            const int height = std::min (22, pos (A + d - top));
            const auto n = std::to_string (row);
            put ("limiter-label-" + n, rect (Mx + 9, top + 4, 60, height), m, state.dynamicsOpen);
            put ("limiter-slider-" + n, rect (Mx + 69, top + 4, B - 60, height), m, state.dynamicsOpen);
        }

        const int g = pos (f - 28 - d);
        const int meterWidth = std::min (B, 62);
        put ("meter", rect (Mx + 12, Y0 + 26, meterWidth - 6, g - 4), m);
        put ("master-gain", rect (Mx + 12 + meterWidth, Y0 + 24, B - meterWidth - 6, g), m);
    }

    void controlRow()
    {
        const int X0 = inner.getX(), W0 = inner.getWidth();
        const int T = inner.getY() + f + 8;
        const Rect row = clip (rect (X0, T, W0, 58), inner);
        const int buttonHeight = 44;
        Slots slots { X0, X0 + W0 };

        auto whole = [&] (const char* name, int width)
        {
            const int x = slots.fromLeft (width);
            put (name, rect (x, T, slots.from - x, 58), row);
        };
        auto button = [&] (const char* name, int width, int inset, int buttonWidth)
        {
            const int x = slots.fromLeft (width);
            const Rect slot = rect (x, T, slots.from - x, 58);
            put (name, clip (rect (x + inset, T + 7, buttonWidth, buttonHeight), slot), row);
        };

        whole ("brand", 154);
        slots.fromLeft (14);
        whole ("go", 136);
        slots.fromLeft (14);
        button ("seek-back", 44, 2, 40);
        button ("pause", 54, 2, 50);
        button ("seek-forward", 44, 2, 40);
        slots.fromLeft (6);
        button ("auto-cue", 88, 3, 82);
        button ("auto-ready", 94, 3, 88);
        button ("repeat", 72, 3, 66);
        button ("lock", 92, 3, 86);
        slots.fromLeft (8);

        const int zx = slots.fromLeft (142);
        const Rect zoomSlot = rect (zx, T, slots.from - zx, 58);
        put ("wave-zoom-label", clip (rect (zx + 5, T, 132, 22), zoomSlot), row);
        put ("wave-zoom", clip (rect (zx + 5, T + 22, 132, 29), zoomSlot), row);

        const int S = slots.from;
        const int R = slots.to - slots.from;
        const Rect outputSlot = rect (S, T, R, 58);
        if (R > 234)
        {
            put ("output-device", rect (X0 + W0 - 87, T + 7, 86, buttonHeight), outputSlot);
            put ("output-label", rect (S + 3, T + 4, R - 94, 50), outputSlot);
        }
        else
        {
            put ("output-label", rect (S + 3, T + 39, R - 6, 19), outputSlot);
            put ("output-device", rect (S + 1 + R - std::min (R, 88), T + 3, std::min (R, 88) - 2, 33), outputSlot);
        }
    }

    void statusRow()
    {
        const int X0 = inner.getX(), W0 = inner.getWidth();
        const int Ys = inner.getBottom() - std::min (25, inner.getHeight());
        const Rect row = rect (X0, Ys, W0, inner.getBottom() - Ys);
        Slots slots { X0, X0 + W0 };
        const int sx = slots.fromRight (state.english ? 96 : 76);
        const int N = X0 + W0 - sx;
        put ("settings", rect (sx + 2, Ys + 2, N - 4, 21), row);
        const int rx = slots.fromRight (58);
        put ("recover", clip (rect (rx + 2, Ys + 2, 54, 21), rect (rx, Ys, sx - rx, 25)), row);
        put ("status-label", rect (X0, Ys, rx - X0, 25), row);
    }

    void workingArea()
    {
        const int X0 = inner.getX(), Y0 = inner.getY(), W0 = inner.getWidth();
        Yw = Y0 + f + 76;
        PH = pos (inner.getHeight() - f - 108);

        const int Pw = std::min (W0, state.playlistsFolded ? 27 : 185);
        const int Cw = std::min (pos (W0 - Pw - 8), state.padsFolded ? 27 : 282);
        const int Cx = X0 + W0 - Cw;
        const int Rx = X0 + Pw + 8;
        out.playlistPanel = rect (X0, Yw, Pw, PH);
        out.padsPanel = rect (Cx, Yw, Cw, PH);
        out.rowsPanel = rect (Rx, Yw, Cx - 8 - Rx, PH);

        playlistColumn();
        rowsColumn();
        padsColumn();
    }

    void playlistColumn()
    {
        const Rect& col = out.playlistPanel;
        const bool open = ! state.playlistsFolded;
        const int Pw = col.getWidth(), X0 = col.getX();
        const int Px = X0 + 7, Pi = pos (Pw - 14);
        const int Hh = std::min (pos (PH - 10), 30);
        out.playlistsFoldText = utf8 (open ? "‹" : "›");

        if (open)
            put ("playlists-fold", rect (Px, Yw + 5, std::min (Pi, 23), Hh), col);
        else
            put ("playlists-fold", rect (X0 + 2, Yw + 2, Pw - 4, std::min (pos (PH - 4), 30)), col);

        Slots header { Px, Px + Pi };
        header.fromLeft (23);
        const int headingX = header.fromLeft (105);
        put ("playlists-heading", rect (headingX, Yw + 5, header.from - headingX, Hh), col, open);
        put ("add-playlist-folder", rect (header.from, Yw + 5, header.to - header.from, Hh), col, open);

        const int top = Yw + 5 + Hh;
        const int Ra = pos (PH - 10 - Hh);
        const int removeHeight = std::min (Ra, 27);
        put ("tree-remove", rect (Px + Pi - std::min (Pi, 49), top + Ra - removeHeight, std::min (Pi, 49), removeHeight),
             col, open);

        Slots below { top, top + Ra - removeHeight };
        const int libraryTop = below.fromLeft (33);
        put ("library-button", rect (X0 + 8, Yw + Hh + 7, Pw - 16, (below.from - libraryTop) - 4), col, open);
        below.fromLeft (3);
        const int cdBottom = below.to;
        const int cdTop = below.fromRight (61);
        const int cdHeight = cdBottom - cdTop;
        const int summaryHeight = std::min (cdHeight, 23);
        put ("cd-summary", rect (Px, cdTop, Pi, summaryHeight), col, open);
        put ("cd-import", rect (Px, cdTop + summaryHeight, Pi, std::min (cdHeight - summaryHeight, 29)), col, open);
        put ("playlists", rect (Px, below.from, Pi, below.to - below.from), col, open);
    }

    void rowsColumn()
    {
        const Rect& col = out.rowsPanel;
        const bool rows = ! state.libraryShown;
        const int Rx = col.getX();
        const int left = Rx + 9, Ri = pos (col.getWidth() - 18);
        const int Vh = std::min (pos (PH - 12), 32);

        Slots header { left, left + Ri };
        auto slotButton = [&] (const char* name, int width, int inset, int w, int y, int h)
        {
            const int x = header.fromRight (width);
            put (name, clip (rect (x + inset, y, w, h), rect (x, Yw, width, PH)), col, rows);
        };
        slotButton ("remove-rows", 49, 1, 47, Yw + 7, Vh - 2);
        slotButton ("row-down", 28, 1, 26, Yw + 7, Vh - 2);
        slotButton ("row-up", 28, 1, 26, Yw + 7, Vh - 2);
        slotButton ("add-audio", 78, 2, 74, Yw + 8, Vh - 4);
        slotButton ("playlist-eq", 40, 2, 36, Yw + 8, Vh - 4);
        slotButton ("playlist-gain", 170, 2, 166, Yw + 7, Vh - 2);
        put ("playlist-title", rect (left, Yw + 6, header.to - left, Vh), col, rows);

        const int headingTop = Yw + 6 + Vh;
        const int listTop = headingTop + 23;
        const int memoSpace = pos (Yw + PH - 12 - listTop);
        const int Mh = std::min (memoSpace, state.memoFolded ? 25 : 93);
        const int Ym = Yw + PH - 12 - Mh;

        const auto columns = rowColumns (Ri);
        const char* headings[] = { "state-header", "number-header", "track-header", "duration-header", nullptr, "gain-header" };
        for (int i = 0; i < 6; ++i)
            if (headings[i] != nullptr)
                put (headings[i], rect (left + columns.x[i], headingTop, columns.w[i], 23), col, rows);
        put ("setlist", rect (left, listTop, Ri, Ym - listTop), col, rows);

        const int memoHeader = std::min (Mh, 24);
        const int q = std::min (Ri, 175);
        put ("memo-fold", rect (left, Ym + 6, std::min (Ri - q, 98), memoHeader), col, rows);
        Slots density { left + Ri - q, left + Ri };
        const int headingX = density.fromLeft (31);
        put ("row-density-label", rect (headingX, Ym + 6, density.from - headingX, memoHeader), col, rows);
        put ("row-density", rect (density.from, Ym + 6, density.to - density.from, memoHeader), col, rows);
        put ("playlist-memo", rect (left, Ym + memoHeader + 9, Ri, Mh - memoHeader - 6), col,
             rows && ! state.memoFolded);
        out.memoFoldText = utf8 (state.memoFolded ? "メモ ▸" : "メモ ▾");

        put ("library-panel", rect (left, Yw + 6, Ri, PH - 12), col, ! rows);
    }

    void padsColumn()
    {
        const Rect& col = out.padsPanel;
        const bool open = ! state.padsFolded;
        const int Cx = col.getX(), Cw = col.getWidth();
        const int left = Cx + 8, Ci = pos (Cw - 16);
        const int Zh = std::min (pos (PH - 10), 30);
        out.padsFoldText = utf8 (open ? "›" : "‹");

        Slots header { left, left + Ci };
        const int innerRight = header.to;
        const int foldX = header.fromRight (23);
        if (open)
            put ("pads-fold", rect (foldX, Yw + 5, innerRight - foldX, Zh), col);
        else
            put ("pads-fold", rect (Cx + 2, Yw + 2, Cw - 4, std::min (pos (PH - 4), 30)), col);
        const int editX = header.fromRight (43);
        put ("pad-edit", rect (editX + 2, Yw + 7, std::min (39, pos (foldX - editX - 2)), Zh - 4), col, open);
        const int stopX = header.fromRight (58);
        put ("stop-pads", rect (stopX + 2, Yw + 7, std::min (54, pos (editX - stopX - 2)), Zh - 4), col, open);
        put ("pad-brand", rect (left, Yw + 5, std::min (66, header.to - left), Zh), col, open);

        const int presetTop = Yw + Zh + 5;
        const int presetHeight = std::min (16, pos (Yw + PH - presetTop));
        put ("pad-preset-label", rect (Cx + 11, presetTop, Cw - 22, presetHeight), col, open);

        const int bankTop = presetTop + presetHeight;
        const int bankHeight = std::min (31, pos (Yw + PH - bankTop));
        Slots banks { left, left + Ci };
        for (int n = 1; n <= 5; ++n)
        {
            const int x = banks.fromLeft (pos (Cw - 16) / 5);
            const int w = banks.from - x;
            put ("pad-bank-" + std::to_string (n), rect (x + 2, bankTop + 2, w - 4, bankHeight - 4), col, open);
        }

        const int gridTop = bankTop + bankHeight + 4;
        const int bottom = Yw + PH;
        const int block = std::min (79, pos (bottom - gridTop));
        const int blockTop = bottom - block;
        const int c = std::min (pos (block - 17), 28);
        put ("pad-bus-heading", rect (left, blockTop, Ci, std::min (block, 17)), col, open);
        put ("pad-bus", rect (left, blockTop + 20, Ci, block - 17 - c - 6), col, open);
        put ("pad-mute-all", rect (Cx + 10, bottom - c + 2, Cw - 20, c - 4), col, open);

        const Rect grid = rect (left, gridTop, Ci, blockTop - 5 - gridTop);
        put ("pad-editor-list", grid, col, open && state.padEditMode);
        const int t = grid.getHeight() > 395 ? 0 : state.scrollBarThickness;
        out.padEditorContainer = { 0, 0, std::max (Ci - t, 1), 396 };
        out.padsInEditor = state.padEditMode;

        const int cellW = Ci / 3;
        const int cellH = std::min (grid.getHeight() / 3, Ci / 3);
        const int rowsTop = grid.getY() + (grid.getHeight() - 3 * cellH) / 2;
        static constexpr int keypadOrder[] = { 7, 8, 9, 4, 5, 6, 1, 2, 3 };
        for (int k = 0; k < 9; ++k)
        {
            const auto name = "pad-" + std::to_string (keypadOrder[k]);
            if (state.padEditMode)
                out.parts[name] = { rect (0, 44 * k, out.padEditorContainer.getWidth(), 42), open };
            else
                put (name, rect (left + cellW * (k % 3), rowsTop + cellH * (k / 3), cellW - 2, cellH - 3), grid, open);
        }
    }

    const MainScreenState& state;
    Rect inner;
    int f = 0, Yw = 0, PH = 0;
    MainScreenLayout out;
};
} // namespace

int MainScreenState::layoutKey() const noexcept
{
    return (dynamicsOpen ? 1 : 0) | (libraryShown ? 2 : 0) | (padEditMode ? 4 : 0) | (playlistsFolded ? 8 : 0)
         | (padsFolded ? 16 : 0) | (memoFolded ? 32 : 0);
}

const PartPlacement& MainScreenLayout::operator[] (const std::string& name) const
{
    static const PartPlacement none { {}, false };
    const auto found = parts.find (name);
    return found == parts.end() ? none : found->second;
}

const std::vector<std::string>& mainScreenZOrder()
{
    static const std::vector<std::string> order = []
    {
        std::vector<std::string> ids {
            "go", "wave-outgoing", "wave-main", "wave-ready", "meter", "master-gain", "pad-bus", "seek-back", "pause",
            "seek-forward", "auto-cue", "auto-ready", "repeat", "lock", "output-device", "brand", "output-label",
            "status-label", "playlists-heading", "playlist-title", "pad-brand", "pad-preset-label", "master-heading",
            "gr-readout", "safety-mark", "state-header", "number-header", "track-header", "duration-header",
            "gain-header", "row-density-label", "row-density", "pad-bus-heading", "wave-zoom-label", "playlists-fold",
            "add-playlist-folder", "tree-remove", "add-audio", "row-up", "row-down", "remove-rows", "memo-fold",
            "pads-fold", "pad-mute-all", "stop-pads", "pad-edit", "master-limiter", "dynamics-fold", "vst-rack",
            "recover", "master-eq", "playlist-eq", "playlist-gain", "settings", "wave-zoom", "playlist-memo",
            "playlists", "setlist", "library-button", "library-panel", "cd-import", "cd-summary", "pad-editor-list"
        };
        for (int i = 0; i < 4; ++i)
        {
            ids.push_back ("limiter-label-" + std::to_string (i));
            ids.push_back ("limiter-slider-" + std::to_string (i));
        }
        for (int n = 1; n <= 5; ++n)
            ids.push_back ("pad-bank-" + std::to_string (n));
        for (int n = 1; n <= 9; ++n)
            ids.push_back ("pad-" + std::to_string (n));
        return ids;
    }();
    return order;
}

MainScreenLayout layoutMainScreen (juce::Rectangle<int> localBounds, const MainScreenState& state)
{
    return Builder (localBounds, state).build();
}
} // namespace vantrel
