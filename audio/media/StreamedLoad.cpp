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
void throwIfCancelled (CancelFlag cancel)
{
    if (isCancelled (cancel))
        failLoad (mediatext::cancelled);
}

bool canReadFromAnyFrame (const juce::AudioFormatReader& reader)
{
    const auto format = normaliseFormatName (reader.getFormatName());
    return format == "WAV" || format == "AIFF" || format == "FLAC";
}

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

/** The work of one stretch, block by block: each block is checked, fed to the cue search,
    reduced to its peaks and resampled as far as the frames decoded so far allow. The source's
    length may be unknown until the end (the stream decoder): the PCM and the peaks then grow
    with the blocks. */
class StretchWork
{
public:
    StretchWork (const ResampleJob& job, std::uint64_t knownFrames, int channelCount, Stretch& stretchToDo,
                 orvane::audio::WaveformPeakData& peaksToFill, PreparedPcm& pcmToFill, std::uint64_t from)
        : base (job), length (knownFrames), channels (channelCount), stretch (stretchToDo), peaks (peaksToFill),
          pcm (pcmToFill), buffer ((std::size_t) (FrameSource::blockFrames + stretchMargin) * (std::size_t) channelCount),
          first (from), position (from), next (stretchToDo.outBegin)
    {
        stretch.bytesHeld = buffer.size() * sizeof (float);
    }

    /** Where the next block of up to blockFrames frames goes: the frames the next output frames
        still read are moved to the front first. */
    float* blockToFill()
    {
        const std::uint64_t keepFrom = next < stretch.outEnd
            ? std::clamp<std::uint64_t> ((std::uint64_t) std::max<std::int64_t> (0, integerOf (next) - resampleTapsBefore), first, position)
            : position;
        const auto kept = position - keepFrom;
        if (kept > stretchMargin)
            failLoad (mediatext::loadFailed);
        std::memmove (buffer.data(), buffer.data() + (keepFrom - first) * (std::uint64_t) channels,
                      (std::size_t) (kept * (std::uint64_t) channels) * sizeof (float));
        first = keepFrom;
        return buffer.data() + kept * (std::uint64_t) channels;
    }

    /** The block at blockToFill() holds count frames now. */
    void blockFilled (int count)
    {
        const float* block = buffer.data() + (position - first) * (std::uint64_t) channels;
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
            if (peaks.minima.size() < at + part.minima.size())
            {
                peaks.minima.resize (at + part.minima.size());
                peaks.maxima.resize (peaks.minima.size());
            }
            std::copy (part.minima.begin(), part.minima.end(), peaks.minima.begin() + (std::ptrdiff_t) at);
            std::copy (part.maxima.begin(), part.maxima.end(), peaks.maxima.begin() + (std::ptrdiff_t) at);
        }
        position = blockEnd;
        resampleWhatIsDecoded();
    }

    /** The stream ended: its length is what was decoded, and the output frames it gives. */
    void finish (std::size_t outputFrames)
    {
        length = position;
        stretch.outEnd = outputFrames;
        if (pcm.left.size() != outputFrames)
        {
            resizeLarge (pcm.left, outputFrames);
            resizeLarge (pcm.right, outputFrames);
        }
        resampleWhatIsDecoded();
    }

    std::uint64_t decodedUpTo() const noexcept  { return position; }

private:
    std::int64_t integerOf (std::size_t i) const  { return (std::int64_t) ((double) i * base.step); }

    /** The output frames whose taps all lie in what is decoded (at the end, every one left). */
    void resampleWhatIsDecoded()
    {
        constexpr std::int64_t tapsAfter = resampleTaps - resampleTapsBefore;   // tap 63 reads frame d + 32
        if (next >= stretch.outEnd)
            return;
        std::size_t limit = stretch.outEnd;
        if (length == 0 || position < length)
        {
            limit = (std::size_t) std::clamp (((double) position - (double) tapsAfter) / base.step, (double) next,
                                              (double) stretch.outEnd);
            while (limit > next && integerOf (limit - 1) + tapsAfter >= (std::int64_t) position)
                --limit;
            while (limit < stretch.outEnd && integerOf (limit) + tapsAfter < (std::int64_t) position)
                ++limit;
        }
        if (limit <= next)
            return;
        if (pcm.left.size() < limit)
        {
            resizeLarge (pcm.left, limit);
            resizeLarge (pcm.right, limit);
        }

        const double before = monotonicMs();
        ResampleJob job = base;
        job.source = buffer.data();
        job.sourceFirst = (std::size_t) first;
        job.sourceLimit = (std::size_t) position;
        job.sourceFrames = (std::size_t) (length > 0 ? length : position);
        job.left = pcm.left.data();
        job.right = pcm.right.data();
        resampleRange (job, next, limit);
        next = limit;
        stretch.resampleMs += monotonicMs() - before;
    }

    ResampleJob base;
    std::uint64_t length;   // 0 until known
    int channels;
    Stretch& stretch;
    orvane::audio::WaveformPeakData& peaks;
    PreparedPcm& pcm;
    std::vector<float> buffer;
    std::uint64_t first;      // the frame at buffer[0]
    std::uint64_t position;   // one past the last frame decoded
    std::size_t next;         // the next output frame
};

using ReadBlock = std::function<bool (float* interleaved, std::uint64_t start, int count)>;

/** Runs one stretch of a file of known length; false when a read failed on an MP3 file (other
    failures raise). */
bool runStretch (const ReadBlock& read, const juce::File& file, const ResampleJob& base, std::uint64_t n, int channels,
                 Stretch& stretch, orvane::audio::WaveformPeakData& peaks, PreparedPcm& pcm, CancelFlag cancel)
{
    const auto integerOf = [&base] (std::size_t i) { return (std::int64_t) ((double) i * base.step); };
    std::uint64_t from = stretch.cue->framesNeeded() > 0 ? std::min (stretch.peakBegin, stretch.cue->firstNeeded())
                                                         : stretch.peakBegin;
    std::uint64_t to = std::max (stretch.peakEnd, stretch.cue->framesNeeded());
    if (stretch.outBegin < stretch.outEnd)
    {
        from = std::min (from, (std::uint64_t) std::max<std::int64_t> (0, integerOf (stretch.outBegin) - resampleTapsBefore));
        to = std::max (to, (std::uint64_t) std::min<std::int64_t> ((std::int64_t) n, integerOf (stretch.outEnd - 1)
                                                                                       + resampleTaps - resampleTapsBefore + 1));
    }
    from -= from % orvane::audio::defaultFramesPerPeak;   // blocks then never split a peak
    to = std::min (to, n);

    StretchWork work (base, n, channels, stretch, peaks, pcm, from);
    while (work.decodedUpTo() < to)
    {
        throwIfCancelled (cancel);
        const auto at = work.decodedUpTo();
        const int count = (int) std::min<std::uint64_t> (FrameSource::blockFrames, to - at);
        if (! read (work.blockToFill(), at, count))
        {
            if (file.hasFileExtension ("mp3"))
                return false;
            failLoad (mediatext::decodeFailed);
        }
        work.blockFilled (count);
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

    /** The block holds frames frames now (or its read failed: the taking side then gets 0). */
    void filled (bool complete, int frames)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            if (! complete)
                failed = true;
            else
            {
                counts[head] = frames;
                head = (head + 1) % slots;
                ++filledCount;
            }
        }
        changed.notify_all();
    }

    /** The decoding ended cleanly: the blocks filled so far are all there is. */
    void finish()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            finished = true;
        }
        changed.notify_all();
    }

    /** Copies the next block out and returns its frames; 0 at the end, when a read failed or
        when either side gave up. */
    int take (float* destination)
    {
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait (lock, [this] { return abandoned || failed || finished || filledCount > 0; });
        if (filledCount == 0 || failed)
            return 0;
        const float* block = slot (tail);
        const int frames = counts[tail];
        lock.unlock();
        std::memcpy (destination, block, sizeof (float) * (std::size_t) frames * (std::size_t) channels);
        lock.lock();
        tail = (tail + 1) % slots;
        --filledCount;
        lock.unlock();
        changed.notify_all();
        return frames;
    }

    /** Whether everything decoded was taken after a clean end. */
    bool endedCleanly()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return finished && ! failed && ! abandoned && filledCount == 0;
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
    int counts[slots] = {};
    int head = 0, tail = 0, filledCount = 0;
    bool failed = false, finished = false, abandoned = false;
};

/** Takes a stream decoding's samples block by block (the stream decoder keeps none of them)
    and does a stretch's work on each: on the decoding thread, or with two workers on the helper,
    which takes the blocks through a small ring. A stream at the target's rate is kept whole
    (its frames are copied). */
class StreamingStretch : public DecodeObserver
{
public:
    StreamingStretch (const MediaLoadRequest& requestToLoad, LoadedMedia& mediaToFill, CancelFlag cancelFlag,
                      ResamplePath resamplePath, int requestedWorkers)
        : request (requestToLoad), media (mediaToFill), cancel (cancelFlag), path (resamplePath), workers (requestedWorkers)
    {
    }

    void opened (int channels, double sampleRate, std::uint64_t expectedFrames) override
    {
        if (std::abs (sampleRate - request.rate) >= sameRateTolerance)
        {
            channelCount = channels;
            if (workers <= 0)
                workers = resampleWorkerCount (processorTopology(), expectedFrames, sampleRate);
            const double estimate = std::round ((double) expectedFrames * request.rate / sampleRate);
            pcm = std::make_shared<PreparedPcm>();
            pcm->sampleRate = request.rate;
            reserveLarge (pcm->left, (std::size_t) std::clamp (estimate, 0.0, (double) preparedFrameLimit));
            reserveLarge (pcm->right, pcm->left.capacity());
            start (channels, sampleRate);
        }
        openGate();
    }

    bool keepsSamples() const override  { return work == nullptr; }

    void taken (const float* samples, std::size_t count) override
    {
        const auto frames = count / (std::size_t) channelCount;
        for (std::size_t done = 0; done < frames;)
        {
            if (block == nullptr && (block = nextBlock()) == nullptr)
                failLoad (mediatext::cancelled);   // the helper gave up: its failure is the load's
            const auto part = std::min (frames - done, (std::size_t) FrameSource::blockFrames - blockFrames);
            std::copy_n (samples + done * (std::size_t) channelCount, part * (std::size_t) channelCount,
                         block + blockFrames * (std::size_t) channelCount);
            blockFrames += part;
            done += part;
            if (blockFrames == (std::size_t) FrameSource::blockFrames)
                passBlock();
        }
    }

    /** The helper's work: once the stream is open, the blocks of the ring and the stretch's end. */
    void helpWhenShared()
    {
        {
            std::unique_lock<std::mutex> lock (gateMutex);
            gateChanged.wait (lock, [this] { return gateOpen; });
        }
        if (ring == nullptr)
            return;
        struct AbandonRing
        {
            BlockRing& ring;
            ~AbandonRing() { ring.abandon(); }
        } guard { *ring };
        while (const int frames = ring->take (work->blockToFill()))
            work->blockFilled (frames);
        if (ring->endedCleanly())
            finish();
    }

    /** After a whole decoding: the last block, then (on this thread when alone) the checks, the
        PCM at its real length, the cue point and the peaks. */
    void decodingEnded()
    {
        if (blockFrames > 0)
            passBlock();
        if (ring != nullptr)
            ring->finish();
        else
            finish();
    }

    /** After a failed decoding: the helper stops. */
    void abandon()
    {
        if (ring != nullptr)
            ring->abandon();
        openGate();
    }

    bool takesBlocks() const  { return work != nullptr; }
    bool isFinished() const  { return finished; }
    std::shared_ptr<PreparedPcm> result() const  { return pcm; }
    double resampleMs() const  { return stretch.resampleMs; }

private:
    void start (int channels, double sampleRate)
    {
        table = buildResampleTable (std::min (request.rate / sampleRate, 1.0) * 0.94);
        job.channels = channels;
        job.step = sampleRate / request.rate;
        job.table = table.data();
        job.cancel = cancel;
        job.path = path;
        peaks.channels = channels;
        peaks.sampleRate = sampleRate;
        peaks.framesPerPeak = orvane::audio::defaultFramesPerPeak;
        constexpr std::uint64_t unknown = std::uint64_t (1) << 62;   // the length: the search ends with the stream
        stretch.outEnd = (std::size_t) preparedFrameLimit;
        stretch.peakEnd = unknown;
        stretch.cue = std::make_unique<orvane::audio::CueSearch> (channels, sampleRate, unknown,
                                                                  orvane::audio::CueSearchSettings {}, 0, unknown);
        work = std::make_unique<StretchWork> (job, 0, channels, stretch, peaks, *pcm, 0);
        if (workers >= 2)
            ring = std::make_unique<BlockRing> (channels);
    }

    float* nextBlock()
    {
        return ring != nullptr ? ring->slotToFill() : work->blockToFill();
    }

    void passBlock()
    {
        if (isCancelled (cancel))
            failLoad (mediatext::cancelled);
        if (ring != nullptr)
            ring->filled (true, (int) blockFrames);
        else
            work->blockFilled ((int) blockFrames);
        block = nullptr;
        blockFrames = 0;
    }

    void finish()
    {
        const auto n = work->decodedUpTo();
        if (stretch.nonFinite)
            failLoad (mediatext::nonFiniteSamples);
        work->finish (outputFramesFor (n, peaks.sampleRate, request.rate));
        media.validationMs = stretch.validationMs;

        const auto& cue = stretch.cue->result();
        if (cue.found)
            pcm->cueFrame = std::min ((std::int64_t) (cue.seconds * request.rate), (std::int64_t) pcm->left.size() - 1);
        peaks.totalFrames = n;
        peaks.peakCount = (n - 1) / peaks.framesPerPeak + 1;
        const double now = monotonicMs();
        auto cached = orvane::audio::peaksFromCacheOrCompute (request.waveformCachePath, n, peaks.sampleRate, channelCount,
                                                              [this] { return std::move (peaks); });
        media.peaks = std::make_shared<orvane::audio::WaveformPeakData> (std::move (cached));
        media.peaksMs = monotonicMs() - now;
        media.sourceBytesHeld = stretch.bytesHeld + (ring != nullptr ? ring->byteSize() : 0);
        finished = true;
    }

    void openGate()
    {
        {
            const std::lock_guard<std::mutex> lock (gateMutex);
            gateOpen = true;
        }
        gateChanged.notify_all();
    }

    const MediaLoadRequest& request;
    LoadedMedia& media;
    CancelFlag cancel;
    ResamplePath path;
    int workers;
    int channelCount = 1;
    std::shared_ptr<PreparedPcm> pcm;
    std::vector<double> table;
    ResampleJob job;
    Stretch stretch;
    orvane::audio::WaveformPeakData peaks;
    std::unique_ptr<StretchWork> work;
    std::unique_ptr<BlockRing> ring;
    float* block = nullptr;          // the block being filled
    std::size_t blockFrames = 0;
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateOpen = false;
    bool finished = false;           // the PCM, cue point and peaks are there
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
                complete = runStretch ([&ring] (float* out, std::uint64_t, int count) { return ring.take (out) == count; },
                                       request.path, base, n, channels, first, peaks, *pcm, cancel);
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
                    ring.filled (read, (int) std::min<std::uint64_t> (FrameSource::blockFrames, n - at));
                    if (! read)
                        return;
                }
                ring.finish();
            });
        if (! complete)
            return false;
        first.bytesHeld += ring.byteSize();
    }
    else if (split == 0)
    {
        if (! runStretch (readFrom (frames), request.path, base, n, channels, first, peaks, *pcm, cancel))
            return false;
    }
    else
    {
        FrameSource secondFrames (*second, request.path);
        runWithHelperThread ([&] { runStretch (readFrom (secondFrames), request.path, base, n, channels, rest, peaks, *pcm, cancel); },
                             [&] { runStretch (readFrom (frames), request.path, base, n, channels, first, peaks, *pcm, cancel); });
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
    checkReaderCanBeDecoded (reader);
    const auto n = (std::uint64_t) reader.lengthInSamples;

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
    StreamingStretch stretch (request, media, cancel, path, workers);
    DecodedAudio decoded;
    double decodedAt = 0.0;
    runWithHelperThread ([&] { stretch.helpWhenShared(); },
                         [&]
                         {
                             struct AbandonUnlessEnded
                             {
                                 StreamingStretch& stretch;
                                 bool ended = false;
                                 ~AbandonUnlessEnded() { if (! ended) stretch.abandon(); }
                             } guard { stretch };
                             decoded = decodeWithoutReader (request.path, cancel, media.format, &stretch);
                             decodedAt = monotonicMs();
                             if (stretch.takesBlocks())
                                 stretch.decodingEnded();
                             else
                                 stretch.abandon();   // lets the helper go: the samples were kept
                             guard.ended = true;
                         });
    throwIfCancelled (cancel);
    media.decodeMs = decodedAt - start - stretch.resampleMs();

    if (stretch.takesBlocks())
    {
        if (! stretch.isFinished())
            failLoad (mediatext::loadFailed);   // cannot happen: a helper that gave up raised its failure
        media.duration = (double) (decoded.decodedSamples / (std::uint64_t) decoded.channels) / decoded.sampleRate;
        media.preparationMs = stretch.resampleMs();
        media.pcm = stretch.result();
        return;
    }

    // A stream at the target's rate, kept whole.
    validateDecodedAudio (decoded);
    media.duration = (double) decoded.frames() / decoded.sampleRate;
    const double before = monotonicMs();
    auto pcm = resamplePcm (decoded.samples, decoded.channels, decoded.sampleRate, request.rate, cancel,
                            workers > 0 ? workers : resampleWorkerCount (processorTopology(), decoded.frames(), decoded.sampleRate),
                            path);
    media.preparationMs = monotonicMs() - before;
    media.sourceBytesHeld = decoded.samples.capacity() * sizeof (float);
    findCueAndPeaks (decoded.samples.data(), decoded.samples.size(), decoded.channels, decoded.sampleRate, request, *pcm,
                     media);
    media.pcm = std::move (pcm);
}
} // namespace vantrel
