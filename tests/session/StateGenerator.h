#pragma once

#include "session/CatalogRecords.h"

#include <cstdint>
#include <random>
#include <string>

namespace vantrel::testing
{
/** A valid session state drawn from a seed: the same seed always gives the same state, so a
    process can name a state by its seed and another can rebuild it. Every value survives the
    trip through the stored JSON exactly (gains and EQ values on steps of 1/4, integral
    frequencies, durations on steps of 1/8). Playlists keep their ids across seeds, as the
    playlists of one show do between saves; rows, texts and values change. The number of rows
    of a playlist varies by a quarter around rowsPerPlaylist unless exactRowCount is set. */
inline CatalogState generateState (uint64_t seed, int playlistCount = 3, int rowsPerPlaylist = 8, bool exactRowCount = false)
{
    std::mt19937_64 random (seed);
    auto pick = [&random] (int low, int high) { return std::uniform_int_distribution<int> (low, high) (random); };
    auto quarter = [&pick] (int low, int high) { return pick (low * 4, high * 4) / 4.0; };

    auto randomEq = [&]
    {
        EqSettings eq;
        eq.enabled = pick (0, 1) == 1;
        auto& band = eq.bands[static_cast<size_t> (pick (0, EqSettings::numBands - 1))];
        band.enabled = pick (0, 1) == 1;
        band.shape = pick (0, 4);
        band.frequency = pick (20, 20000);
        band.gainDb = quarter (-18, 18);
        band.q = pick (1, 48) / 4.0;
        return eq;
    };

    CatalogState state;
    const auto tag = std::to_string (seed);

    for (int f = 1; f <= 2; ++f)
        state.document.folders.push_back ({ "folder-" + std::to_string (f),
                                            "\xe3\x83\x95\xe3\x82\xa9\xe3\x83\xab\xe3\x83\x80 " + std::to_string (f),   // フォルダ
                                            f == 2 ? "folder-1" : "" });

    for (int p = 0; p < playlistCount; ++p)
    {
        Playlist playlist;
        playlist.id = "playlist-" + std::to_string (p);
        playlist.name = "\xe6\x9c\xac\xe7\x95\xaa " + std::to_string (p) + " / " + tag;   // 本番
        playlist.memo = pick (0, 1) == 1 ? "memo\nline \"two\"" : "";
        playlist.folderId = p % 3 == 0 ? "" : "folder-" + std::to_string (1 + p % 2);
        playlist.gainDb = static_cast<float> (quarter (-60, 12));
        playlist.eq = randomEq();

        const auto variation = pick (-rowsPerPlaylist / 4, rowsPerPlaylist / 4);
        const auto rows = exactRowCount ? rowsPerPlaylist : rowsPerPlaylist + variation;

        for (int r = 0; r < rows; ++r)
        {
            Row row;
            row.id = "row-" + tag + "-" + std::to_string (p) + "-" + std::to_string (r);
            row.title = "\xe6\x9b\xb2 " + std::to_string (r) + " \xf0\x9f\x8e\xb5 " + tag;   // 曲 … 🎵
            row.note = r % 3 == 0 ? "\xe3\x83\xa1\xe3\x83\xa2\ttab" : "";
            row.source = "/srv/show/audio/" + tag + "/track " + std::to_string (r) + ".wav";
            row.bytes = std::uniform_int_distribution<uint64_t> () (random);
            row.modified = std::uniform_int_distribution<int64_t> () (random);
            row.duration = pick (0, 8 * 3600) / 8.0;
            row.gainDb = static_cast<float> (quarter (-60, 12));
            row.eq = pick (0, 3) == 0 ? randomEq() : EqSettings();
            playlist.rows.push_back (std::move (row));
        }

        state.document.playlists.push_back (std::move (playlist));
    }

    state.document.current = playlistCount > 0 && pick (0, 3) != 0 ? "playlist-" + std::to_string (pick (0, playlistCount - 1)) : "";
    state.document.masterEq = randomEq();

    for (auto& pad : state.pads)
    {
        if (pick (0, 2) != 0)
            continue;

        pad.name = "PAD " + std::to_string (pick (1, 99));
        pad.asset = "asset-" + tag + "-" + std::to_string (pick (1, 999)) + ".wav";
        pad.gainDb = static_cast<float> (quarter (-60, 12));
    }

    state.ui.playlistsFolded = pick (0, 1) == 1;
    state.ui.padsFolded = pick (0, 1) == 1;
    state.ui.memoFolded = pick (0, 1) == 1;
    state.ui.zoom = pick (0, 19);
    state.ui.rowHeight = pick (30, 49);

    if (pick (0, 1) == 1)
        state.ui.collapsedFolders.push_back ("folder-1");

    state.limiterEnabled = pick (0, 1) == 1;
    return state;
}
} // namespace vantrel::testing
