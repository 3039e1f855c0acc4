#include "audio/media/MediaLoad.h"

#include "audio/media/MediaDecoding.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/PreparePcm.h"
#include "audio/media/ProcessorTopology.h"
#include "audio/media/StreamedLoad.h"

#include "platform/ThreadContract.h"

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

    loadThroughStreamDecoder (request, media, cancel, options.workers > 0 ? std::min (options.workers, 2) : 0,
                              options.resamplePath);
    finalCheck (request, options);
}
} // namespace

std::shared_ptr<LoadedMedia> loadMedia (const MediaLoadRequest& request, CancelFlag cancel)
{
    return loadMedia (request, cancel, MediaLoadOptions {});
}

std::shared_ptr<LoadedMedia> loadMedia (const MediaLoadRequest& request, CancelFlag cancel, const MediaLoadOptions& options)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
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
