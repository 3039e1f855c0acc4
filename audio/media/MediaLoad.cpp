#include "audio/media/MediaLoad.h"

#include "audio/media/CuePoint.h"
#include "audio/media/DecodedAudio.h"
#include "audio/media/MediaDecoding.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/PeakCacheFile.h"
#include "audio/media/PreparePcm.h"
#include "audio/media/ProcessorTopology.h"
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

/** Decodes the whole file, with the file's reader when there is one (an MP3 it cannot read
    falls back to the stream decoder), else with the stream decoder by extension. */
DecodedAudio decodeWhole (std::unique_ptr<juce::AudioFormatReader> reader, const MediaLoadRequest& request,
                          LoadedMedia& media, CancelFlag cancel)
{
    DecodedAudio decoded;
    if (reader != nullptr)
    {
        const bool complete = decodeWithReader (*reader, request.path, cancel, decoded);
        media.format = normaliseFormatName (reader->getFormatName());
        if (complete)
            return decoded;
        reader.reset();
    }
    return decodeWithoutReader (request.path, cancel, media.format);
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

    const auto decoded = decodeWhole (std::move (reader), request, media, cancel);
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
                            workersFor (options, frames, decoded.sampleRate));
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

    if (options.beforeFinalCheck)
        options.beforeFinalCheck();
    if (readFileSignature (request.path) != request.signature)
        failLoad (mediatext::changedWhileLoading);
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
