// The CD import worker: requests, the import transaction and the recovery record.
#include "app/cd/AudioCdImport.h"

#include "audio/media/MediaLoad.h"
#include "platform/DurableFile.h"
#include "platform/FileCopy.h"
#include "platform/FileStatus.h"
#include "session/AtomicFileWriter.h"
#include "session/CatalogId.h"
#include "session/CatalogValidation.h"
#include "session/FileSignature.h"
#include "session/SessionDocuments.h"
#include "session/UiText.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vantrel
{
namespace
{
const char* const recordName = "pending-import.json";
const char* const cancelledText = "CD取込をキャンセルしました";

/** The space an import needs besides its tracks. */
constexpr std::int64_t spareBytes = std::int64_t { 64 } * 1024 * 1024;

[[noreturn]] void fail (const char* japaneseText)
{
    throw std::runtime_error (japaneseText);
}

juce::String twoDigits (int number)
{
    return juce::String (number).paddedLeft ('0', 2);
}

/** A name of the form the importer gives its staging folders: 32 lower-case hexadecimal digits. */
bool isStagingName (const juce::String& name)
{
    return name.length() == 32 && name.containsOnly ("0123456789abcdef");
}

platform::EntryKind entryKind (const juce::File& file)
{
    return platform::readEntryKind (file.getFullPathName().toStdString());
}

/** Removes a folder and everything in it without following a link: a link is removed itself,
    never what it points at. */
void removeTree (const juce::File& folder)
{
    for (const auto& child : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*",
                                                    juce::File::FollowSymlinks::no))
    {
        switch (entryKind (child))
        {
            case platform::EntryKind::directory:  removeTree (child); break;
            case platform::EntryKind::absent:     break;
            default:                              platform::removeQuietly (child.getFullPathName().toStdString()); break;
        }
    }
    folder.deleteFile();
}

/** True when the row's source lies below `folder` by its text alone (no "." or ".." step). */
bool liesBelow (const std::string& source, const juce::File& folder)
{
    const auto prefix = folder.getFullPathName() + "/";
    const auto text = juce::String::fromUTF8 (source.c_str());
    if (! text.startsWith (prefix))
        return false;

    const auto steps = juce::StringArray::fromTokens (text.substring (prefix.length()), "/", "");
    return ! steps.isEmpty()
        && std::none_of (steps.begin(), steps.end(),
                         [] (const juce::String& s) { return s.isEmpty() || s == "." || s == ".."; });
}

/** The recovery record of a playlist: a whole-state document that holds only it. */
juce::String recordText (const Playlist& playlist)
{
    CatalogState state;
    state.document.playlists.push_back (playlist);
    state.document.current = playlist.id;
    return sessionJsonText (catalogToJson (state));
}
} // namespace

AudioCdImport::AudioCdImport (const juce::File& root, CdImportSetup s)
    : dataRoot (root), setup (std::move (s)), worker ([this] { platform::nameCurrentThread ("cd import"); run(); })
{
}

AudioCdImport::~AudioCdImport()
{
    {
        std::lock_guard<std::mutex> lock (mutex);
        stopRequested = true;
        cancelRequested = true;
    }
    wake.notify_all();

    // Joining itself would throw out of a destructor; destroying the importer from its own worker
    // is a programming error.
    if (worker.get_id() == std::this_thread::get_id())
    {
        jassertfalse;
        worker.detach();
        return;
    }
    worker.join();
}

bool AudioCdImport::start (CdImportOptions options)
{
    options.playlistName = options.playlistName.trim();
    auto& tracks = options.tracks;
    std::sort (tracks.begin(), tracks.end());

    if (options.discKey.isEmpty() || tracks.empty() || tracks.size() > 99 || tracks.front() <= 0
        || tracks.back() >= 100 || std::adjacent_find (tracks.begin(), tracks.end()) != tracks.end()
        || options.playlistName.isEmpty())
        return false;

    if (options.mp3)
    {
        const int rates[] = { 32000, 44100, 48000 };
        const int bitrates[] = { 128, 192, 256, 320 };
        if (std::find (std::begin (rates), std::end (rates), options.mp3SampleRate) == std::end (rates)
            || std::find (std::begin (bitrates), std::end (bitrates), options.mp3BitrateKbps) == std::end (bitrates))
            return false;
    }

    {
        std::lock_guard<std::mutex> lock (mutex);
        if (busy)
            return false;
        busy = true;
        progress = 0.0;
        error.clear();
        status = translate ("CD取込を準備中");
        cancelRequested = false;
        request = std::move (options);
    }
    wake.notify_all();
    return true;
}

void AudioCdImport::cancel()
{
    cancelRequested = true;
}

CdImportState AudioCdImport::snapshot() const
{
    std::lock_guard<std::mutex> lock (mutex);
    return { discs, busy, progress, status, error };
}

std::optional<Playlist> AudioCdImport::takeImported()
{
    std::lock_guard<std::mutex> lock (mutex);
    if (finished.empty())
        return {};
    auto playlist = std::move (finished.front());
    finished.erase (finished.begin());
    return playlist;
}

void AudioCdImport::clearRecovery (const std::string& playlistId)
{
    if (! isValidId (playlistId))
        return;
    const auto record = dataRoot.getChildFile ("playlists").getChildFile (playlistId).getChildFile (recordName);
    if (entryKind (record) == platform::EntryKind::otherFile)
        platform::removeDurably (record.getFullPathName().toStdString());
}

void AudioCdImport::setProgress (double value, const juce::String& text)
{
    std::lock_guard<std::mutex> lock (mutex);
    progress = value;
    status = text;
}

void AudioCdImport::step (const juce::String& name) const
{
    if (setup.afterStep)
        setup.afterStep (name);
}

void AudioCdImport::run()
{
    resumeRecords();
    removeStaleStaging();

    while (! stopRequested)
    {
        std::optional<CdImportOptions> next;
        {
            std::lock_guard<std::mutex> lock (mutex);
            next.swap (request);
        }

        if (! next)
        {
            auto found = listDiscs (&stopRequested);
            std::unique_lock<std::mutex> lock (mutex);
            discs = std::move (found);
            wake.wait_for (lock, std::chrono::milliseconds (setup.listIntervalMs),
                           [this] { return request.has_value() || stopRequested; });
            continue;
        }

        // A cancel that came before the disc was found is reported as what it is, whether it came
        // before this worker took the request or while it looked for the disc.
        std::optional<CdDisc> disc;
        if (! cancelRequested)
        {
            const auto listed = listDiscs (&cancelRequested);
            const auto match = std::find_if (listed.begin(), listed.end(),
                                             [&] (const CdDisc& d) { return d.discKey == next->discKey; });
            if (match != listed.end())
                disc = *match;
        }

        if (disc && ! cancelRequested)
        {
            import (*disc, *next);
            continue;
        }

        std::lock_guard<std::mutex> lock (mutex);
        if (cancelRequested)
        {
            error = translate (cancelledText);
            status.clear();
        }
        else
        {
            error = translate ("選択した音楽CDがありません。ディスクを確認してください");
        }
        busy = false;
    }
}

void AudioCdImport::import (const CdDisc& disc, const CdImportOptions& options)
{
    const auto id = newCatalogId();
    const auto imports = dataRoot.getChildFile ("imports");
    const auto staging = imports.getChildFile (id);
    const auto finalFolder = dataRoot.getChildFile ("playlists").getChildFile (id);
    bool committed = false;

    try
    {
        const auto audio = staging.getChildFile ("audio");
        if (platform::createFolderChain (audio.getFullPathName().toStdString()).failed())
            fail ("CD取込先を作成できません");
        step ("staging");

        auto device = openDrive (disc.drive);
        const auto discNow = [&]
        {
            auto read = readDisc (*device, disc.drive, &cancelRequested);
            return read && read->discKey == disc.discKey;
        };
        if (! discNow())
            fail ("音楽CDが入れ替わりました");

        std::vector<CdTrack> tracks;
        for (int number : options.tracks)
        {
            const auto found = std::find_if (disc.tracks.begin(), disc.tracks.end(),
                                             [number] (const CdTrack& t) { return t.number == number; });
            if (found == disc.tracks.end())
                fail ("CDトラック番号が不正です");
            tracks.push_back (*found);
        }

        std::int64_t needed = spareBytes;
        for (const auto& track : tracks)
            needed += (std::int64_t) track.sectorCount * platform::CdDevice::sectorBytes * (options.mp3 ? 2 : 1);
        const auto freeBytes = staging.getBytesFreeOnVolume();
        if (freeBytes <= 0 || freeBytes <= needed)
            fail ("CD取込に必要な空き容量を確認できません");

        Playlist playlist;
        playlist.id = id;
        playlist.name = options.playlistName.toStdString();

        const auto n = (double) tracks.size();
        for (size_t i = 0; i < tracks.size(); ++i)
        {
            const auto& track = tracks[i];
            const auto number = juce::String (track.number);
            const auto wav = audio.getChildFile ("Track" + twoDigits (track.number) + ".wav");

            ripTrack (*device, track, wav, &cancelRequested, [&] (double fraction)
            {
                setProgress ((double (i) + fraction * 0.7) / n, translate ("CDを読み込み中 · ") + track.name);
            });
            step ("ripped " + number);

            auto file = wav;
            if (options.mp3)
            {
                setProgress ((double (i) + 0.7) / n, translate ("MP3へ変換中 · ") + track.name);
                file = wav.withFileExtension ("mp3");
                const auto encoded = encodeMp3 (wav, file, options.mp3SampleRate, options.mp3BitrateKbps, &cancelRequested);
                if (! encoded.ok)
                    throw std::runtime_error (encoded.message.toStdString());
                step ("encoded " + number);
            }

            if (cancelRequested)
                fail (cancelledText);

            setProgress ((double (i) + 0.9) / n, translate ("保存音源を確認中 · ") + track.name);
            const auto signature = readFileSignature (file);
            const auto media = loadMedia ({ "cd-verify", file, {}, signature, 44100.0 }, &cancelRequested);
            if (media->pcm == nullptr || media->failed()
                || ! (std::abs (media->duration - track.sectorCount / 75.0) < 0.15))
                fail ("取込音源の長さ・再読込を確認できません");

            // The record written below promises these bytes, so they reach the disk first.
            if (platform::syncExistingFile (file.getFullPathName().toStdString()).failed())
                fail ("CD音源の保存が完了しませんでした");
            step ("verified " + number);

            if (options.mp3)
            {
                if (! wav.deleteFile())
                    fail ("取込用の一時WAVを片付けられません");
                step ("wav removed " + number);
            }

            Row row;
            row.id = newCatalogId();
            row.title = track.name.toStdString();
            row.source = finalFolder.getChildFile ("audio").getChildFile (file.getFileName()).getFullPathName().toStdString();
            row.bytes = (std::uint64_t) std::max<std::int64_t> (signature.size, 0);
            row.modified = signature.modified.toMilliseconds();
            row.duration = media->duration;
            playlist.rows.push_back (std::move (row));
        }

        if (! discNow())
            fail ("取込中に音楽CDが変わりました");

        // A record that the resume would refuse for its size is not written at all.
        if (platform::syncFolder (audio.getFullPathName().toStdString()).failed()
            || ! writeFileAtomically (staging.getChildFile (recordName), recordText (playlist), false, maxRecordBytes).ok)
            fail ("CD取込の復旧記録を保存できません");
        step ("record");

        // Never onto an existing folder: the rename itself refuses one that appeared after the check.
        if (platform::createFolderChain (finalFolder.getParentDirectory().getFullPathName().toStdString()).failed()
            || entryKind (finalFolder) != platform::EntryKind::absent
            || platform::moveWithoutReplacing (staging.getFullPathName().toStdString(),
                                               finalFolder.getFullPathName().toStdString()).failed())
            fail ("CD取込音源の保存を確定できません");
        step ("moved");

        {
            std::lock_guard<std::mutex> lock (mutex);
            finished.push_back (std::move (playlist));
            progress = 1.0;
            status = translate ("CD取込が完了しました");
            busy = false;
            committed = true;
        }
        step ("committed");
    }
    catch (const std::exception& failure)
    {
        if (committed)
            return;
        const auto text = cancelRequested ? translate (cancelledText) : translateMessage (juce::String::fromUTF8 (failure.what()));

        // Only the staging folder this import made: exactly "imports"/<id>, a real folder. It goes
        // before the failure is published, so that an importer that is no longer busy left nothing.
        if (staging.getParentDirectory() == imports && staging.getFileName() == juce::String (id)
            && entryKind (staging) == platform::EntryKind::directory)
            removeTree (staging);

        std::lock_guard<std::mutex> lock (mutex);
        error = text;
        status.clear();
        busy = false;
    }
}

void AudioCdImport::resumeRecords()
{
    auto folders = dataRoot.getChildFile ("playlists").findChildFiles (juce::File::findDirectories, false);
    std::sort (folders.begin(), folders.end());

    for (const auto& folder : folders)
    {
        const auto record = folder.getChildFile (recordName);
        if (! record.existsAsFile())
            continue;

        juce::var json;
        CatalogState state;
        if (! readJsonFile (record, json, maxRecordBytes).ok || ! readCatalogJson (json, state).ok)
            continue;

        const auto& playlists = state.document.playlists;
        if (playlists.size() != 1 || juce::String::fromUTF8 (playlists.front().id.c_str()) != folder.getFileName())
            continue;

        const auto audio = folder.getChildFile ("audio");
        const auto& rows = playlists.front().rows;
        if (! std::all_of (rows.begin(), rows.end(), [&] (const Row& row) { return liesBelow (row.source, audio); }))
            continue;

        std::lock_guard<std::mutex> lock (mutex);
        finished.push_back (playlists.front());
    }
}

void AudioCdImport::removeStaleStaging()
{
    // Nothing imports while the worker starts, so every staging folder there is a crash's leftover.
    const auto imports = dataRoot.getChildFile ("imports");
    if (entryKind (imports) != platform::EntryKind::directory)
        return;

    for (const auto& entry : imports.findChildFiles (juce::File::findDirectories, false, "*",
                                                     juce::File::FollowSymlinks::no))
        if (entry.getParentDirectory() == imports && isStagingName (entry.getFileName())
            && entryKind (entry) == platform::EntryKind::directory)
            removeTree (entry);
}
} // namespace vantrel
