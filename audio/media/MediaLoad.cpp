#include "audio/media/MediaLoad.h"

#include "audio/media/CuePoint.h"
#include "audio/media/DecodedAudio.h"
#include "audio/media/MediaDecoding.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/PeakCacheFile.h"
#include "audio/media/PreparePcm.h"
#include "audio/media/ProcessorTopology.h"
#include "audio/media/ReaderLoad.h"
#include "audio/media/Resampler.h"

#include <algorithm>

namespace vantrel
{
namespace
{
int workersFor (const MediaLoadOptions& options, std::uint64_t frames, double sampleRate)
{
    if (options.workers > 0)
        return std::min (options.workers, 2);
    return resampleWorkerCount (processorTopology(), frames, sampleRate);
}

void finalCheck (const MediaLoadRequest& request, const MediaLoadOptions& options)
{
    if (options.beforeFinalCheck)
        options.beforeFinalCheck();
    if (readFileSignature (request.path) != request.signature)
        failLoad (mediatext::changedWhileLoading);
}

void loadInto (LoadedMedia& media, const MediaLoadRequest& request, CancelFlag cancel, const MediaLoadOptions& options)
{
    if (! request.path.existsAsFile())
        failLoad (mediatext::fileMissing);
    if (readFileSignature (request.path) != request.signature)
        failLoad (mediatext::changedSinceRegistration);

    const double start = monotonicMs();
    auto reader = openMediaReader (request.path);
    checkTargetRate (request.rate);

    if (reader != nullptr && allowsDirectPath (*reader, request.rate))
    {
        media.format = normaliseFormatName (reader->getFormatName());
        const auto frames = (std::uint64_t) reader->lengthInSamples;
        if (preparePcm (*reader, request, media, cancel, workersFor (options, frames, reader->sampleRate),
                        options.beforeFinalCheck))
            return;
        reader.reset();   // an MP3 the reader cannot read: decode it as if no reader had opened
    }

    if (reader != nullptr)
    {
        // A file the reader cannot read (an MP3 with damaged frames) goes to the stream decoder.
        media.format = normaliseFormatName (reader->getFormatName());
        const auto frames = (std::uint64_t) std::max<juce::int64> (0, reader->lengthInSamples);
        if (loadThroughReader (*reader, request, media, cancel, workersFor (options, frames, reader->sampleRate),
                               options.resamplePath))
        {
            finalCheck (request, options);
            return;
        }
        reader.reset();
    }

    const auto decoded = decodeWithoutReader (request.path, cancel, media.format);
    double now = monotonicMs();
    media.decodeMs = now - start;

    validateDecodedAudio (decoded);
    const auto frames = decoded.frames();
    media.duration = (double) frames / decoded.sampleRate;
    media.validationMs = monotonicMs() - now;

    now = monotonicMs();
    const auto cue = orvane::audio::findCuePoint (decoded.samples.data(), decoded.samples.size(), decoded.channels,
                                                  decoded.sampleRate, orvane::audio::CueSearchSettings {});
    media.cueSearchMs = monotonicMs() - now;

    now = monotonicMs();
    auto pcm = resamplePcm (decoded.samples, decoded.channels, decoded.sampleRate, request.rate, cancel,
                            workersFor (options, frames, decoded.sampleRate), options.resamplePath);
    if (cue.found)
        pcm->cueFrame = std::min ((std::int64_t) (cue.seconds * request.rate), (std::int64_t) pcm->left.size() - 1);
    media.pcm = std::move (pcm);
    media.preparationMs = monotonicMs() - now;

    now = monotonicMs();
    auto peaks = orvane::audio::peaksFromCacheOrCompute (
        request.waveformCachePath, frames, decoded.sampleRate, decoded.channels, [&decoded]
        {
            return orvane::audio::computeWaveformPeaks (decoded.samples.data(), decoded.samples.size(), decoded.channels,
                                                        decoded.sampleRate, orvane::audio::defaultFramesPerPeak);
        });
    media.peaks = std::make_shared<orvane::audio::WaveformPeakData> (std::move (peaks));
    media.peaksMs = monotonicMs() - now;

    finalCheck (request, options);
}
} // namespace

std::shared_ptr<LoadedMedia> loadMedia (const MediaLoadRequest& request, CancelFlag cancel)
{
    return loadMedia (request, cancel, MediaLoadOptions {});
}

std::shared_ptr<LoadedMedia> loadMedia (const MediaLoadRequest& request, CancelFlag cancel, const MediaLoadOptions& options)
{
    auto media = std::make_shared<LoadedMedia>();
    media->fileName = request.path.getFileName();
    media->signature = request.signature;

    try
    {
        loadInto (*media, request, cancel, options);
    }
    catch (const std::exception& failure)
    {
        media->pcm.reset();
        media->error = juce::String::fromUTF8 (failure.what());
    }
    catch (...)
    {
        media->pcm.reset();
        media->error = juce::String::fromUTF8 (mediatext::loadFailed);
    }
    return media;
}
} // namespace vantrel
