#include "audio/media/StreamedLoad.h"

#include "audio/media/CuePoint.h"
#include "audio/media/FfmpegDecoder.h"
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
#include <cstring>
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

/** The resampling of one load, handed out in chunks of output frames to whichever thread asks,
    while the source is still being decoded. A chunk is computed once every source frame its
    taps read is decoded; until the source's length is known, against the frames decoded so far
    (a frame whose taps all lie inside them sums the same as against the whole source). The
    decoding thread tells it how far it has come (publish), holds the chunks back before the
    source or the PCM moves (pause), and ends it (complete or abandon). */
class ChunkedResample
{
public:
    ChunkedResample (int channels, double sourceRate, double targetRate, CancelFlag cancel, ResamplePath path)
        : table (buildResampleTable (std::min (targetRate / sourceRate, 1.0) * 0.94))
    {
        job.channels = channels;
        job.step = sourceRate / targetRate;
        job.table = table.data();
        job.cancel = cancel;
        job.path = path;
    }

    /** Where the PCM is; the source's length when it is known already (else 0). */
    void attach (PreparedPcm& pcm, std::uint64_t knownLength)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        outputTo (pcm);
        length = knownLength;
    }

    void publish (const float* source, std::uint64_t decodedFrames)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            job.source = source;
            decoded = decodedFrames;
            paused = false;
        }
        changed.notify_all();
    }

    /** Waits until no chunk is being computed and holds new ones back until the next publish
        or complete. */
    void pause()
    {
        std::unique_lock<std::mutex> lock (mutex);
        paused = true;
        changed.wait (lock, [this] { return computing == 0; });
    }

    /** The whole source is decoded: its length, and where the PCM is now. */
    void complete (const float* source, std::uint64_t frames, PreparedPcm& pcm)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            outputTo (pcm);
            job.source = source;
            length = decoded = frames;
            paused = false;
        }
        changed.notify_all();
    }

    void abandon()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            abandoned = true;
            paused = false;
        }
        changed.notify_all();
    }

    /** Computes the chunks that can be computed now (one thread alone). */
    void computeReady()
    {
        while (computeNext (false)) {}
    }

    /** Takes chunks until none is left, waiting for the decoding where one needs more; returns
        early when the decoding is abandoned. */
    void share()
    {
        while (computeNext (true)) {}
    }

private:
    void outputTo (PreparedPcm& pcm)
    {
        job.left = pcm.left.data();
        job.right = pcm.right.data();
        frames = pcm.left.size();
    }

    std::size_t chunkCount() const  { return (frames + chunkFrames - 1) / chunkFrames; }

    bool isReady (std::size_t chunk) const
    {
        if (chunk >= chunkCount() || (length == 0 && (chunk + 1) * chunkFrames > frames))
            return false;   // while the length is unknown, the PCM may grow: only whole chunks
        const std::size_t last = std::min (frames, (chunk + 1) * chunkFrames) - 1;
        auto needed = (std::uint64_t) ((double) last * job.step) + (resampleTaps - resampleTapsBefore) + 2;
        if (length > 0)
            needed = std::min (needed, length);
        return needed <= decoded;
    }

    bool isOver() const  { return abandoned || (length > 0 && decoded == length && next >= chunkCount()); }

    bool computeNext (bool wait)
    {
        std::unique_lock<std::mutex> lock (mutex);
        const auto canStart = [this] { return isOver() || (! paused && isReady (next)); };
        if (wait)
            changed.wait (lock, canStart);
        if (isOver() || paused || ! isReady (next))
            return false;

        const std::size_t chunk = next++;
        const std::size_t end = std::min (frames, (chunk + 1) * chunkFrames);
        ResampleJob snapshot = job;
        snapshot.sourceFrames = (std::size_t) (length > 0 ? length : decoded);
        ++computing;
        lock.unlock();

        struct Done
        {
            ChunkedResample& owner;
            ~Done()
            {
                {
                    const std::lock_guard<std::mutex> relock (owner.mutex);
                    --owner.computing;
                }
                owner.changed.notify_all();
            }
        } done { *this };
        resampleRange (snapshot, chunk * chunkFrames, end);
        return true;
    }

    std::vector<double> table;
    std::mutex mutex;
    std::condition_variable changed;
    ResampleJob job;                 // the source, the table and the output; guarded by mutex
    std::size_t frames = 0;          // output frames (while the length is unknown: those allocated)
    std::uint64_t length = 0;        // the source's frames once known
    std::uint64_t decoded = 0;
    std::size_t next = 0;            // the next chunk to hand out
    int computing = 0;
    bool paused = false;
    bool abandoned = false;
};

/** One thread's share of a load through the reader: the output frames [outBegin, outEnd), the
    peaks of the source frames [peakBegin, peakEnd) and a cue search, from source frames decoded
    block by block into a buffer that keeps only the frames the next output frames still read,
    so that the whole decoded source is never held. */
struct Stretch
{
    std::size_t outBegin = 0, outEnd = 0;
    std::uint64_t peakBegin = 0, peakEnd = 0;   // peakBegin a multiple of the frames per peak
    std::unique_ptr<orvane::audio::CueSearch> cue;
    bool nonFinite = false;
    double resampleMs = 0.0;
    double validationMs = 0.0;
    std::uint64_t bytesHeld = 0;
};

constexpr std::uint64_t stretchMargin = 4096;   // frames kept from one block for the next: taps need ~70 at most

/** Runs one stretch; false when a read failed on an MP3 file (other failures raise). */
using ReadBlock = std::function<bool (float* interleaved, std::uint64_t start, int count)>;

bool runStretch (const ReadBlock& read, const juce::File& file, const ResampleJob& base, std::uint64_t n, int channels,
                 Stretch& stretch, orvane::audio::WaveformPeakData& peaks, CancelFlag cancel)
{
    const auto integerOf = [&base] (std::size_t i) { return (std::int64_t) ((double) i * base.step); };
    constexpr std::int64_t tapsAfter = resampleTaps - resampleTapsBefore;   // tap 63 reads frame d + 32
    const bool hasOutput = stretch.outBegin < stretch.outEnd;
    std::uint64_t from = stretch.cue->framesNeeded() > 0 ? std::min (stretch.peakBegin, stretch.cue->firstNeeded())
                                                         : stretch.peakBegin;
    std::uint64_t to = std::max (stretch.peakEnd, stretch.cue->framesNeeded());
    if (hasOutput)
    {
        from = std::min (from, (std::uint64_t) std::max<std::int64_t> (0, integerOf (stretch.outBegin) - resampleTapsBefore));
        to = std::max (to, (std::uint64_t) std::min<std::int64_t> ((std::int64_t) n, integerOf (stretch.outEnd - 1) + tapsAfter + 1));
    }
    from -= from % orvane::audio::defaultFramesPerPeak;   // blocks then never split a peak
    to = std::min (to, n);

    const auto capacity = (std::size_t) (FrameSource::blockFrames + stretchMargin) * (std::size_t) channels;
    std::vector<float> buffer (capacity);
    stretch.bytesHeld = capacity * sizeof (float);
    std::uint64_t first = from;    // the frame at buffer[0]
    std::size_t next = stretch.outBegin;

    for (std::uint64_t position = from; position < to;)
    {
        throwIfCancelled (cancel);
        const std::uint64_t keepFrom = next < stretch.outEnd
            ? std::clamp<std::uint64_t> ((std::uint64_t) std::max<std::int64_t> (0, integerOf (next) - resampleTapsBefore), first, position)
            : position;
        const auto kept = position - keepFrom;
        if (kept > stretchMargin)
            failLoad (mediatext::loadFailed);
        std::memmove (buffer.data(), buffer.data() + (keepFrom - first) * (std::uint64_t) channels,
                      (std::size_t) (kept * (std::uint64_t) channels) * sizeof (float));
        first = keepFrom;

        const int count = (int) std::min<std::uint64_t> (FrameSource::blockFrames, to - position);
        float* block = buffer.data() + kept * (std::uint64_t) channels;
        if (! read (block, position, count))
        {
            if (file.hasFileExtension ("mp3"))
                return false;
            failLoad (mediatext::decodeFailed);
        }
        const auto blockEnd = position + (std::uint64_t) count;
        const double checkedAt = monotonicMs();
        if (! allSamplesFinite (block, (std::size_t) count * (std::size_t) channels))
            stretch.nonFinite = true;
        stretch.validationMs += monotonicMs() - checkedAt;
        stretch.cue->feed (block, position, (std::uint64_t) count);

        const auto peakFrom = std::max (position, stretch.peakBegin);
        const auto peakTo = std::min (blockEnd, stretch.peakEnd);
        if (peakTo > peakFrom)
        {
            const auto part = orvane::audio::computeWaveformPeaks (block + (peakFrom - position) * (std::uint64_t) channels,
                                                                   (std::size_t) ((peakTo - peakFrom) * (std::uint64_t) channels),
                                                                   channels, peaks.sampleRate, peaks.framesPerPeak);
            const auto at = (std::size_t) (peakFrom / peaks.framesPerPeak * (std::uint64_t) channels);
            std::copy (part.minima.begin(), part.minima.end(), peaks.minima.begin() + (std::ptrdiff_t) at);
            std::copy (part.maxima.begin(), part.maxima.end(), peaks.maxima.begin() + (std::ptrdiff_t) at);
        }
        position = blockEnd;

        if (next < stretch.outEnd)
        {
            // The output frames whose taps all lie in what is decoded (every one left at the end).
            std::size_t limit = stretch.outEnd;
            if (position < n)
            {
                limit = (std::size_t) std::clamp (((double) position - (double) tapsAfter) / base.step, (double) next,
                                                  (double) stretch.outEnd);
                while (limit > next && integerOf (limit - 1) + tapsAfter >= (std::int64_t) position)
                    --limit;
                while (limit < stretch.outEnd && integerOf (limit) + tapsAfter < (std::int64_t) position)
                    ++limit;
            }
            if (limit > next)
            {
                const double before = monotonicMs();
                ResampleJob job = base;
                job.source = buffer.data();
                job.sourceFirst = (std::size_t) first;
                job.sourceLimit = (std::size_t) position;
                resampleRange (job, next, limit);
                next = limit;
                stretch.resampleMs += monotonicMs() - before;
            }
        }
    }
    return true;
}

/** What every load does once the whole source is decoded and resampled: the auto-cue point
    and the peaks, from the interleaved source. */
void findCueAndPeaks (const float* samples, std::size_t count, int channels, double sourceRate,
                      const MediaLoadRequest& request, PreparedPcm& pcm, LoadedMedia& media)
{
    double now = monotonicMs();
    const auto cue = orvane::audio::findCuePoint (samples, count, channels, sourceRate, orvane::audio::CueSearchSettings {});
    if (cue.found)
        pcm.cueFrame = std::min ((std::int64_t) (cue.seconds * request.rate), (std::int64_t) pcm.left.size() - 1);
    media.cueSearchMs = monotonicMs() - now;

    now = monotonicMs();
    auto peaks = orvane::audio::peaksFromCacheOrCompute (
        request.waveformCachePath, count / (std::size_t) channels, sourceRate, channels, [&]
        {
            return orvane::audio::computeWaveformPeaks (samples, count, channels, sourceRate,
                                                        orvane::audio::defaultFramesPerPeak);
        });
    media.peaks = std::make_shared<orvane::audio::WaveformPeakData> (std::move (peaks));
    media.peaksMs = monotonicMs() - now;
}

/** The output frames for a source, or the memory-limit failure. */
std::size_t outputFramesFor (std::uint64_t sourceFrames, double sourceRate, double targetRate)
{
    const double exactFrames = std::round ((double) sourceFrames * targetRate / sourceRate);
    if (! (exactFrames >= 1.0 && exactFrames <= (double) preparedFrameLimit))
        failLoad (mediatext::memoryLimit);
    return (std::size_t) exactFrames;
}

/** Resamples a stream decoding's samples as they arrive: alone on the decoding thread, or
    with a helper that waits for them. */
class ResamplingObserver : public DecodeObserver
{
public:
    ResamplingObserver (double target, CancelFlag cancelFlag, ResamplePath resamplePath, int requestedWorkers)
        : targetRate (target), cancel (cancelFlag), path (resamplePath), workers (requestedWorkers)
    {
    }

    void opened (int channels, double sampleRate, std::uint64_t expectedFrames) override
    {
        if (std::abs (sampleRate - targetRate) >= sameRateTolerance)
        {
            const double estimate = std::round ((double) expectedFrames * targetRate / sampleRate);
            pcm = std::make_shared<PreparedPcm>();
            pcm->sampleRate = targetRate;
            resizeLarge (pcm->left, (std::size_t) std::clamp (estimate, 0.0, (double) preparedFrameLimit));
            resizeLarge (pcm->right, pcm->left.size());
            resample = std::make_unique<ChunkedResample> (channels, sampleRate, targetRate, cancel, path);
            resample->attach (*pcm, 0);
            channelCount = channels;
            if (workers <= 0)
                workers = resampleWorkerCount (processorTopology(), expectedFrames, sampleRate);
            shared = workers >= 2;
        }
        openGate();
    }

    void beforeGrowing() override
    {
        if (resample != nullptr)
            resample->pause();
    }

    void decoded (const float* data, std::size_t count) override
    {
        if (resample == nullptr)
            return;
        resample->publish (data, count / (std::size_t) channelCount);
        if (! shared)
        {
            const double before = monotonicMs();
            resample->computeReady();
            resampleMs += monotonicMs() - before;
        }
    }

    /** The helper's work: the chunks, once the stream is open, when they are to be shared. */
    void helpWhenShared()
    {
        {
            std::unique_lock<std::mutex> lock (gateMutex);
            gateChanged.wait (lock, [this] { return gateOpen; });
        }
        if (resample != nullptr && shared)
            resample->share();
    }

    /** After a failed decoding: the helper stops and nothing reads the samples any more. */
    void abandon()
    {
        if (resample != nullptr)
            resample->abandon();
        openGate();
    }

    /** After the whole decoding: the PCM at its real length and the remaining chunks. */
    std::shared_ptr<PreparedPcm> finish (const DecodedAudio& decoded)
    {
        const auto n = decoded.frames();
        const auto frames = outputFramesFor (n, decoded.sampleRate, targetRate);
        resample->pause();
        resizeLarge (pcm->left, frames);
        resizeLarge (pcm->right, frames);
        resample->complete (decoded.samples.data(), n, *pcm);
        const double before = monotonicMs();
        shared ? resample->share() : resample->computeReady();
        resampleMs += monotonicMs() - before;
        return pcm;
    }

    bool resamples() const  { return resample != nullptr; }

    double resampleMs = 0.0;   // on the decoding thread

private:
    void openGate()
    {
        {
            const std::lock_guard<std::mutex> lock (gateMutex);
            gateOpen = true;
        }
        gateChanged.notify_all();
    }

    double targetRate;
    CancelFlag cancel;
    ResamplePath path;
    int workers;
    int channelCount = 1;
    bool shared = false;
    std::shared_ptr<PreparedPcm> pcm;
    std::unique_ptr<ChunkedResample> resample;
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateOpen = false;
};
/** Blocks decoded on one thread and taken in order on another, a few at a time. */
class BlockRing
{
public:
    explicit BlockRing (int channelCount)
        : channels (channelCount), storage ((std::size_t) (slots * FrameSource::blockFrames * channelCount))
    {
    }

    /** The decoding thread's next block to fill; nullptr once the taking side gave up. */
    float* slotToFill()
    {
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait (lock, [this] { return abandoned || filledCount < slots; });
        return abandoned ? nullptr : slot (head);
    }

    /** The block is filled (or its read failed: the taking side then gets false). */
    void filled (bool complete)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            if (! complete)
                failed = true;
            else
            {
                head = (head + 1) % slots;
                ++filledCount;
            }
        }
        changed.notify_all();
    }

    /** Copies the next block out; false when its read failed or either side gave up. */
    bool take (float* destination, int count)
    {
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait (lock, [this] { return abandoned || failed || filledCount > 0; });
        if (filledCount == 0)
            return false;
        const float* block = slot (tail);
        lock.unlock();
        std::memcpy (destination, block, sizeof (float) * (std::size_t) count * (std::size_t) channels);
        lock.lock();
        tail = (tail + 1) % slots;
        --filledCount;
        lock.unlock();
        changed.notify_all();
        return true;
    }

    void abandon()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            abandoned = true;
        }
        changed.notify_all();
    }

    std::size_t byteSize() const  { return storage.size() * sizeof (float); }

private:
    static constexpr int slots = 4;

    float* slot (int index)  { return storage.data() + (std::size_t) index * FrameSource::blockFrames * (std::size_t) channels; }

    int channels;
    std::vector<float> storage;
    std::mutex mutex;
    std::condition_variable changed;
    int head = 0, tail = 0, filledCount = 0;
    bool failed = false, abandoned = false;
};

/** The stretch path: one stretch for the whole file (its blocks decoded by this thread while
    the helper takes them, when decodeBeside), or two halves (split at a block boundary) on two
    threads with two readers. Fills media's PCM, peaks and phase times. */
bool loadInStretches (juce::AudioFormatReader& reader, std::unique_ptr<juce::AudioFormatReader> second, bool decodeBeside,
                      const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel, ResamplePath path,
                      std::shared_ptr<PreparedPcm> pcm, double start)
{
    const int channels = (int) reader.numChannels;
    const auto n = (std::uint64_t) reader.lengthInSamples;
    const double sourceRate = reader.sampleRate;
    const std::size_t outputFrames = pcm->left.size();
    const auto table = buildResampleTable (std::min (request.rate / sourceRate, 1.0) * 0.94);
    ResampleJob base;
    base.sourceFrames = (std::size_t) n;
    base.channels = channels;
    base.step = sourceRate / request.rate;
    base.table = table.data();
    base.left = pcm->left.data();
    base.right = pcm->right.data();
    base.cancel = cancel;
    base.path = path;

    orvane::audio::WaveformPeakData peaks;
    peaks.channels = channels;
    peaks.sampleRate = sourceRate;
    peaks.totalFrames = n;
    peaks.framesPerPeak = orvane::audio::defaultFramesPerPeak;
    peaks.peakCount = (n - 1) / peaks.framesPerPeak + 1;
    peaks.minima.resize ((std::size_t) (peaks.peakCount * (std::uint64_t) channels));
    peaks.maxima.resize (peaks.minima.size());

    const std::uint64_t split = second != nullptr ? n / 2 / FrameSource::blockFrames * FrameSource::blockFrames : 0;
    const auto outSplit = split > 0 ? std::min (outputFrames, (std::size_t) ((double) split / base.step)) : outputFrames;
    const orvane::audio::CueSearchSettings cueSettings;
    Stretch first, rest;
    first.outEnd = outSplit;
    first.peakEnd = split > 0 ? split : n;
    first.cue = std::make_unique<orvane::audio::CueSearch> (channels, sourceRate, n, cueSettings, 0,
                                                            split > 0 ? split - 1 : n);
    rest.outBegin = outSplit;
    rest.outEnd = outputFrames;
    rest.peakBegin = rest.peakEnd = split;
    if (split > 0)
        rest.peakEnd = n;
    rest.cue = std::make_unique<orvane::audio::CueSearch> (channels, sourceRate, n, cueSettings, split, n);

    FrameSource frames (reader, request.path);
    const auto readFrom = [] (FrameSource& source)
    {
        return ReadBlock ([&source] (float* out, std::uint64_t at, int count) { return source.read (out, (std::int64_t) at, count); });
    };
    struct AbandonRing
    {
        BlockRing& ring;
        ~AbandonRing() { ring.abandon(); }   // the other side stops waiting (taken blocks stay takeable)
    };

    if (decodeBeside)
    {
        BlockRing ring (channels);
        bool complete = true;
        runWithHelperThread (
            [&]
            {
                const AbandonRing guard { ring };
                complete = runStretch ([&ring] (float* out, std::uint64_t, int count) { return ring.take (out, count); },
                                       request.path, base, n, channels, first, peaks, cancel);
            },
            [&]
            {
                const AbandonRing guard { ring };
                for (std::uint64_t at = 0; at < n; at += FrameSource::blockFrames)
                {
                    throwIfCancelled (cancel);
                    float* block = ring.slotToFill();
                    if (block == nullptr)
                        return;
                    const bool read = frames.read (block, (std::int64_t) at, (int) std::min<std::uint64_t> (FrameSource::blockFrames, n - at));
                    ring.filled (read);
                    if (! read)
                        return;
                }
            });
        if (! complete)
            return false;
        first.bytesHeld += ring.byteSize();
    }
    else if (split == 0)
    {
        if (! runStretch (readFrom (frames), request.path, base, n, channels, first, peaks, cancel))
            return false;
    }
    else
    {
        FrameSource secondFrames (*second, request.path);
        runWithHelperThread ([&] { runStretch (readFrom (secondFrames), request.path, base, n, channels, rest, peaks, cancel); },
                             [&] { runStretch (readFrom (frames), request.path, base, n, channels, first, peaks, cancel); });
    }
    throwIfCancelled (cancel);

    const double decodedAt = monotonicMs();
    media.decodeMs = decodedAt - start - first.resampleMs - first.validationMs;
    media.validationMs = first.validationMs;
    media.preparationMs = first.resampleMs;
    if (first.nonFinite || rest.nonFinite)
        failLoad (mediatext::nonFiniteSamples);
    media.duration = (double) n / sourceRate;

    const auto& cue = first.cue->result().found ? first.cue->result() : rest.cue->result();
    if (cue.found)
        pcm->cueFrame = std::min ((std::int64_t) (cue.seconds * request.rate), (std::int64_t) outputFrames - 1);
    media.cueSearchMs = 0.0;   // searched while decoding

    const double now = monotonicMs();
    auto cached = orvane::audio::peaksFromCacheOrCompute (request.waveformCachePath, n, sourceRate, channels,
                                                          [&peaks] { return std::move (peaks); });
    media.peaks = std::make_shared<orvane::audio::WaveformPeakData> (std::move (cached));
    media.peaksMs = monotonicMs() - now;
    media.sourceBytesHeld = first.bytesHeld + rest.bytesHeld;
    media.pcm = std::move (pcm);
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
    const auto outputFrames = outputFramesFor (n, sourceRate, request.rate);
    auto pcm = std::make_shared<PreparedPcm>();
    pcm->sampleRate = request.rate;
    resizeLarge (pcm->left, outputFrames);
    resizeLarge (pcm->right, outputFrames);

    // A reader that can start anywhere reads two halves at once with two workers; a
    // forward-only one (MP3) decodes on this thread while the helper takes the blocks.
    const bool decodeBeside = workers >= 2 && ! canReadFromAnyFrame (reader);
    return loadInStretches (reader, workers >= 2 && ! decodeBeside ? openSecondReader (reader, request.path) : nullptr,
                            decodeBeside, request, media, cancel, path, std::move (pcm), start);
}

void loadThroughStreamDecoder (const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel, int workers,
                               ResamplePath path)
{
    const double start = monotonicMs();
    ResamplingObserver observer (request.rate, cancel, path, workers);
    DecodedAudio decoded;
    std::shared_ptr<PreparedPcm> pcm;
    double decodedAt = 0.0;
    runWithHelperThread ([&] { observer.helpWhenShared(); },
                         [&]
                         {
                             bool complete = false;
                             struct AbandonUnlessComplete
                             {
                                 ResamplingObserver& observer;
                                 const bool& complete;
                                 ~AbandonUnlessComplete() { if (! complete) observer.abandon(); }
                             } guard { observer, complete };
                             decoded = decodeWithoutReader (request.path, cancel, media.format, &observer);
                             decodedAt = monotonicMs();
                             validateDecodedAudio (decoded);
                             media.validationMs = monotonicMs() - decodedAt;
                             if (observer.resamples())
                             {
                                 pcm = observer.finish (decoded);
                                 complete = true;
                             }
                             else
                             {
                                 complete = true;
                                 observer.abandon();   // lets the helper go: nothing to share
                             }
                         });
    media.decodeMs = decodedAt - start - observer.resampleMs;
    media.duration = (double) decoded.frames() / decoded.sampleRate;

    if (pcm != nullptr)
    {
        throwIfCancelled (cancel);
        media.preparationMs = observer.resampleMs;
    }
    else
    {
        const double before = monotonicMs();
        pcm = resamplePcm (decoded.samples, decoded.channels, decoded.sampleRate, request.rate, cancel,
                           workers > 0 ? workers : resampleWorkerCount (processorTopology(), decoded.frames(), decoded.sampleRate),
                           path);
        media.preparationMs = monotonicMs() - before;
    }
    media.sourceBytesHeld = decoded.samples.capacity() * sizeof (float);
    findCueAndPeaks (decoded.samples.data(), decoded.samples.size(), decoded.channels, decoded.sampleRate, request, *pcm,
                     media);
    media.pcm = std::move (pcm);
}
} // namespace vantrel
