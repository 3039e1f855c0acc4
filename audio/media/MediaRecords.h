#pragma once

#include "audio/media/WaveformPeaks.h"
#include "session/FileSignature.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel
{
/** The PCM that voices play: planar stereo at the device rate. Created with
    make_shared by the loader and shared with the adapter and the engine; the
    engine reads it through a raw pointer and never changes it, so once handed
    over it is immutable. */
struct PreparedPcm
{
    std::vector<float> left;       // left channel at the target rate
    std::vector<float> right;      // always exactly as long as left; a copy of left for mono
    double sampleRate = 48000.0;   // the target rate of the request
    std::int64_t cueFrame = 0;     // AUTO CUE start frame; 0 when none was found, else <= length - 1

    /** The memory a PCM is counted with wherever prepared PCM is budgeted. */
    static constexpr std::uint64_t bytesPerFrame = 8;

    std::uint64_t frames() const noexcept    { return left.size(); }
    std::uint64_t byteSize() const noexcept  { return frames() * bytesPerFrame; }

    bool operator== (const PreparedPcm& other) const
    {
        return left == other.left && right == other.right && sampleRate == other.sampleRate
            && cueFrame == other.cueFrame;
    }
    bool operator!= (const PreparedPcm& other) const  { return ! operator== (other); }
};

/** One load of one audio file: what the adapter keeps in its media map and the
    wave lanes draw. Created with make_shared, every field zero or empty; the
    loader fills it and never touches it again once the result is handed over.
    A non-empty error is what marks a failed load; fields set before the failure
    are kept. */
struct LoadedMedia
{
    double decodeMs = 0.0;         // phase times, monotonic clock; 0 for a phase that did not run
    double validationMs = 0.0;
    double cueSearchMs = 0.0;
    double preparationMs = 0.0;    // resampling, or the PCM allocation on the direct path
    double peaksMs = 0.0;
    std::uint64_t sourceBytesHeld = 0;   // the most decoded source audio the load held at once
    std::shared_ptr<PreparedPcm> pcm;                      // empty when the load failed or the PCM was trimmed
    std::shared_ptr<orvane::audio::WaveformPeakData> peaks; // of the source audio at the source rate
    juce::String fileName;         // the request path's file name, without folders
    juce::String format;           // "WAV", "AIFF", "FLAC", "MP3", "AAC", ...; empty until known
    juce::String error;            // empty on success, else the user-facing reason
    double duration = 0.0;         // seconds: source frames / source rate
    FileSignature signature;       // copied from the request

    bool failed() const  { return error.isNotEmpty(); }
};

/** One request on the loader's queue. The loader only compares keys and hands
    the serial back unchanged. */
struct MediaLoadRequest
{
    std::string key;               // the adapter's media key (row id or pad key)
    juce::File path;               // the audio file
    juce::File waveformCachePath;  // peak cache file; an empty path reads and writes no cache
    FileSignature signature;       // what the file must still be
    double rate = 48000.0;         // target sample rate
    std::int64_t serial = 0;       // the requester's number for this request
};

/** A finished load: the request (moved in whole) and its media, never empty. */
struct MediaLoadResult
{
    MediaLoadRequest request;
    std::shared_ptr<LoadedMedia> media = std::make_shared<LoadedMedia>();
};
} // namespace vantrel
