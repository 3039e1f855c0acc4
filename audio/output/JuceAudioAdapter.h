#pragma once

#include "audio/output/AudioDiagnostics.h"
#include "audio/output/DiagnosticsWriter.h"
#include "audio/output/CallbackStatistics.h"
#include "audio/output/DeviceCatalogue.h"
#include "audio/output/DeviceSession.h"
#include "audio/output/MediaRegistry.h"
#include "audio/output/OfflineRenderer.h"
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
    controllers, the adapter's picture of the 47 engine voices (0 OUTGOING, 1 MAIN, 2..46 pads)
    and the keeper of every PCM the engine may still read. It owns the engine and the master
    rack, and is composed of the media registry (MediaRegistry), the output device
    (DeviceSession) and the offline renderer (OfflineRenderer), whose operations it passes on.
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
    juce::String lastError() const;
    /** The name of the device opened last (message thread). */
    juce::String openOutputName() const;

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
    using Pacing = OfflineRenderer::Pacing;
    void startOfflineRenderer (double sampleRate, Pacing pacing = Pacing::realTime);
    void stopOffline();
    bool isOffline() const  { return offlineRenderer.isRunning(); }

    /** Test hook, message thread: renders `frames` frames offline (in blocks of at most 512)
        into `left`/`right` when given, else into scratch buffers, taking the audio role for the
        blocks as the renderer thread does. Only while offline with manual pacing. */
    void renderOfflineFrames (int frames, float* left = nullptr, float* right = nullptr);

    // ---- the output device (message thread) ------------------------------------------------------

    using DeviceCapabilities = DeviceSession::Capabilities;

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
    bool hasDevice() const;
    /** An open succeeded with its device held unstarted until JACK shows every channel's
        connection; the tick finishes it (lastError says what it waits for meanwhile). */
    bool isConnectingOutput() const;
    const OutputDeviceSettings& storedOutputSettings() const;
    /** Message thread only, with the device closed: takes `settings` as the stored choice again
        without opening anything (a choice that could not be applied is forgotten). The tick
        reopens it by itself only when `reopenAutomatically` is set and it carries an id. */
    void restoreSettings (const OutputDeviceSettings& settings, bool reopenAutomatically);
    /** Message thread only: whether the tick reopens the stored choice by itself (off after a
        start from unreadable settings, until the operator chooses an output). */
    bool reopensAutomatically() const;

    /** Test seam: makes the device type of an output kind (the catalogue's types by default). */
    std::function<std::unique_ptr<juce::AudioIODeviceType> (const juce::String&)> createDeviceType = createOutputType;

    /** Test seam for the reopen timer and the stalled-callback watchdog: milliseconds of a
        32-bit counter (juce::Time::getMillisecondCounter by default). */
    std::function<std::uint32_t()> millisecondCounter = [] { return juce::Time::getMillisecondCounter(); };

    // ---- device callbacks (device thread) -------------------------------------------------------
    // Passed on to the device session, which the device calls itself. The block callback takes
    // the audio role for its block, never blocks, locks or allocates. The start, stop and error
    // notifications may also arrive inside the message thread's start and stop calls; they touch
    // atomics only (and prepare the engine and rack before a start).
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
    std::size_t retiredCount() const;

    /** Message thread: the gain and EQ held for a registered media (what a voice starting it gets);
        none for a key never registered. */
    using HeldMix = MediaRegistry::HeldMix;
    std::optional<HeldMix> heldMix (const std::string& key) const;
    /** Message thread: registerMedia calls since construction (a caller's re-registration shows here). */
    std::uint64_t mediaRegistrations() const;

    /** The analyser thread (the one reader): the oldest 2048-frame block the audio thread tapped
        from the source that eqTargetPlayToken chose; false when none waits. */
    bool popAnalyzerFrame (orvane::audio::AnalyzerFrame& frame);

    /** Any thread: atomic counters and values written by the device callbacks. */
    const CallbackStatistics& statistics() const  { return session.statistics(); }
    double sampleRate() const  { return session.sampleRate(); }
    int bufferSamples() const  { return session.bufferSamples(); }
    int driverLatencySamples() const  { return session.driverLatencySamples(); }
    bool isRunning() const  { return session.isRunning(); }

private:
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
    bool refuseStart (const juce::String& text);
    std::uint64_t bytesInPlay (const std::shared_ptr<LoadedMedia>& candidate) const;
    void retire (std::shared_ptr<LoadedMedia>& media) noexcept;
    bool deviceIdle() const  { return session.isIdle(); }
    StoreResult noteOpenResult (StoreResult result);
    void pushBusEqs();
    void retryVoiceGainsAndEqs();
    void dropAppliedRetired();
    void startRack();

    orvane::audio::MixEngine engine;
    std::unique_ptr<MasterVstRack> masterRack;
    juce::File rackConfigFile;
    juce::File rackWorkerExecutable;
    MediaRegistry registry;
    DeviceSession session;
    OfflineRenderer offlineRenderer;   // after the session, which it renders
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
    std::uint64_t playingLimit = PcmLimits {}.playing;

    DiagnosticsWriter diagnostics;
    juce::String lastErrorText;
    std::int64_t padTokenCounter = 0;
};
} // namespace vantrel
