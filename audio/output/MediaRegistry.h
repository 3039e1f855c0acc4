#pragma once

#include "audio/media/MediaLoader.h"
#include "session/EqSettings.h"
#include "session/FileSignature.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vantrel
{
/** The adapter's registry of playable media: one entry per key with its file, the gain and TRACK
    EQ a voice starting it gets, and the PCM the loader prepared for it, which the registry asks
    for, adopts and trims. It owns the media loader. It knows nothing of voices: what a voice
    still plays is the adapter's, which says so when the cache is trimmed.
    Message thread only (checked in debug builds). */
class MediaRegistry
{
public:
    /** Starts the loader thread with `load` (none: the real loader). */
    explicit MediaRegistry (MediaLoader::LoadFunction load);

    MediaRegistry (const MediaRegistry&) = delete;
    MediaRegistry& operator= (const MediaRegistry&) = delete;

    /** Stops the loader; nothing is loaded afterwards. */
    void stopLoading();

    /** Inserts or updates the entry of `key`; nothing is loaded here. A new file or signature
        drops the entry's PCM. Returns whether the TRACK EQ changed (a voice playing the key must
        take it). */
    bool registerMedia (const std::string& key, const juce::String& audioPath, const FileSignature& signature,
                        float gainDb, const juce::String& waveformCachePath, const EqSettings& eq, double rate);

    /** Asks the loader for the media at `rate` unless it is asked already, prepared at that rate,
        or failed for a reason a retry cannot mend; `urgent` moves it to the front. */
    void requestPrepare (const std::string& key, bool urgent, double rate);

    /** What a start of `key` at `rate` may play. Counts as a use, and asks the loader for the
        media (at the front) unless it is on its way or failed. */
    struct Start
    {
        enum class Readiness { notRegistered, preparing, loadFailed, fileChanged, ready };
        Readiness readiness = Readiness::notRegistered;
        juce::String loadError;                 // loadFailed: the media's own text
        std::shared_ptr<LoadedMedia> media;     // ready: holds PCM at the rate
        float gainDb = 0.0f;
        EqSettings eq;
    };
    Start prepareStart (const std::string& key, double rate);

    /** Stores a registered media's gain (already clamped). False when it held that gain already;
        an unknown key gives true (voices playing it still take the gain). */
    bool storeGain (const std::string& key, float clampedGainDb);
    /** Stores a registered media's TRACK EQ; an unknown key is ignored. */
    void storeEq (const std::string& key, const EqSettings& eq);

    /** The gain and EQ a voice starting `key` gets; none for a key never registered. */
    struct HeldMix
    {
        float gainDb = 0.0f;
        EqSettings eq;
    };
    std::optional<HeldMix> heldMix (const std::string& key) const;
    /** The entry's media; empty when the key is unknown or nothing was adopted. */
    std::shared_ptr<LoadedMedia> loadedMedia (const std::string& key) const;
    /** registerMedia calls since construction. */
    std::uint64_t registrations() const  { return registrationCount; }

    /** Takes the loader's finished results; a result of a superseded request is dropped. */
    void adoptLoadResults();

    /** The byte limit of the PCM the entries keep. */
    void setCacheLimit (std::uint64_t bytes);
    /** Drops the least recently used PCM until the kept PCM is within the limit, never one that
        `inUse` says a voice may still read. */
    using InUse = std::function<bool (const std::shared_ptr<LoadedMedia>&)>;
    void trimCache (const InUse& inUse);

private:
    struct MediaEntry
    {
        std::string key;
        juce::String audioPath;
        juce::String waveformCachePath;
        FileSignature signature;
        double requestRate = 48000.0;
        std::int64_t serial = 0;
        std::shared_ptr<LoadedMedia> media;
        float gainDb = 0.0f;
        EqSettings eq;
        bool pending = false;
        std::int64_t lastUse = 0;
    };

    void enqueueLoad (MediaEntry& entry, double rate);
    bool mayRetryFailedLoad (const MediaEntry& entry) const;
    static bool hasPcmAtRate (const MediaEntry& entry, double rate);

    MediaLoader loader;
    std::map<std::string, MediaEntry> media;
    std::uint64_t cacheLimit = 0x30000000;
    bool cacheMayExceed = false;   // a PCM was adopted or the limit changed since the cache was within it
    std::int64_t mediaSerial = 0;
    std::int64_t useCounter = 0;
    std::uint64_t registrationCount = 0;
};
} // namespace vantrel
