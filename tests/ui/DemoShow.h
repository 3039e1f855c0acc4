#pragma once
// A demo show for the screens program and the view's benchmarks: generated tracks with Japanese
// and Latin titles, two playlists (one in a folder), the pads of bank 1, built through the
// coordinator's own operations. Message thread (the coordinator's) only.

#include "tests/app/SessionTestSupport.h"

#include <cmath>
#include <string>
#include <vector>

namespace vantrel::test
{
struct DemoShowOptions
{
    double firstTrackSeconds = 8.0;   // "オープニング", the track playDemoTrack starts first
    int bigPlaylistRows = 0;          // above 0: a third playlist, "大規模リスト", of that many rows
};

/** What buildDemoShow made; `error` says what failed (empty on success). */
struct DemoShow
{
    std::string folderId, mainPlaylistId, rehearsalId, bigPlaylistId;
    std::vector<juce::File> tracks;   // in the order of demoTracks()
    juce::String error;

    bool ok() const { return error.isEmpty(); }
};

struct DemoTrack
{
    const char* title;   // also the file's name
    const char* note;
    double seconds;
    double frequency;
};

/** The show's tracks: the first eight are "本番 第1部" in order. */
inline const std::vector<DemoTrack>& demoTracks()
{
    static const std::vector<DemoTrack> tracks {
        { "オープニング", "客電落ち → GO", 8.0, 220.0 },
        { "Walk-in Theme", "", 5.0, 330.0 },
        { "乾杯の音頭", "司会の「乾杯」で GO", 4.0, 440.0 },
        { "歓談 BGM – ジャズ・ピアノ", "", 6.0, 262.0 },
        { "余興: ダンス・メドレー", "フェードアウトは手動", 5.0, 392.0 },
        { "花束贈呈", "", 4.0, 523.0 },
        { "エンディング", "映像と同時", 6.0, 294.0 },
        { "退場曲 (Long Version)", "", 5.0, 349.0 },
        { "サウンドチェック 1kHz", "-18 dBFS", 3.0, 1000.0 },
        { "マイクチェック", "", 3.0, 600.0 },
        { "転換 BGM", "", 4.0, 370.0 },
    };
    return tracks;
}

/** Sources of the pads 1..7 of bank 1 (8 and 9 stay empty); the pad's name is the file's name. */
inline const std::vector<const char*>& demoPadNames()
{
    static const std::vector<const char*> names { "拍手", "ドラムロール", "チャイム", "ファンファーレ",
                                                  "笑い声", "ブザー", "Applause Long" };
    return names;
}

/** A tone whose level moves in quarter seconds, so that its waveform has a shape; the same bytes
    on every run. */
inline juce::File writeDemoTone (const juce::File& folder, const juce::String& name, double seconds, double frequency,
                                 int seed)
{
    std::vector<ToneStep> steps;
    const int quarters = std::max (1, (int) std::lround (seconds * 4.0));
    for (int k = 0; k < quarters; ++k)
        steps.push_back ({ 0.25, 0.12f + 0.6f * (float) std::abs (std::sin (0.7 * k + seed)) });
    return writeToneSteps (folder, name, steps, frequency);
}

namespace demo_detail
{
inline Row demoRow (const juce::File& file, const DemoTrack& track, double seconds)
{
    auto row = rowFor (file);
    row.title = track.title;
    row.note = track.note;
    row.duration = seconds;
    return row;
}
} // namespace demo_detail

/** Writes the show's audio into `mediaFolder` and builds, through the coordinator's edits: the
    folder "ホール公演" holding "本番 第1部" (8 rows, a memo, one row at -3.5 dB), the top-level
    "リハーサル" (5 rows), optionally the big playlist, and pads 1..7 of bank 1 (their copies
    finished). No playlist is opened. */
inline DemoShow buildDemoShow (SessionCoordinator& session, const juce::File& mediaFolder,
                               const DemoShowOptions& options = {})
{
    DemoShow show;
    const auto fail = [&show] (const juce::String& what) { show.error = what; return show; };
    const auto& tracks = demoTracks();
    std::vector<double> seconds;
    for (size_t i = 0; i < tracks.size(); ++i)
    {
        seconds.push_back (i == 0 ? options.firstTrackSeconds : tracks[i].seconds);
        const auto file = writeDemoTone (mediaFolder, juce::String::fromUTF8 (tracks[i].title) + ".wav", seconds[i],
                                         tracks[i].frequency, (int) i);
        if (! file.existsAsFile())
            return fail ("could not write the track " + juce::String::fromUTF8 (tracks[i].title));
        show.tracks.push_back (file);
    }
    const auto row = [&] (size_t i) { return demo_detail::demoRow (show.tracks[i], tracks[i], seconds[i]); };

    if (! session.addTreeFolder ("ホール公演", ""))
        return fail ("the folder could not be added: " + session.statusText());
    show.folderId = session.undoHistory().current().folders.back().id;

    auto candidate = session.undoHistory().current();
    Playlist main;
    main.id = show.mainPlaylistId = newCatalogId();
    main.name = "本番 第1部";
    main.folderId = show.folderId;
    for (size_t i = 0; i < 8; ++i)
        main.rows.push_back (row (i));
    Playlist rehearsal;
    rehearsal.id = show.rehearsalId = newCatalogId();
    rehearsal.name = "リハーサル";
    for (size_t i : { 8, 9, 0, 10, 6 })
        rehearsal.rows.push_back (row (i));
    candidate.playlists.push_back (main);
    candidate.playlists.push_back (rehearsal);
    if (options.bigPlaylistRows > 0)
    {
        Playlist big;
        big.id = show.bigPlaylistId = newCatalogId();
        big.name = "大規模リスト";
        for (int n = 0; n < options.bigPlaylistRows; ++n)
        {
            auto r = row ((size_t) n % 8);
            r.id = newCatalogId();
            r.title = std::string (tracks[(size_t) n % 8].title) + " #" + std::to_string (n + 1);
            big.rows.push_back (std::move (r));
        }
        candidate.playlists.push_back (std::move (big));
    }
    if (! session.commitEdit (candidate))
        return fail ("the playlists could not be added: " + session.statusText());
    if (! session.setPlaylistMemo (show.mainPlaylistId, "開演 18:30 · 休憩 15分\n照明キュー 12 で GO"))
        return fail ("the memo could not be set: " + session.statusText());
    if (! session.commitRowGain (main.rows[3].id, -3.5f))
        return fail ("the row gain could not be set: " + session.statusText());

    const auto padFolder = mediaFolder.getChildFile ("pads");
    const auto& pads = demoPadNames();
    for (size_t i = 0; i < pads.size(); ++i)
    {
        const auto file = writeDemoTone (padFolder, juce::String::fromUTF8 (pads[i]) + ".wav", 1.5, 660.0 + 110.0 * (double) i,
                                         (int) i + 3);
        if (! file.existsAsFile())
            return fail ("could not write the pad sound " + juce::String::fromUTF8 (pads[i]));
        session.assignPad (1, (int) i + 1, file);
    }
    if (! finishPadJobs (session))
        return fail ("the pad copies did not finish");
    for (size_t i = 0; i < pads.size(); ++i)
        if (session.catalogState().pads[(size_t) *padIndex (1, (int) i + 1)].asset.empty())
            return fail ("pad " + juce::String ((int) i + 1) + " of bank 1 was not assigned: " + session.statusText());
    return show;
}

/** True when READY is set and its media prepared (or failed). */
inline bool readyMediaSettled (SessionCoordinator& session)
{
    if (! session.cueState().ready)
        return false;
    const auto media = session.audioAdapter().loadedMedia (*session.cueState().ready);
    return media != nullptr && (media->pcm != nullptr || media->failed());
}

/** Opens the playlist and waits until READY's media is prepared. framesPerTick: the frames
    rendered before each tick while the engine is paced by hand; 0 when it paces itself. */
inline bool openDemoPlaylist (SessionCoordinator& session, const std::string& id, juce::String& error,
                              int framesPerTick = 1600)
{
    if (! session.openPlaylist (id))
        return error = "the playlist could not be opened: " + session.statusText(), false;
    if (! tickUntil (session, [&] { return readyMediaSettled (session); }, framesPerTick))
        return error = "READY's media was never prepared: " + session.statusText(), false;
    return true;
}

/** GO on READY, then plays until MAIN is `seconds` in and the next READY's media is prepared. */
inline bool playDemoTrack (SessionCoordinator& session, double seconds, juce::String& error, int framesPerTick = 1600)
{
    if (! readyMediaSettled (session))
        return error = "nothing READY to GO", false;
    if (session.go().outcome != orvane::audio::SinkAnswer::accepted)
        return error = "the GO was refused: " + session.statusText(), false;
    const auto played = [&] {
        const auto lane = session.laneInfo (1);
        return lane.active && lane.position >= seconds && readyMediaSettled (session);
    };
    if (! tickUntil (session, played, framesPerTick))
        return error = "MAIN never reached " + juce::String (seconds, 1) + " s: " + session.statusText(), false;
    return true;
}
} // namespace vantrel::test
