#include "audio/output/MediaRegistry.h"

#include "audio/media/MediaTexts.h"
#include "platform/ThreadContract.h"
#include "session/CatalogValidation.h"

#include <algorithm>
#include <vector>

namespace vantrel
{
MediaRegistry::MediaRegistry (MediaLoader::LoadFunction load)
    : loader (load ? MediaLoader (std::move (load)) : MediaLoader())
{
}

void MediaRegistry::stopLoading()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    loader.stop();
}

bool MediaRegistry::hasPcmAtRate (const MediaEntry& entry, double rate)
{
    return entry.media != nullptr && entry.media->pcm != nullptr && entry.media->pcm->sampleRate == rate;
}

bool MediaRegistry::mayRetryFailedLoad (const MediaEntry& entry) const
{
    // A failure that says the file changed stays until the media is registered anew; any other
    // failure (a read error, a busy disk) is tried again while the file is what was registered.
    const auto& error = entry.media->error;
    for (const char* changed : { mediatext::fileMissing, mediatext::changedSinceRegistration, mediatext::changedWhileLoading })
        if (error == juce::String::fromUTF8 (changed))
            return false;
    const juce::File file (entry.audioPath);
    return file.existsAsFile() && readFileSignature (file) == entry.signature;
}

void MediaRegistry::enqueueLoad (MediaEntry& entry, double rate)
{
    MediaLoadRequest request;
    request.key = entry.key;
    request.path = juce::File (entry.audioPath);
    request.waveformCachePath = entry.waveformCachePath.isEmpty() ? juce::File() : juce::File (entry.waveformCachePath);
    request.signature = entry.signature;
    request.rate = rate;
    request.serial = mediaSerial + 1;
    loader.enqueue (std::move (request));
    entry.requestRate = rate;
    entry.serial = ++mediaSerial;
    entry.pending = true;
}

bool MediaRegistry::registerMedia (const std::string& key, const juce::String& audioPath, const FileSignature& signature,
                                   float gainDb, const juce::String& waveformCachePath, const EqSettings& eq, double rate)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    ++registrationCount;
    auto found = media.find (key);
    if (found == media.end())
        found = media.emplace (key, MediaEntry {}).first;
    auto& entry = found->second;
    if (entry.audioPath != audioPath || entry.signature != signature)
    {
        entry.key = key;
        entry.audioPath = audioPath;
        entry.waveformCachePath = waveformCachePath;
        entry.signature = signature;
        entry.requestRate = rate;
        entry.serial = ++mediaSerial;
        entry.media.reset();
        entry.pending = false;
    }
    entry.gainDb = clampGainDb (gainDb);
    if (entry.eq == eq)
        return false;
    entry.eq = eq;
    return true;
}

void MediaRegistry::requestPrepare (const std::string& key, bool urgent, double rate)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto found = media.find (key);
    if (found == media.end())
        return;
    auto& entry = found->second;
    entry.lastUse = ++useCounter;
    const bool failed = entry.media != nullptr && entry.media->failed();
    const bool blockedByFailure = failed && ! mayRetryFailedLoad (entry);
    const bool needsRequest = ! entry.pending || entry.requestRate != rate;
    if (needsRequest && ! blockedByFailure && ! hasPcmAtRate (entry, rate))
        enqueueLoad (entry, rate);
    if (urgent)
        loader.prioritize (key);
}

MediaRegistry::Start MediaRegistry::prepareStart (const std::string& key, double rate)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    Start start;
    const auto found = media.find (key);
    if (found == media.end())
        return start;
    auto& entry = found->second;
    entry.lastUse = ++useCounter;

    if (entry.pending && entry.requestRate == rate)
        loader.prioritize (key);
    else if (entry.media == nullptr || (! entry.media->failed() && ! hasPcmAtRate (entry, rate)))
    {
        enqueueLoad (entry, rate);
        loader.prioritize (key);
    }

    if (! hasPcmAtRate (entry, rate))
    {
        const bool failed = entry.media != nullptr && entry.media->failed();
        start.readiness = failed ? Start::Readiness::loadFailed : Start::Readiness::preparing;
        if (failed)
            start.loadError = entry.media->error;
        return start;
    }

    const juce::File file (entry.audioPath);
    if (! file.existsAsFile() || readFileSignature (file) != entry.signature)
    {
        start.readiness = Start::Readiness::fileChanged;
        return start;
    }
    start.readiness = Start::Readiness::ready;
    start.media = entry.media;
    start.gainDb = entry.gainDb;
    start.eq = entry.eq;
    return start;
}

bool MediaRegistry::storeGain (const std::string& key, float clampedGainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto found = media.find (key);
    if (found == media.end())
        return true;
    if (found->second.gainDb == clampedGainDb)
        return false;
    found->second.gainDb = clampedGainDb;
    return true;
}

void MediaRegistry::storeEq (const std::string& key, const EqSettings& eq)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto found = media.find (key);
    if (found != media.end() && found->second.eq != eq)
        found->second.eq = eq;
}

std::optional<MediaRegistry::HeldMix> MediaRegistry::heldMix (const std::string& key) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto found = media.find (key);
    if (found == media.end())
        return std::nullopt;
    return HeldMix { found->second.gainDb, found->second.eq };
}

std::shared_ptr<LoadedMedia> MediaRegistry::loadedMedia (const std::string& key) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto found = media.find (key);
    return found == media.end() ? nullptr : found->second.media;
}

void MediaRegistry::adoptLoadResults()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    for (auto& result : loader.takeResults())
    {
        const auto found = media.find (result.request.key);
        if (found == media.end() || found->second.serial != result.request.serial)
            continue;
        found->second.media = std::move (result.media);
        found->second.pending = false;
        cacheMayExceed = true;
    }
}

void MediaRegistry::setCacheLimit (std::uint64_t bytes)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    cacheLimit = bytes;
    cacheMayExceed = true;
}

void MediaRegistry::trimCache (const InUse& inUse)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // The kept PCM grows only when a load result is adopted (or the limit changes): until then a
    // catalog of thousands of entries is not walked on every tick.
    if (! cacheMayExceed)
        return;
    std::uint64_t total = 0;
    std::vector<MediaEntry*> holding;
    for (auto& [key, entry] : media)
        if (entry.media != nullptr && entry.media->pcm != nullptr)
        {
            total += entry.media->pcm->byteSize();
            holding.push_back (&entry);
        }
    if (total <= cacheLimit)
    {
        cacheMayExceed = false;
        return;
    }
    std::sort (holding.begin(), holding.end(), [] (const MediaEntry* a, const MediaEntry* b) { return a->lastUse < b->lastUse; });
    for (auto* entry : holding)
    {
        if (total <= cacheLimit)
            break;
        if (inUse (entry->media))
            continue;
        total -= entry->media->pcm->byteSize();
        entry->media->pcm.reset();
    }
    // What the voices still hold could not go: try again at the next tick.
    cacheMayExceed = total > cacheLimit;
}
} // namespace vantrel
