// The session coordinator on a show of 10,000 rows with all 45 pads assigned:
//   tick          the 30 Hz service with nothing sounding, then with MAIN, OUTGOING and nine pads
//                 sounding (offline engine; one tick's worth of frames is rendered between ticks)
//   openPlaylist  switching back and forth between two 10,000-row playlists
//   GO            from the call to go() to the device block that carries the new MAIN's first
//                 samples, on a private JACK dummy server (48 kHz, 512 frames), GOs at every
//                 phase of a block; beside it the same road through the audio adapter alone
// Usage: bench_session [--ticks=N] [--opens=N] [--gos=N] [--only=tick|open|go]
//        (other arguments, such as the benchmark library's, are ignored)

#include "BenchArguments.h"
#include "app/SessionCoordinator.h"
#include "audio/output/OutputDeviceSettingsFile.h"
#include "session/CatalogValidation.h"
#include "support/JackDummyServer.h"
#include "tests/app/SessionTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace vantrel;
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::GoKind;
using orvane::audio::SinkAnswer;
using Clock = std::chrono::steady_clock;

constexpr int showRows = 10000;
constexpr double trackSeconds = 30.0;
constexpr double padSeconds = 3.0;
constexpr int framesPerTick = 1600;     // 48 kHz at the view's 30 Hz timer
constexpr int warmUpTicks = 60;         // 2 s of show time before the timed ticks
constexpr int ticksBetweenGos = 450;    // a GO every 15 s of show time while the tracks play
constexpr int soundWaitMs = 10000;      // a GO that has not sounded by then is reported as lost

double msSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
}

double percentile (std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    return values[std::min (values.size() - 1, (size_t) (p * (double) (values.size() - 1) + 0.5))];
}

void printSpread (const char* what, const std::vector<double>& ms)
{
    std::printf ("%s, %zu samples: median %.3f ms  p99 %.3f ms  max %.3f ms\n", what, ms.size(),
                 percentile (ms, 0.5), percentile (ms, 0.99), percentile (ms, 1.0));
}

const char* metText (bool met)  { return met ? "met" : "not met"; }

bool fail (const char* what, const juce::String& why = {})
{
    std::printf ("%s%s%s\n", what, why.isEmpty() ? "" : ": ", why.toRawUTF8());
    return false;
}

// ---- the stored show -------------------------------------------------------------------------------

/** `rows` rows that all play one source file, each a row of its own. */
Playlist playlistOfCopies (const std::string& name, const juce::File& source, int rows)
{
    Playlist playlist;
    playlist.id = newCatalogId();
    playlist.name = name;
    auto row = test::rowFor (source);
    row.duration = trackSeconds;
    playlist.rows.reserve ((size_t) rows);
    for (int i = 0; i < rows; ++i)
    {
        row.id = newCatalogId();
        row.title = name + " " + std::to_string (i + 1);
        playlist.rows.push_back (row);
    }
    return playlist;
}

juce::File trackFile (const test::SessionRig& rig)  { return rig.media().getChildFile ("track.wav"); }

/** The show as the store keeps it, written before the coordinator starts: one open playlist of
    10,000 rows and a distinct asset file in each of the 45 pad slots. */
bool writeShow (const test::SessionRig& rig)
{
    const auto track = test::writeTone (rig.media(), "track.wav", trackSeconds, 0.25f);
    const auto pad = test::writeTone (rig.media(), "pad.wav", padSeconds, 0.1f, 880.0);
    if (track == juce::File() || pad == juce::File())
        return fail ("could not write the show's audio files");

    CatalogState state;
    state.document.playlists.push_back (playlistOfCopies ("Show", track, showRows));
    state.document.current = state.document.playlists.front().id;

    const auto assets = rig.music().getChildFile ("pad").getChildFile ("assets");
    if (! assets.createDirectory())
        return fail ("could not create the pad asset folder");
    for (int bank = 1; bank <= numPadBanks; ++bank)
    {
        for (int slot = 1; slot <= numPadsPerBank; ++slot)
        {
            auto& pad = state.pads[(size_t) *padIndex (bank, slot)];
            pad.asset = juce::Uuid().toString().toStdString() + ".wav";
            pad.name = "Pad " + std::to_string (bank) + "-" + std::to_string (slot);
            if (! test::writeTone (assets, pad.asset, padSeconds, 0.1f, 220.0 * slot).existsAsFile())
                return fail ("could not write a pad asset");
        }
    }

    CatalogStore store (rig.music());
    const auto saved = store.save (state);
    return saved.ok || fail ("could not save the show", saved.message);
}

// ---- helpers over a running coordinator ----------------------------------------------------------

bool readyPrepared (SessionCoordinator& session)
{
    if (! session.cueState().ready)
        return false;
    const auto media = session.audioAdapter().loadedMedia (*session.cueState().ready);
    return media != nullptr && media->pcm != nullptr;
}

bool bankPrepared (SessionCoordinator& session)
{
    for (int slot = 1; slot <= numPadsPerBank; ++slot)
    {
        const auto media = session.audioAdapter().loadedMedia (padMediaKey (session.padTriggerState().bank, slot));
        if (media == nullptr || media->pcm == nullptr)
            return false;
    }
    return true;
}

/** GO once READY's media is prepared; false when it never was or the GO was refused. */
bool goWhenReady (SessionCoordinator& session, int framesPerStep)
{
    if (! test::tickUntil (session, [&] { return readyPrepared (session); }, framesPerStep))
        return fail ("READY's media was never prepared", session.statusText());
    const auto result = session.go();
    return result.outcome == SinkAnswer::accepted || fail ("a GO was refused", session.statusText());
}

// ---- tick ------------------------------------------------------------------------------------------

bool benchTick (const test::SessionRig& rig, int ticks)
{
    auto session = rig.make (false);
    const auto& document = session->undoHistory().current();
    if (document.playlists.size() != 1 || document.playlists.front().rows.size() != (size_t) showRows
        || document.current != document.playlists.front().id)
        return fail ("the coordinator did not start with the stored show", session->statusText());
    if (! test::tickUntil (*session, [&] { return readyPrepared (*session) && bankPrepared (*session); }, framesPerTick))
        return fail ("READY and the pads of bank 1 were never prepared", session->statusText());

    const auto timedTick = [&session] {
        session->mutableAudioAdapter().renderOfflineFrames (framesPerTick);
        const auto start = Clock::now();
        session->tick();
        return msSince (start);
    };

    for (int i = 0; i < warmUpTicks; ++i)
        timedTick();
    std::vector<double> idle;
    for (int i = 0; i < ticks; ++i)
        idle.push_back (timedTick());

    // Two tracks and the nine pads of bank 1 for the rest: a GO every 15 s of show time (OUT STOP
    // first while two tracks sound), ended pads fired again; none of that is timed.
    std::vector<double> playing;
    int padsFired = 0;
    for (int i = 0; i < ticks; ++i)
    {
        if (i % ticksBetweenGos == 0)
        {
            if (session->cueState().activeCount() == 2)
                session->stop (false);
            if (! goWhenReady (*session, framesPerTick))
                return false;
        }
        for (int slot = 1; slot <= numPadsPerBank; ++slot)
        {
            if (! session->isPadActive (session->padTriggerState().bank, slot))
            {
                session->triggerPad (slot);
                ++padsFired;
            }
        }
        playing.push_back (timedTick());
    }

    const auto activePads = session->padTriggerState().triggers.size();
    std::printf ("tick with a %d-row open playlist and 45 pads assigned (offline engine, %d frames rendered between ticks,\n"
                 "    %d ticks before the timed ones)\n", showRows, framesPerTick, warmUpTicks);
    printSpread ("    nothing sounding", idle);
    printSpread ("    MAIN, OUTGOING and 9 pads sounding", playing);
    std::printf ("    (%d pad starts, %zu pads sounding at the end, GO counter %llu)\n", padsFired, activePads,
                 (unsigned long long) session->goCount());
    const bool met = percentile (idle, 0.5) < 0.5 && percentile (playing, 0.5) < 0.5
                     && percentile (idle, 0.99) < 2.0 && percentile (playing, 0.99) < 2.0;
    std::printf ("    goal median < 0.5 ms and p99 < 2 ms: %s\n", metText (met));
    return true;
}

// ---- openPlaylist ----------------------------------------------------------------------------------

bool benchOpenPlaylist (const test::SessionRig& rig, int opens)
{
    auto session = rig.make (false);
    auto candidate = session->undoHistory().current();
    candidate.playlists.push_back (playlistOfCopies ("Encore", trackFile (rig), showRows));
    if (! session->commitEdit (candidate))
        return fail ("could not add the second playlist", session->statusText());
    const std::string ids[2] = { session->undoHistory().current().playlists[0].id, session->undoHistory().current().playlists[1].id };
    if (! session->waitForSaves())
        return fail ("the save of the second playlist failed", session->lastSaveResult().message);

    // Back to back, as an operator looking for a song switches: each open hands the state to the
    // save worker, which keeps only the newest one waiting.
    std::vector<double> ms;
    for (int i = 0; i < opens; ++i)
    {
        const auto& id = ids[(i + 1) % 2];
        const auto start = Clock::now();
        const bool opened = session->openPlaylist (id);
        ms.push_back (msSince (start));
        if (! opened || session->undoHistory().current().current != id)
            return fail ("openPlaylist refused", session->statusText());
    }
    const auto lastOpen = Clock::now();
    if (! session->waitForSaves())
        return fail ("a save failed", session->lastSaveResult().message);

    std::printf ("openPlaylist, switching between two %d-row playlists back to back\n", showRows);
    printSpread ("    open", ms);
    std::printf ("    (the last open's state saved %.2f s after it)\n", msSince (lastOpen) / 1000.0);
    return true;
}

// ---- GO to the first samples in the device buffer ------------------------------------------------

/** Waits for the start of a device block, then `phase` sixteenths of a block into it. */
bool waitForPhase (const JuceAudioAdapter& adapter, int phase, double blockMs)
{
    const auto& callbacks = adapter.statistics().callbacks;
    const auto before = callbacks.load();
    const auto start = Clock::now();
    while (callbacks.load() == before)
    {
        if (msSince (start) > soundWaitMs)
            return fail ("the device stopped calling back");
        std::this_thread::sleep_for (std::chrono::microseconds (20));
    }
    std::this_thread::sleep_for (std::chrono::microseconds ((long) (1000.0 * blockMs * phase / 16.0)));
    return true;
}

/** Polls until a track voice reports `token` past its first frame: the engine publishes a voice's
    position at the end of the callback that wrote its first block. */
bool waitForFirstSamples (JuceAudioAdapter& adapter, std::int64_t token)
{
    const auto start = Clock::now();
    for (;;)
    {
        for (int voice = 0; voice < 2; ++voice)
        {
            const auto status = adapter.voiceStatus (voice);
            if (status.playToken == token && status.position > 0)
                return true;
        }
        if (msSince (start) > soundWaitMs)
            return false;
        std::this_thread::sleep_for (std::chrono::microseconds (50));
    }
}

void printGoFigures (const char* what, const std::vector<double>& ms, double blockMs)
{
    printSpread (what, ms);
    std::printf ("        goal p99 <= one block + 1 ms = %.2f ms: ratio %.2f (%s)\n", blockMs + 1.0,
                 percentile (ms, 0.99) / (blockMs + 1.0), metText (percentile (ms, 0.99) <= blockMs + 1.0));
}

/** GOs through the coordinator: pairs of a GO from silence and a GO that hands MAIN over to
    OUTGOING, both tracks stopped after each pair. */
bool benchCoordinatorGo (const test::SessionRig& rig, int gos)
{
    auto session = rig.make (true);
    if (! session->isOutputOpen())
        return fail ("the coordinator did not open the JACK output", session->statusText());
    const double blockMs = 1000.0 * 512.0 / session->audioAdapter().sampleRate();

    std::vector<double> fromSilence, handOver, all, calls;
    for (int go = 0; go < gos; ++go)
    {
        if (go % 2 == 0)
        {
            session->stop (false);
            session->stop (true);
        }
        if (! test::tickUntil (*session, [&] { return readyPrepared (*session); }))
            return fail ("READY's media was never prepared", session->statusText());
        if (! waitForPhase (session->audioAdapter(), (go / 2) % 16, blockMs))
            return false;

        const auto start = Clock::now();
        const auto result = session->go();
        calls.push_back (msSince (start));
        if (result.outcome != SinkAnswer::accepted)
            return fail ("a GO was refused", session->statusText());
        if (! waitForFirstSamples (session->mutableAudioAdapter(), session->cueState().mainGeneration))
            return fail ("a GO did not sound", session->statusText());
        const auto ms = msSince (start);

        all.push_back (ms);
        (result.kind == GoKind::fromSilence ? fromSilence : handOver).push_back (ms);
    }

    std::printf ("GO through the coordinator to the first samples in the JACK buffer (block %.2f ms, %d-row playlist, 45 pads)\n",
                 blockMs, showRows);
    printGoFigures ("    every GO", all, blockMs);
    printSpread ("    GO from silence", fromSilence);
    printSpread ("    GO handing MAIN over", handOver);
    printSpread ("    go() itself, until it returned", calls);
    std::printf ("        goal median <= 0.1 ms: ratio %.2f (%s)\n", percentile (calls, 0.5) / 0.1,
                 metText (percentile (calls, 0.5) <= 0.1));
    return true;
}

/** The same road through the audio adapter alone: a GO command submitted to it directly. */
bool benchAdapterGo (const test::SessionRig& rig, int gos)
{
    JuceAudioAdapter adapter (test::constantMedia (600.0, 0.1f), {}, test::privateRackOptions());
    const auto opened = adapter.openOutput ({ "JACK", "system", "JACK:system", 0.0, 0, 0 }, true);
    const auto folder = rig.profile.path().getChildFile ("stand-ins");
    folder.createDirectory();
    if (! opened.ok || ! test::prepareStandIn (adapter, folder, "row-a") || ! test::prepareStandIn (adapter, folder, "row-b"))
        return fail ("the adapter alone could not open the JACK output or prepare its media", opened.message);
    const double blockMs = 1000.0 * 512.0 / adapter.sampleRate();

    std::vector<double> all;
    std::int64_t token = 0;
    for (int go = 0; go < gos; ++go)
    {
        const std::string key = (go % 2 == 0) ? "row-a" : "row-b";
        if (! waitForPhase (adapter, go % 16, blockMs))
            return false;
        const auto start = Clock::now();
        if (adapter.submit (AudioCommand { AudioCommandKind::goFromSilence, key, 0.0, ++token }) != SinkAnswer::accepted)
            return fail ("the adapter refused a GO", adapter.lastError());
        if (! waitForFirstSamples (adapter, token))
            return fail ("a GO through the adapter did not sound", adapter.lastError());
        all.push_back (msSince (start));
        adapter.submit (AudioCommand { AudioCommandKind::stopMain, key, 0.0, 0 });
        adapter.tick();
    }
    adapter.closeDevice();

    printGoFigures ("    the adapter alone, GO from silence", all, blockMs);
    return true;
}

bool benchGo (const test::SessionRig& rig, int gos)
{
    if (! test::JackDummyServer::installed())
    {
        std::printf ("jackd is not installed: the GO figures are skipped\n");
        return true;
    }
    test::JackDummyServer server;
    if (! server.start())
        return fail ("the JACK dummy server did not start", server.lastError());
    const auto written = writeOutputDeviceSettings (rig.deviceFile(), { "JACK", "system", "JACK:system", 0.0, 0, 0 });
    if (! written.ok)
        return fail ("could not write the output settings", written.message);

    const bool ok = benchCoordinatorGo (rig, gos) && benchAdapterGo (rig, gos);
    server.stop();
    return ok;
}

using vantrel::bench::intArgument;
} // namespace

int main (int argc, char** argv)
{
    const int ticks = intArgument (argc, argv, "ticks", 3000);
    const int opens = intArgument (argc, argv, "opens", 100);
    const int gos = intArgument (argc, argv, "gos", 200);

    const test::SessionRig rig;   // this thread is the coordinator's message thread
    const auto started = Clock::now();

    const auto only = [&] (const char* part) {
        for (int i = 1; i < argc; ++i)
            if (std::string (argv[i]).rfind ("--only=", 0) == 0)
                return std::string (argv[i] + 7) == part;
        return true;
    };

    bool ok = writeShow (rig);
    ok = ok && (! only ("tick") || benchTick (rig, ticks));
    ok = ok && (! only ("go") || benchGo (rig, gos));
    ok = ok && (! only ("open") || benchOpenPlaylist (rig, opens));   // last: it adds the second playlist

    std::printf ("(whole run %.1f s)\n", msSince (started) / 1000.0);
    return ok ? 0 : 1;
}
