#include "audio/media/ReaderLoad.h"

#include "audio/media/CuePoint.h"
#include "audio/media/HelperThread.h"
#include "audio/media/LargeBuffers.h"
#include "audio/media/MediaDecoding.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/PcmFileReader.h"
#include "audio/media/PeakCacheFile.h"
#include "audio/media/Resampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace vantrel
{
namespace
{
constexpr std::size_t chunkFrames = 32768;   // output frames the resampler takes at a time

void throwIfCancelled (CancelFlag cancel)
{
    if (isCancelled (cancel))
        failLoad (mediatext::cancelled);
}

bool hasUsableShape (const juce::AudioFormatReader& reader)
{
    return reader.numChannels >= 1 && reader.numChannels <= 2 && isUsableMediaRate (reader.sampleRate)
        && reader.lengthInSamples >= 1;
}

bool canReadFromAnyFrame (const juce::AudioFormatReader& reader)
{
    const auto format = normaliseFormatName (reader.getFormatName());
    return format == "WAV" || format == "AIFF" || format == "FLAC";
}

/** The interleaved source of one load: allocated without being cleared (every frame is
    decoded into it before anything reads it) and with large pages. */
struct SourceBuffer
{
    SourceBuffer (std::uint64_t frames, int channels)
        : count ((std::size_t) (frames * (std::uint64_t) channels)), samples (new float[count])
    {
        platform::adviseLargePages (samples.get(), count * sizeof (float));
    }

    std::size_t count;
    std::unique_ptr<float[]> samples;
};

/** How far the decoding has come, for a resampler on another thread. */
class DecodeProgress
{
public:
    void publish (std::uint64_t frames)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            decoded = frames;
        }
        changed.notify_all();
    }

    void end (bool complete)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            (complete ? finished : abandoned) = true;
        }
        changed.notify_all();
    }

    /** Waits until at least frames are decoded; false when the decoding was abandoned. */
    bool waitFor (std::uint64_t frames)
    {
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait (lock, [&] { return abandoned || finished || decoded >= frames; });
        return ! abandoned;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t decoded = 0;
    bool finished = false;
    bool abandoned = false;
};

/** The resampling of one load, handed out in chunks of output frames to whichever thread asks. */
class ChunkedResample
{
public:
    ChunkedResample (const float* source, std::uint64_t sourceFrames, int channels, double sourceRate, double targetRate,
                     PreparedPcm& pcm, CancelFlag cancel, ResamplePath path)
        : table (buildResampleTable (std::min (targetRate / sourceRate, 1.0) * 0.94)), frames (pcm.left.size())
    {
        job.source = source;
        job.sourceFrames = (std::size_t) sourceFrames;
        job.channels = channels;
        job.step = sourceRate / targetRate;
        job.table = table.data();
        job.left = pcm.left.data();
        job.right = pcm.right.data();
        job.cancel = cancel;
        job.path = path;
    }

    /** Source frames that must be decoded before the chunk can be computed. */
    std::uint64_t sourceNeededBy (std::size_t chunk) const
    {
        const std::size_t last = std::min (frames, (chunk + 1) * chunkFrames) - 1;
        const auto integer = (std::uint64_t) ((double) last * job.step);
        return std::min<std::uint64_t> (job.sourceFrames, integer + (resampleTaps - resampleTapsBefore) + 2);
    }

    /** Computes chunks while the decoded frames suffice for the next one. */
    void computeWhile (std::uint64_t decodedFrames)
    {
        while (next < chunkCount() && sourceNeededBy (next) <= decodedFrames)
            compute (next++);
    }

    /** Takes the chunks one by one from the shared counter until none is left, waiting for the
        decoding where a chunk needs more; returns early when the decoding is abandoned. */
    void shareRemaining (DecodeProgress& progress)
    {
        for (;;)
        {
            const auto chunk = shared.fetch_add (1);
            if (chunk >= chunkCount())
                return;
            if (! progress.waitFor (sourceNeededBy (chunk)))
                return;
            compute (chunk);
        }
    }

    void computeRest()
    {
        while (next < chunkCount())
            compute (next++);
    }

private:
    std::size_t chunkCount() const  { return (frames + chunkFrames - 1) / chunkFrames; }

    void compute (std::size_t chunk)
    {
        resampleRange (job, chunk * chunkFrames, std::min (frames, (chunk + 1) * chunkFrames));
    }

    std::vector<double> table;
    ResampleJob job;
    std::size_t frames;
    std::size_t next = 0;                  // for one thread alone
    std::atomic<std::size_t> shared { 0 }; // for two
};

/** Decodes frames [begin, end) into the source; false when a read failed on an MP3 file (other
    read failures raise). Marks nonFinite when a decoded sample is infinite or NaN; afterBlock
    runs with the frames decoded so far after every block. */
template <typename AfterBlock>
bool decodeRange (FrameSource& frames, const juce::File& file, float* source, int channels, std::uint64_t begin,
                  std::uint64_t end, CancelFlag cancel, bool& nonFinite, AfterBlock&& afterBlock)
{
    for (std::uint64_t position = begin; position < end; position += FrameSource::blockFrames)
    {
        throwIfCancelled (cancel);
        const int count = (int) std::min<std::uint64_t> (FrameSource::blockFrames, end - position);
        float* out = source + position * (std::uint64_t) channels;
        if (! frames.read (out, (std::int64_t) position, count))
        {
            if (file.hasFileExtension ("mp3"))
                return false;
            failLoad (mediatext::decodeFailed);
        }
        if (! allSamplesFinite (out, (std::size_t) count * (std::size_t) channels))
            nonFinite = true;
        afterBlock (position + (std::uint64_t) count);
    }
    return true;
}
} // namespace

FrameSource::FrameSource (juce::AudioFormatReader& readerToUse, const juce::File& file)
    : reader (readerToUse), bulk (PcmFileReader::open (readerToUse, file))
{
    if (bulk == nullptr)
        planes.resize ((std::size_t) blockFrames * std::max (1u, reader.numChannels));
}

FrameSource::~FrameSource() = default;

bool FrameSource::read (float* interleaved, std::int64_t start, int count)
{
    if (bulk != nullptr)
        return bulk->readInterleaved (interleaved, start, count);

    const int channels = (int) reader.numChannels;
    float* planar[2] = { planes.data(), planes.data() + blockFrames };
    if (! reader.read (planar, channels, (juce::int64) start, count))
        return false;
    if (channels == 1)
        std::copy_n (planar[0], count, interleaved);
    else
        for (int i = 0; i < count; ++i)
        {
            interleaved[2 * i] = planar[0][i];
            interleaved[2 * i + 1] = planar[1][i];
        }
    return true;
}

std::unique_ptr<juce::AudioFormatReader> openSecondReader (const juce::AudioFormatReader& first, const juce::File& file)
{
    if (! canReadFromAnyFrame (first))
        return nullptr;
    auto second = openMediaReader (file);
    if (second == nullptr || second->getFormatName() != first.getFormatName())
        return nullptr;
    if (second->sampleRate != first.sampleRate || second->numChannels != first.numChannels
        || second->lengthInSamples != first.lengthInSamples)
        failLoad (mediatext::changedWhileLoading);
    return second;
}

bool loadThroughReader (juce::AudioFormatReader& reader, const MediaLoadRequest& request, LoadedMedia& media,
                        CancelFlag cancel, int workers, ResamplePath path)
{
    const double start = monotonicMs();
    if (! hasUsableShape (reader))
        failLoad (mediatext::channelsOrLengthUnusable);
    const int channels = (int) reader.numChannels;
    const auto n = (std::uint64_t) reader.lengthInSamples;
    if (n > decodedSampleLimit / (std::uint64_t) channels)
        failLoad (mediatext::memoryLimit);
    if (isKnownTruncated (reader))
        failLoad (mediatext::decodeFailed);   // the file ends inside its sample data

    const double sourceRate = reader.sampleRate;
    const double exactFrames = std::round ((double) n * request.rate / sourceRate);
    if (! (exactFrames >= 1.0 && exactFrames <= (double) preparedFrameLimit))
        failLoad (mediatext::memoryLimit);

    SourceBuffer source (n, channels);
    auto pcm = std::make_shared<PreparedPcm>();
    pcm->sampleRate = request.rate;
    resizeLarge (pcm->left, (std::size_t) exactFrames);
    resizeLarge (pcm->right, (std::size_t) exactFrames);
    ChunkedResample resample (source.samples.get(), n, channels, sourceRate, request.rate, *pcm, cancel, path);

    FrameSource frames (reader, request.path);
    bool nonFinite = false;
    double resampleMs = 0.0;
    double decodedAt = 0.0;

    if (workers < 2)
    {
        // Each block is resampled as far as it allows right after it is decoded.
        const bool complete = decodeRange (frames, request.path, source.samples.get(), channels, 0, n, cancel, nonFinite,
                                           [&] (std::uint64_t decoded)
                                           {
                                               const double before = monotonicMs();
                                               resample.computeWhile (decoded);
                                               resampleMs += monotonicMs() - before;
                                           });
        if (! complete)
            return false;
        decodedAt = monotonicMs() - resampleMs;
        const double before = monotonicMs();
        resample.computeRest();
        resampleMs += monotonicMs() - before;
    }
    else if (auto second = openSecondReader (reader, request.path))
    {
        // Two halves decoded at once, then both threads resample.
        const std::uint64_t split = n / 2;
        FrameSource secondFrames (*second, request.path);
        bool helperNonFinite = false;
        DecodeProgress progress;
        runWithHelperThread (
            [&]
            {
                decodeRange (secondFrames, request.path, source.samples.get(), channels, split, n, cancel, helperNonFinite,
                             [] (std::uint64_t) {});
            },
            [&] { decodeRange (frames, request.path, source.samples.get(), channels, 0, split, cancel, nonFinite,
                               [] (std::uint64_t) {}); });
        nonFinite = nonFinite || helperNonFinite;
        decodedAt = monotonicMs();
        progress.end (true);
        runWithHelperThread ([&] { resample.shareRemaining (progress); }, [&] { resample.shareRemaining (progress); });
        resampleMs = monotonicMs() - decodedAt;
    }
    else
    {
        // This thread decodes while the helper resamples what has arrived; then both resample.
        DecodeProgress progress;
        bool complete = true;
        runWithHelperThread ([&] { resample.shareRemaining (progress); },
                             [&]
                             {
                                 struct EndGuard
                                 {
                                     DecodeProgress& progress;
                                     bool& complete;
                                     ~EndGuard() { progress.end (complete); }
                                 };
                                 complete = false;
                                 {
                                     EndGuard guard { progress, complete };
                                     complete = decodeRange (frames, request.path, source.samples.get(), channels, 0, n,
                                                             cancel, nonFinite,
                                                             [&] (std::uint64_t decoded) { progress.publish (decoded); });
                                 }
                                 decodedAt = monotonicMs();
                                 if (complete)
                                     resample.shareRemaining (progress);
                             });
        if (! complete)
            return false;
        resampleMs = monotonicMs() - decodedAt;
    }
    throwIfCancelled (cancel);

    media.decodeMs = decodedAt - start;
    double now = monotonicMs();
    if (nonFinite)
        failLoad (mediatext::nonFiniteSamples);
    media.duration = (double) n / sourceRate;
    media.validationMs = monotonicMs() - now;

    now = monotonicMs();
    const auto cue = orvane::audio::findCuePoint (source.samples.get(), source.count, channels, sourceRate,
                                                  orvane::audio::CueSearchSettings {});
    if (cue.found)
        pcm->cueFrame = std::min ((std::int64_t) (cue.seconds * request.rate), (std::int64_t) pcm->left.size() - 1);
    media.cueSearchMs = monotonicMs() - now;
    media.preparationMs = resampleMs;

    now = monotonicMs();
    auto peaks = orvane::audio::peaksFromCacheOrCompute (
        request.waveformCachePath, n, sourceRate, channels, [&]
        {
            return orvane::audio::computeWaveformPeaks (source.samples.get(), source.count, channels, sourceRate,
                                                        orvane::audio::defaultFramesPerPeak);
        });
    media.peaks = std::make_shared<orvane::audio::WaveformPeakData> (std::move (peaks));
    media.peaksMs = monotonicMs() - now;
    media.pcm = std::move (pcm);
    return true;
}
} // namespace vantrel
