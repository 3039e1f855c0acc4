#pragma once

#include "SessionTestAccess.h"
#include "app/SessionCoordinator.h"
#include "audio/output/AdapterTestSupport.h"
#include "audio/output/OutputDeviceSettingsFile.h"
#include "audio/output/StandInOutput.h"
#include "session/CatalogValidation.h"
#include "support/TestFiles.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

namespace vantrel::test
{
/** A status-line clock that moves only when the test says so. */
struct ManualClock
{
    std::shared_ptr<std::atomic<std::uint32_t>> ms = std::make_shared<std::atomic<std::uint32_t>> (1000);

    std::function<std::uint32_t()> function() const
    {
        auto counter = ms;
        return [counter] { return counter->load(); };
    }
    void advance (std::uint32_t by) const  { ms->fetch_add (by); }
};

/** A profile folder ("music" and "local") of a test's own, and coordinators over it. */
struct SessionRig
{
    vantrel::testing::TempFolder profile;
    ManualClock clock;
    SessionCoordinatorOptions options;

    SessionRig()
    {
        options.millisecondClock = clock.function();
        options.rackOptions = privateRackOptions();
        music().createDirectory();
        local().createDirectory();
    }

    juce::File music() const  { return profile.path().getChildFile ("music"); }
    juce::File local() const  { return profile.path().getChildFile ("local"); }
    juce::File deviceFile() const  { return local().getChildFile ("device.json"); }
    juce::File media() const  { return profile.path().getChildFile ("media"); }

    /** A coordinator over the profile; offline (no device, no rack) unless `audioEnabled`. */
    std::unique_ptr<SessionCoordinator> make (bool audioEnabled = false) const
    {
        // The calling thread is JUCE's message thread, as the program's is. Otherwise the first
        // JUCE call that asks for the message manager makes its own thread the message thread:
        // with a JACK output, JACK's notification thread, which then stops and restarts the
        // device's callback on every port connection, racing the coordinator's thread.
        if (audioEnabled)
            juce::MessageManager::getInstance();
        return std::make_unique<SessionCoordinator> (music(), deviceFile(), audioEnabled, options);
    }
};

/** A SessionRig whose device.json names the stand-in output "Desk" (a device thread that calls
    back at the real pace of its buffer); `outputs` lives as long as the rig. */
struct StandInSessionRig : SessionRig
{
    StandInOutputs outputs;
    std::shared_ptr<StandInRecord> desk = outputs.add ("Desk");

    static OutputDeviceSettings deskSettings()  { return { "Stand-in", "Desk", "Stand-in:Desk", 0.0, 0, 0 }; }

    StandInSessionRig()
    {
        options.createDeviceType = [this] (const juce::String& kind) { return outputs.create (kind); };
        writeOutputDeviceSettings (deviceFile(), deskSettings());
    }
};

/** One stretch of a written tone: `seconds` of the sine at `amplitude` (0: silence). */
struct ToneStep
{
    double seconds = 0.0;
    float amplitude = 0.0f;
};

/** A 48 kHz stereo 32-bit float WAV of one sine (the same on both channels) whose amplitude goes
    through `steps` in order, the phase running on across them; written by JUCE's writer: the same
    bytes on every run. */
inline juce::File writeToneSteps (const juce::File& folder, const juce::String& name, const std::vector<ToneStep>& steps,
                                  double frequency = 440.0, double rate = 48000.0)
{
    vantrel::testing::createFolders (folder);
    auto file = folder.getChildFile (name);
    file.deleteFile();
    std::vector<float> amplitudes;
    for (const auto& step : steps)
        amplitudes.insert (amplitudes.end(), (size_t) std::max (std::lround (step.seconds * rate), 0L), step.amplitude);
    const auto frames = (int) amplitudes.size();
    juce::AudioBuffer<float> buffer (2, std::max (frames, 1));
    buffer.clear();
    for (int i = 0; i < frames; ++i)
    {
        const auto phase = 2.0 * juce::MathConstants<double>::pi * frequency * i / rate;
        const auto value = amplitudes[(size_t) i] * (float) std::sin (phase);
        buffer.setSample (0, i, value);
        buffer.setSample (1, i, value);
    }
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::OutputStream> stream = std::make_unique<juce::FileOutputStream> (file);
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), rate, 2, 32, {}, 0));
    if (writer == nullptr)
        return {};
    stream.release();
    writer->writeFromAudioSampleBuffer (buffer, 0, frames);
    return file;
}

/** A 48 kHz stereo 32-bit float WAV of a sine at `amplitude` (the same on both channels), written
    by JUCE's writer: the same bytes on every run. */
inline juce::File writeTone (const juce::File& folder, const juce::String& name, double seconds, float amplitude,
                             double frequency = 440.0, double rate = 48000.0)
{
    return writeToneSteps (folder, name, { { seconds, amplitude } }, frequency, rate);
}

/** The frames of [begin, end) that a level is judged over: whole 10 ms at 48 kHz, so that sines
    at multiples of 100 Hz are told apart without leaking into each other. */
inline std::size_t judgedFrames (std::size_t begin, std::size_t end)
{
    return end > begin ? (end - begin) / 480 * 480 : 0;
}

/** The amplitude of the sine at `frequency` in signal[begin, end) (one bin of a DFT over the
    judged frames); 0 for a stretch too short to judge. */
inline double toneAmplitude (const std::vector<float>& signal, std::size_t begin, std::size_t end, double frequency,
                             double rate = 48000.0)
{
    const auto count = judgedFrames (begin, std::min (end, signal.size()));
    if (count == 0)
        return 0.0;
    double re = 0.0, im = 0.0;
    const double step = 2.0 * juce::MathConstants<double>::pi * frequency / rate;
    for (std::size_t n = 0; n < count; ++n)
    {
        re += signal[begin + n] * std::cos (step * (double) n);
        im += signal[begin + n] * std::sin (step * (double) n);
    }
    return 2.0 * std::sqrt (re * re + im * im) / (double) count;
}

/** A row that refers to `file` where it lies. */
inline Row rowFor (const juce::File& file, const std::string& id = newCatalogId())
{
    Row row;
    row.id = id;
    row.title = file.getFileNameWithoutExtension().toStdString();
    row.source = file.getFullPathName().toStdString();
    const auto signature = readFileSignature (file);
    row.bytes = (std::uint64_t) signature.size;
    row.modified = signature.modified.toMilliseconds();
    return row;
}

inline Playlist playlistOf (const std::string& name, const std::vector<juce::File>& files)
{
    Playlist playlist;
    playlist.id = newCatalogId();
    playlist.name = name;
    for (const auto& file : files)
        playlist.rows.push_back (rowFor (file));
    return playlist;
}

/** Adds the playlist through an edit and opens it. */
inline bool addAndOpen (SessionCoordinator& session, const Playlist& playlist)
{
    auto candidate = session.undoHistory().current();
    candidate.playlists.push_back (playlist);
    return session.commitEdit (candidate) && session.openPlaylist (playlist.id);
}

/** Ticks (rendering `framesPerTick` offline frames first when the session is offline) until the
    condition holds; false after patienceMs. */
template <typename Condition>
bool tickUntil (SessionCoordinator& session, Condition condition, int framesPerTick = 0)
{
    return waitUntil (condition, [&] {
        if (framesPerTick > 0 && session.audioAdapter().isOffline())
            session.mutableAudioAdapter().renderOfflineFrames (framesPerTick);
        session.tick();
    }, patienceMs, 2);
}

/** Ticks until the media of every row of the open playlist is prepared (or failed). */
inline bool tickUntilPrepared (SessionCoordinator& session, const std::string& key)
{
    return tickUntil (session, [&] {
        const auto media = session.audioAdapter().loadedMedia (key);
        return media != nullptr && (media->pcm != nullptr || media->failed());
    });
}

/** Ticks until no pad copy job is left in the pool, then once more, so that the tick has taken
    every result the jobs posted. */
inline bool finishPadJobs (SessionCoordinator& session)
{
    const bool ended = tickUntil (session, [&] { return session.runningJobs() == 0; });
    session.tick();
    return ended;
}
} // namespace vantrel::test
