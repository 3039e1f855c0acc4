#pragma once

#include "audio/output/AudioDiagnostics.h"
#include "audio/output/DiagnosticsWriter.h"
#include "audio/output/CallbackStatistics.h"
#include "audio/output/DeviceCatalogue.h"
#include "audio/rack/RackControl.h"
#include "audio/rack/VstRackRecords.h"
#include "audio/media/MediaLoader.h"
#include "audio/engine/MixEngine.h"
#include "audio/output/OutputDeviceSettings.h"
#include "platform/ThreadContract.h"
#include "session/StoreResult.h"
#include "session/transport/AudioCommand.h"
#include "session/EqSettings.h"
#include "session/FileSignature.h"
#include "session/transport/PadAudioCommand.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel
{
class MasterVstRack;

/** The media key of a pad: "pad-<bank>-<pad>". */
std::string padMediaKey (int bank, int pad);

/** The one object between the session and the sound: the sink of the transport and pad
    controllers, the registry of playable media, the adapter's picture of the 47 engine voices
    (0 OUTGOING, 1 MAIN, 2..46 pads) and the keeper of every PCM the engine may still read.
    Every operation but the device callbacks runs on the message thread (checked in debug
    builds); the device callback and the offline renderer take the audio role for each block. */
class JuceAudioAdapter : public orvane::audio::IAudioCommandSink,
                         public orvane::audio::IPadAudioCommandSink,
                         public juce::AudioIODeviceCallback
{
public:
    static constexpr int numVoices = 47;

    /** Limits on prepared PCM, in bytes (two float channels per frame). */
    struct PcmLimits
    {
        std::uint64_t playing = 0x60000000;   // held by the voices, the retired list and a new start
        std::uint64_t cache = 0x30000000;     // prepared PCM kept by the registered media
    };

    JuceAudioAdapter();
    /** Test seam: the loader's load function (none: the real loader), the rack's clock (none: a
        steady clock) and the rack's options, so that a test's rack scans its own folders only
        and gives its workers the deadlines of a busy machine. */
    JuceAudioAdapter (MediaLoader::LoadFunction load, RackClock rackClock, MasterVstRackOptions rackOptions);
    ~JuceAudioAdapter() override;   // closes the device, then stops the loader and the rack

    JuceAudioAdapter (const JuceAudioAdapter&) = delete;
    JuceAudioAdapter& operator= (const JuceAudioAdapter&) = delete;

    orvane::audio::SinkAnswer submit (const orvane::audio::AudioCommand& command) override;
    orvane::audio::SinkAnswer submit (const orvane::audio::PadAudioCommand& command) override;

    bool startMedia (const std::string& key, orvane::audio::EngineCommandKind engineKind, int voice, std::int64_t playToken);
    void registerMedia (const std::string& key, const juce::String& audioPath, const FileSignature& signature,
                        float gainDb, const juce::String& waveformCachePath, const EqSettings& eq);
    void requestPrepare (const std::string& key, bool urgent);
    void setMediaGain (const std::string& key, float gainDb);
    void setMediaEq (const std::string& key, const EqSettings& eq);
    void setPlaylistEq (const EqSettings& eq, float gainDb);
    void setMasterEq (const EqSettings& eq);
    void releasePad (int bank, int pad);

    std::shared_ptr<LoadedMedia> loadedMedia (const std::string& key) const;
    std::shared_ptr<LoadedMedia> voiceMedia (int voice) const;
    std::int64_t voiceToken (int voice) const;
    orvane::audio::VoiceStatus voiceStatus (int voice);
    std::int64_t eqTargetPlayToken (const std::string& target);
    juce::String lastError() const  { return lastErrorText; }
    /** The name of the device opened last (message thread). */
    juce::String openOutputName() const  { return outputName; }

    /** Periodic service; true when a device loss was handled in this call. */
    bool tick();
    void trimPcmCache();

    /** The "audio-diagnostics.json" document: device, callback and rack statistics. */
    juce::var diagnosticsJson() const;
    /** What that document reports, copied now. Message thread. */
    AudioDiagnosticsSnapshot diagnosticsSnapshot() const;

    // ---- offline output (no device): a renderer consumes the command ring ---------------------

    /** Runs without a device: the engine is prepared at `sampleRate`, the adapter counts as
        running and a renderer thread paces the engine at real time with silent buffers (unless
        `pacing` is off, for tests that render with renderOfflineFrames). */
    enum class Pacing { realTime, manual };
    void startOfflineRenderer (double sampleRate, Pacing pacing = Pacing::realTime);
    void stopOffline();
    bool isOffline() const  { return offline.load(); }

    /** Test hook, message thread: renders `frames` frames offline (in blocks of at most 512)
        into `left`/`right` when given, else into scratch buffers, taking the audio role for the
        blocks as the renderer thread does. Only while offline with manual pacing. */
    void renderOfflineFrames (int frames, float* left = nullptr, float* right = nullptr);

    // ---- the output device (message thread) ------------------------------------------------------

    struct DeviceCapabilities
    {
        juce::Array<double> sampleRates;
        juce::Array<int> bufferSizes;
        juce::StringArray outputChannelNames;
    };

    /** Start-up open from the stored settings; `readCleanly` false keeps output off until the
        operator chooses one. Then, whether the device opened or not, the rack starts with the
        files given to setRackFiles (once; see there). */
    StoreResult openOutput (const OutputDeviceSettings& settings, bool readCleanly);
    StoreResult selectOutput (const OutputDeviceSettings& settings);
    StoreResult openDevice (bool resume);
    void closeDevice();
    std::vector<OutputDeviceSettings> listOutputDevices (const OutputDeviceSettings& settings) const;
    DeviceCapabilities deviceCapabilities (const OutputDeviceSettings& settings) const;
    bool showDriverControlPanel();
    bool hasDevice() const  { return device != nullptr; }
    const OutputDeviceSettings& storedOutputSettings() const  { return outputSettings; }
    /** Message thread only, with the device closed: takes `settings` as the stored choice again
        without opening anything (a choice that could not be applied is forgotten). The tick
        reopens it by itself only when `reopenAutomatically` is set and it carries an id. */
    void restoreSettings (const OutputDeviceSettings& settings, bool reopenAutomatically);
    /** Message thread only: whether the tick reopens the stored choice by itself (off after a
        start from unreadable settings, until the operator chooses an output). */
    bool reopensAutomatically() const  { return autoReopen; }

    /** Test seam: makes the device type of an output kind (the catalogue's types by default). */
    std::function<std::unique_ptr<juce::AudioIODeviceType> (const juce::String&)> createDeviceType = createOutputType;

    /** Test seam for the reopen timer and the stalled-callback watchdog: milliseconds of a
        32-bit counter (juce::Time::getMillisecondCounter by default). */
    std::function<std::uint32_t()> millisecondCounter = [] { return juce::Time::getMillisecondCounter(); };

    // ---- device callbacks (device thread) -------------------------------------------------------
    // The block callback takes the audio role for its block, never blocks, locks or allocates.
    // The start, stop and error notifications may also arrive inside the message thread's start
    // and stop calls; they touch atomics only (and prepare the engine and rack before a start).
    void audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                           float* const* outputChannelData, int numOutputChannels,
                                           int numSamples, const juce::AudioIODeviceCallbackContext& context) override;
    void audioDeviceAboutToStart (juce::AudioIODevice* device) override;
    void audioDeviceStopped() override;
    void audioDeviceError (const juce::String& errorMessage) override;

    // ---- the master VST rack (message thread) ---------------------------------------------------

    /** Message thread only. The settings file ("master-vst.json") and the worker program (empty:
        "OrvaneVstHost" beside this program) the rack starts with; given before openOutput, which
        starts the rack. Without a settings file the rack is never started. */
    void setRackFiles (const juce::File& configFile, const juce::File& workerExecutable);

    /** Message thread only. The rack as the layers above use it: status, slot choices, editors,
        search folders, saving. */
    RackControl& rack();
    const RackControl& rack() const;

    // ---- master bus and engine settings (message thread) ------------------------------------------
    // Each setter is a relaxed atomic store into the engine's master stage or pad bus, which the
    // audio thread reads once per block: realtime-safe, and safe while the device runs. The
    // getters return the stored (clamped) values, relaxed atomic loads that any thread may make;
    // the meters are written by the audio thread at the end of each block.

    void setMasterGainDb (float dB);               // -60..+12; a non-finite value gives -60
    void setLimiterEnabled (bool enabled);         // LIMITER; switching glides over 20 ms
    void setLimiterThresholdDb (float dB);         // -30..0; a non-finite value gives -30
    void setLimiterCeilingDb (float dB);           // -12..0; a non-finite value gives -12
    void setLimiterReleaseMs (float ms);           // 10..2000; a non-finite value gives 120
    void setLimiterDriveDb (float dB);             // 0..24; a non-finite value gives 0
    void setPadBusGainDb (float dB);               // -60..+12; a non-finite value is ignored
    void setPadMute (bool muted);                  // PAD MUTE

    float masterGainDb() const;
    bool isLimiterEnabled() const;
    float limiterThresholdDb() const;
    float limiterCeilingDb() const;
    float limiterReleaseMs() const;
    float limiterDriveDb() const;
    float padBusGainDb() const;
    bool isPadMuted() const;
    orvane::audio::MasterOutputMeters masterMeters() const;

    // ---- settings of the session coordinator (message thread) ------------------------------------

    /** Where tick writes "audio-diagnostics.json"; empty: nowhere. */
    void setDiagnosticsPath (const juce::File& file);

    /** AUTO CUE: track voices start at the media's cue frame. On at construction. */
    void setAutoCue (bool enabled);
    bool autoCue() const;

    /** Fixed in the program; a test seam that lowers them. */
    void setPcmLimits (const PcmLimits& limits);

    // ---- read-only queries ------------------------------------------------------------------------

    /** Message thread: engine commands pushed and not yet applied (exact there), and the PCM kept
        alive for the engine after it left a voice slot. */
    int queuedEngineCommands() const;
    std::size_t retiredCount() const  { return retired.size(); }

    /** Message thread: the gain and EQ held for a registered media (what a voice starting it gets);
        none for a key never registered. */
    struct HeldMix
    {
        float gainDb = 0.0f;
        EqSettings eq;
    };
    std::optional<HeldMix> heldMix (const std::string& key) const;
    /** Message thread: registerMedia calls since construction (a caller's re-registration shows here). */
    std::uint64_t mediaRegistrations() const  { return registrationCount; }

    /** The analyser thread (the one reader): the oldest 2048-frame block the audio thread tapped
        from the source that eqTargetPlayToken chose; false when none waits. */
    bool popAnalyzerFrame (orvane::audio::AnalyzerFrame& frame);

    /** Any thread: atomic counters and values written by the device callbacks. */
    const CallbackStatistics& statistics() const  { return stats; }
    double sampleRate() const  { return currentRate; }
    int bufferSamples() const  { return bufferSize; }
    int driverLatencySamples() const  { return driverLatency; }
    bool isRunning() const  { return running.load(); }

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

    struct VoiceSlot
    {
        std::string key;
        std::shared_ptr<LoadedMedia> media;
        std::int64_t playToken = 0;
    };

    struct RetiredPcm
    {
        std::shared_ptr<LoadedMedia> media;
        std::uint64_t serial = 0;
    };

    bool pushCommand (orvane::audio::EngineCommand command);
    bool pushAndDrainWhenIdle (orvane::audio::EngineCommand command);
    bool refuseStart (const char* text);
    void enqueueLoad (MediaEntry& entry);
    bool mayRetryFailedLoad (const MediaEntry& entry) const;
    bool hasPcmAtRate (const MediaEntry& entry) const;
    std::uint64_t bytesInPlay (const MediaEntry& candidate) const;
    void retire (std::shared_ptr<LoadedMedia>& media) noexcept;
    bool deviceIdle() const  { return ! running.load() && device == nullptr; }
    void adoptLoadResults();
    void pushBusEqs();
    void retryVoiceGainsAndEqs();
    void dropAppliedRetired();
    void renderBlock (float* const* channels, int numChannels, int numSamples) noexcept;
    void stopRendering() noexcept;
    void offlineLoop();
    void stopAndDeleteDevice();
    bool handleDeviceLoss();
    void releaseLostDevice (bool force);
    bool callbackStalled();
    StoreResult failOpen (const juce::String& text);
    StoreResult openStoredOutput (const OutputDeviceSettings& settings, bool readCleanly);

    void startRack();

    orvane::audio::MixEngine engine;
    std::unique_ptr<MasterVstRack> masterRack;
    juce::File rackConfigFile;
    juce::File rackWorkerExecutable;
    MediaLoader loader;
    std::unique_ptr<juce::AudioIODeviceType> deviceType;
    std::unique_ptr<juce::AudioIODevice> device;
    std::map<std::string, MediaEntry> media;
    std::array<VoiceSlot, numVoices> slots;
    std::array<orvane::audio::VoiceStatus, numVoices> statusCache {};
    std::array<bool, numVoices> gainRetry {};
    std::array<bool, 2> trackEqRetry {};
    EqSettings playlistEq;
    EqSettings masterEq;
    float playlistGainDb = 0.0f;
    bool playlistEqDirty = true;
    bool masterEqDirty = true;
    double eqRate = 0.0;
    std::vector<RetiredPcm> retired;
    juce::File diagnosticsFile;
    bool autoCueEnabled = true;
    PcmLimits limits;
    bool pcmCacheMayExceed = false;   // a PCM was adopted or the limit changed since the cache was within it

    CallbackStatistics stats;
    DiagnosticsWriter diagnostics;
    std::atomic<bool> running { false };
    std::atomic<bool> callbackReady { false };
    std::atomic<bool> rendering { false };   // a device thread is inside renderBlock
    std::atomic<bool> offline { false };
    std::atomic<bool> offlineQuit { false };
    std::thread offlineThread;
    std::vector<float> offlineLeft, offlineRight;

    OutputDeviceSettings outputSettings;
    juce::String outputName;
    juce::String lastErrorText;
    std::atomic<double> currentRate { 48000.0 };
    std::atomic<int> bufferSize { 0 };
    std::atomic<int> driverLatency { 0 };
    std::atomic<bool> deviceLost { false };
    std::atomic<bool> retiringDevice { false };   // a lost device is still winding down: its stops are not news
    std::unique_ptr<juce::AudioIODeviceType> lostDeviceType;   // declared before lostDevice: outlives it
    std::unique_ptr<juce::AudioIODevice> lostDevice;
    std::uint32_t lostDeviceSinceMs = 0;
    std::atomic<bool> changingDevice { false };
    std::atomic<bool> rateChangePending { false };
    // Set when a lost device is given up: a device that runs again sounds nothing until a voice
    // of the engine sounds (the operator resumed or started something). Cleared by the callback.
    std::atomic<bool> silentUntilSounding { false };
    std::atomic<bool> priorityPromoted { true };   // cleared when an ALSA device starts
    bool autoReopen = true;
    int rackBlockSize = 0;
    std::uint32_t lastReopenAttemptMs = 0;
    std::int64_t watchedCallbacks = -1;
    std::uint32_t watchedSinceMs = 0;
    int driverXruns = -1;
    std::int64_t mediaSerial = 0;
    std::int64_t useCounter = 0;
    std::int64_t padTokenCounter = 0;
    std::uint64_t registrationCount = 0;
};
} // namespace vantrel
