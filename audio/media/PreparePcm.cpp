#include "audio/media/PreparePcm.h"

#include "audio/media/CuePoint.h"
#include "audio/media/HelperThread.h"
#include "audio/media/LargeBuffers.h"
#include "audio/media/MediaDecoding.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/PcmFileReader.h"
#include "audio/media/PeakCacheFile.h"
#include "audio/media/ProcessorTopology.h"
#include "audio/media/StreamedLoad.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vantrel
{
namespace
{
constexpr std::uint64_t readBlockFrames = 65536;
constexpr std::uint64_t peaksPerCancelCheck = 256;

void throwIfCancelled (CancelFlag cancel)
{
    if (isCancelled (cancel))
        failLoad (mediatext::cancelled);
}

/** Reads frames [begin, end) into the PCM block by block, straight from the file where it is
    plain PCM. False when a read failed on an MP3 file; raises the other failures. */
bool readRange (juce::AudioFormatReader& reader, const juce::File& file, PreparedPcm& pcm,
                std::uint64_t begin, std::uint64_t end, CancelFlag cancel)
{
    const int channels = (int) reader.numChannels;
    const auto bulk = PcmFileReader::open (reader, file);
    for (std::uint64_t position = begin; position < end; position += readBlockFrames)
    {
        throwIfCancelled (cancel);

        const auto count = (int) std::min (readBlockFrames, end - position);
        float* left = pcm.left.data() + position;
        float* right = pcm.right.data() + position;
        float* planes[2] = { left, right };
        const bool read = bulk != nullptr ? bulk->readPlanar (planes, (std::int64_t) position, count)
                                          : reader.read (planes, channels, (juce::int64) position, count);
        if (! read)
        {
            if (file.hasFileExtension ("mp3"))
                return false;
            failLoad (mediatext::decodeFailed);
        }

        if (! allSamplesFinite (left, (std::size_t) count) || (channels == 2 && ! allSamplesFinite (right, (std::size_t) count)))
            failLoad (mediatext::nonFiniteSamples);
        if (channels == 1)
            std::copy_n (left, count, right);
    }
    return true;
}

typedef float Float8 __attribute__ ((vector_size (32)));

/** Min and max of count samples; NaN samples change nothing (a run of only NaN keeps
    +inf / -inf), exactly like the interleaved peak computation. */
void minMaxOf (const float* samples, std::size_t count, float& low, float& high)
{
    constexpr float infinity = std::numeric_limits<float>::infinity();
    Float8 vectorLow = { infinity, infinity, infinity, infinity, infinity, infinity, infinity, infinity };
    Float8 vectorHigh = -vectorLow;
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
    {
        Float8 s;
        std::memcpy (&s, samples + i, sizeof (s));
        vectorLow = s < vectorLow ? s : vectorLow;
        vectorHigh = s > vectorHigh ? s : vectorHigh;
    }

    low = infinity;
    high = -infinity;
    for (int lane = 0; lane < 8; ++lane)
    {
        low = vectorLow[lane] < low ? vectorLow[lane] : low;
        high = vectorHigh[lane] > high ? vectorHigh[lane] : high;
    }
    for (; i < count; ++i)
    {
        low = samples[i] < low ? samples[i] : low;
        high = samples[i] > high ? samples[i] : high;
    }
    if (low <= high)
    {
        low = std::clamp (low, -1.0f, 1.0f);
        high = std::clamp (high, -1.0f, 1.0f);
    }
}

/** The peaks of planar audio, 256 frames per peak, equal to those of the interleaved
    computation; the cancel flag is checked before every 256th peak. */
orvane::audio::WaveformPeakData planarPeaks (const PreparedPcm& pcm, int channels, double sampleRate, CancelFlag cancel)
{
    orvane::audio::WaveformPeakData peaks;
    const std::uint64_t frames = pcm.left.size();
    const std::uint64_t perPeak = orvane::audio::defaultFramesPerPeak;
    peaks.channels = channels;
    peaks.sampleRate = sampleRate;
    peaks.totalFrames = frames;
    peaks.framesPerPeak = perPeak;
    peaks.peakCount = (frames - 1) / perPeak + 1;
    peaks.minima.resize ((std::size_t) (peaks.peakCount * (std::uint64_t) channels));
    peaks.maxima.resize (peaks.minima.size());

    const float* planes[2] = { pcm.left.data(), pcm.right.data() };
    for (std::uint64_t p = 0; p < peaks.peakCount; ++p)
    {
        if (p % peaksPerCancelCheck == 0)
            throwIfCancelled (cancel);

        const std::uint64_t begin = p * perPeak;
        const std::uint64_t count = std::min (perPeak, frames - begin);
        for (int c = 0; c < channels; ++c)
        {
            const auto index = (std::size_t) (p * (std::uint64_t) channels + (std::uint64_t) c);
            minMaxOf (planes[c] + begin, (std::size_t) count, peaks.minima[index], peaks.maxima[index]);
        }
    }
    return peaks;
}

} // namespace

bool preparePcm (juce::AudioFormatReader& reader, const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel)
{
    const auto workers = resampleWorkerCount (processorTopology(), (std::uint64_t) std::max<juce::int64> (0, reader.lengthInSamples),
                                              reader.sampleRate);
    return preparePcm (reader, request, media, cancel, workers, {});
}

bool preparePcm (juce::AudioFormatReader& reader, const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel,
                 int workers, const std::function<void()>& beforeFinalCheck)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    const double start = monotonicMs();
    const auto frames = (std::uint64_t) std::max<juce::int64> (0, reader.lengthInSamples);
    const int channels = (int) reader.numChannels;
    if (frames > preparedFrameLimit || frames > decodedSampleLimit / (std::uint64_t) std::max (1, channels))
        failLoad (mediatext::memoryLimit);
    if (isKnownTruncated (reader))
        failLoad (mediatext::decodeFailed);   // the file ends inside its sample data

    auto pcm = std::make_shared<PreparedPcm>();
    pcm->sampleRate = request.rate;
    if (workers >= 2)
        runWithHelperThread ([&pcm, frames] { resizeLarge (pcm->right, (std::size_t) frames); },
                             [&pcm, frames] { resizeLarge (pcm->left, (std::size_t) frames); });
    else
    {
        resizeLarge (pcm->left, (std::size_t) frames);
        resizeLarge (pcm->right, (std::size_t) frames);
    }
    const double sized = monotonicMs();
    media.preparationMs = sized - start;

    std::unique_ptr<juce::AudioFormatReader> second;
    if (workers >= 2)
        second = openSecondReader (reader, request.path);

    bool complete = true;
    if (second != nullptr)
    {
        const std::uint64_t split = (frames / 131072) * 65536;
        bool helperComplete = true;
        runWithHelperThread ([&] { helperComplete = readRange (*second, request.path, *pcm, split, frames, cancel); },
                             [&] { complete = readRange (reader, request.path, *pcm, 0, split, cancel); });
        complete = complete && helperComplete;
    }
    else
    {
        complete = readRange (reader, request.path, *pcm, 0, frames, cancel);
    }
    if (! complete)
        return false;

    double now = monotonicMs();
    media.decodeMs = now - sized;
    media.duration = (double) frames / reader.sampleRate;

    const orvane::audio::CueSearchSettings cueSettings;
    const auto cue = orvane::audio::findCuePoint (pcm->left.data(), pcm->right.data(), frames, reader.sampleRate,
                                                  cueSettings, [cancel] { throwIfCancelled (cancel); });
    if (cue.found)
        pcm->cueFrame = std::min ((std::int64_t) ((double) cue.frame / reader.sampleRate * request.rate),
                                  (std::int64_t) frames - 1);
    media.cueSearchMs = monotonicMs() - now;

    now = monotonicMs();
    auto peaks = orvane::audio::peaksFromCacheOrCompute (request.waveformCachePath, frames, reader.sampleRate, channels,
                                                         [&] { return planarPeaks (*pcm, channels, reader.sampleRate, cancel); });
    media.peaks = std::make_shared<orvane::audio::WaveformPeakData> (std::move (peaks));
    media.peaksMs = monotonicMs() - now;

    throwIfCancelled (cancel);
    if (beforeFinalCheck)
        beforeFinalCheck();
    if (readFileSignature (request.path) != request.signature)
        failLoad (mediatext::changedWhileLoading);

    media.pcm = std::move (pcm);
    return true;
}
} // namespace vantrel
