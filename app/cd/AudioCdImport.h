#pragma once

#include "app/cd/CdDeviceHandle.h"
#include "app/cd/CdDisc.h"
#include "session/CatalogRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vantrel
{
/** One import request, built by the CD import panel. */
struct CdImportOptions
{
    juce::String discKey;            // CdDisc::discKey of the chosen disc
    juce::String playlistName;       // the new playlist's name (trimmed by the importer)
    bool mp3 = false;                // convert the tracks to MP3
    int mp3SampleRate = 44100;       // 32000, 44100 or 48000
    int mp3BitrateKbps = 192;        // 128, 192, 256 or 320
    std::vector<int> tracks;         // track numbers to import
};

/** What the importer shows: a copy taken under its lock. */
struct CdImportState
{
    std::vector<CdDisc> discs;   // found by the last idle listing
    bool busy = false;           // an import is queued or running
    double progress = 0.0;       // 0..1 of the running import
    juce::String status;         // the current step's text
    juce::String error;          // the last import's failure; empty when none
};

/** Where the importer looks for discs: the names of the drives and a way to open one. */
struct CdDriveSource
{
    std::function<std::vector<juce::String>()> list;
    std::function<std::unique_ptr<platform::CdDevice> (const juce::String&)> open;
};

/** What a test changes of the importer's surroundings; the program takes the defaults. */
struct CdImportSetup
{
    /** Empty members: this machine's drives (platform::listCdDrives / openCdDevice). */
    CdDriveSource drives;
    /** A device request that takes longer than this is given up. */
    int requestTimeLimitMs = CdDeviceHandle::defaultTimeLimitMs;
    /** The idle listing's interval. */
    int listIntervalMs = 3000;
    /** Runs on the worker after each step of an import that changed the files: "staging",
        "ripped N", "encoded N", "verified N", "wav removed N" (N the track number), "record",
        "moved", "committed". */
    std::function<void (const juce::String& step)> afterStep;
};

/** The background importer of audio CDs. Its worker lists the discs in the drives every 3 s while
    idle; on request it rips the chosen tracks (every block read twice and compared), optionally
    converts them to MP3, checks every file by decoding it again and builds a new playlist whose
    audio lives in a folder of its own. The folder is assembled under "imports"/<id> and moved to
    "playlists"/<id> in one rename, together with "pending-import.json", a whole-state record of
    the new playlist that lets a later run offer it again when the program stopped before a saved
    catalog held it. The coordinator takes finished playlists with takeImported and removes the
    record with clearRecovery after the save that holds the playlist.

    Threads: the message thread (start, cancel, snapshot, takeImported, clearRecovery, the
    destructor) and the worker (everything else). One mutex guards the published state, the request
    and the finished playlists; it is never held during a device request, a rip, an encoding or a
    verification. Not copyable. */
class AudioCdImport
{
public:
    /** Starts the worker at once; throws std::system_error when the thread cannot be started. */
    explicit AudioCdImport (const juce::File& dataRoot, CdImportSetup setup = {});
    /** Stops the worker (cancelling a running import, which removes its staging folder) and joins
        it. Never on the worker thread. */
    ~AudioCdImport();

    AudioCdImport (const AudioCdImport&) = delete;
    AudioCdImport& operator= (const AudioCdImport&) = delete;

    /** Queues a request; false (nothing changes) when it is not valid or an import is queued or
        running. */
    bool start (CdImportOptions options);
    /** Asks the running import to stop at its next check. */
    void cancel();
    CdImportState snapshot() const;
    /** The oldest imported or resumed playlist not yet taken. */
    std::optional<Playlist> takeImported();
    /** Removes "playlists"/<id>/"pending-import.json" (a valid id only; the result is ignored). */
    void clearRecovery (const std::string& playlistId);

    // ---- reading and ripping (the worker's side) -------------------------------------------------
    /** The discs in every drive, in drive order; stops early when the flag is set. */
    std::vector<CdDisc> listDiscs (const std::atomic<bool>* flag);
    /** The disc in an opened drive; nothing when the drive holds no readable audio disc. */
    static std::optional<CdDisc> readDisc (CdDeviceHandle& device, const juce::String& drive, const std::atomic<bool>* flag);
    /** Copies one track into a new 16-bit stereo WAV file, each block of up to 16 sectors read twice
        and accepted only when both reads agree. Throws std::runtime_error with a Japanese text. */
    static void ripTrack (CdDeviceHandle& device, const CdTrack& track, const juce::File& wav,
                          const std::atomic<bool>* flag, const std::function<void (double)>& progress);
    /** Converts a ripped WAV into an MP3 at the rate and bit rate, between blocks cancellable. */
    static StoreResult encodeMp3 (const juce::File& wav, const juce::File& mp3, int sampleRate, int bitrateKbps,
                                  const std::atomic<bool>* cancel);

    /** The longest track taken in: 2^26 stereo frames. */
    static constexpr std::int64_t maxTrackFrames = std::int64_t { 1 } << 26;
    /** The largest recovery record that is read. */
    static constexpr std::int64_t maxRecordBytes = 1048576;

    const juce::File dataRoot;

private:
    void run();
    void import (const CdDisc& disc, const CdImportOptions& options);
    void resumeRecords();
    void removeStaleStaging();
    void setProgress (double progress, const juce::String& status);
    void step (const juce::String& name) const;
    std::unique_ptr<CdDeviceHandle> openDrive (const juce::String& drive) const;

    const CdImportSetup setup;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::vector<CdDisc> discs;
    bool busy = false;
    double progress = 0.0;
    juce::String status;
    juce::String error;
    std::optional<CdImportOptions> request;
    std::vector<Playlist> finished;
    std::atomic<bool> stopRequested { false };
    std::atomic<bool> cancelRequested { false };
    std::thread worker;
};
} // namespace vantrel
