#pragma once

#include "audio/output/DiagnosticsWriter.h"
#include "audio/output/CallbackStatistics.h"
#include "audio/output/DeviceCatalogue.h"
#include "audio/rack/MasterVstRack.h"
#include "audio/media/MediaLoader.h"
#include "audio/engine/MixEngine.h"
#include "audio/output/OutputDeviceSettings.h"
#include "session/StoreResult.h"
#include "session/AudioCommand.h"
#include "session/EqSettings.h"
#include "session/FileSignature.h"
#include "session/PadAudioCommand.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vantrel
{
/** The media key of a pad: "pad-<bank>-<pad>". */
std::string padMediaKey (int bank, int pad);

/** The one object between the session and the sound: the sink of the transport and pad
    controllers, the registry of playable media, the adapter's picture of the 47 engine voices
    (0 OUTGOING, 1 MAIN, 2..46 pads) and the keeper of every PCM the engine may still read.
    Every operation but the device callbacks runs on the message thread. */
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
    /** Test seam: the loader's load function and the rack's clock. */
    JuceAudioAdapter (MediaLoader::LoadFunction load, MasterVstRack::Clock rackClock);
    ~JuceAudioAdapter() override;

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

    /** Periodic service; true when a device loss was handled in this call. */
    bool tick();
    void trimPcmCache();

    /** The "audio-diagnostics.json" document: device, callback and rack statistics. */
    juce::var diagnosticsJson() const;

    // ---- offline output (no device): a renderer consumes the command ring ---------------------

    /** Runs without a device: the engine is prepared at `sampleRate`, the adapter counts as
        running and a renderer thread paces the engine at real time with silent buffers (unless
        `pacing` is off, for tests that render with renderOfflineFrames). */
    enum class Pacing { realTime, manual };
    void startOfflineRenderer (double sampleRate, Pacing pacing = Pacing::realTime);
    void stopOffline();
    bool isOffline() const  { return offline.load(); }

    /** Test hook: renders `frames` frames offline (in blocks of at most 512) into `left`/`right`
        when given, else into scratch buffers. Only while offline with manual pacing. */
    void renderOfflineFrames (int frames, float* left = nullptr, float* right = nullptr);

    // ---- the output device (message thread) ------------------------------------------------------

    struct DeviceCapabilities
    {
        juce::Array<double> sampleRates;
        juce::Array<int> bufferSizes;
        juce::StringArray outputChannelNames;
    };

    /** Start-up open from the stored settings; `readCleanly` false keeps output off until the
        operator chooses one. */
    StoreResult openOutput (const OutputDeviceSettings& settings, bool readCleanly);
    StoreResult selectOutput (const OutputDeviceSettings& settings);
    StoreResult openDevice (bool resume);
    void closeDevice();
    std::vector<OutputDeviceSettings> listOutputDevices (const OutputDeviceSettings& settings) const;
    DeviceCapabilities deviceCapabilities (const OutputDeviceSettings& settings) const;
    bool showDriverControlPanel();
    bool hasDevice() const  { return device != nullptr; }
    const OutputDeviceSettings& storedOutputSettings() const  { return outputSettings; }

    /** Test seam: makes the device type of an output kind (the catalogue's types by default). */
    std::function<std::unique_ptr<juce::AudioIODeviceType> (const juce::String&)> createDeviceType = createOutputType;

    /** Test seam for the reopen timer and the stalled-callback watchdog: milliseconds of a
        32-bit counter (juce::Time::getMillisecondCounter by default). */
    std::function<std::uint32_t()> millisecondCounter = [] { return juce::Time::getMillisecondCounter(); };

    // ---- device callbacks (device thread) -------------------------------------------------------
    void audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                           float* const* outputChannelData, int numOutputChannels,
                                           int numSamples, const juce::AudioIODeviceCallbackContext& context) override;
    void audioDeviceAboutToStart (juce::AudioIODevice* device) override;
    void audioDeviceStopped() override;
    void audioDeviceError (const juce::String& errorMessage) override;

    // ---- written by the session coordinator -------------------------------------------------------
    juce::File diagnosticsPath;
    bool autoCue = true;

    /** Fixed in the program; tests lower them. */
    PcmLimits pcmLimits;

    orvane::audio::MixEngine& mixEngine()  { return engine; }
    const CallbackStatistics& statistics() const  { return stats; }
    double sampleRate() const  { return currentRate; }
    bool isRunning() const  { return running.load(); }
    std::size_t retiredCount() const  { return retired.size(); }

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

    orvane::audio::MixEngine engine;
    std::unique_ptr<MasterVstRack> rack;
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
};
} // namespace vantrel
