#pragma once

#include "audio/output/AudioDiagnostics.h"
#include "audio/output/CallbackStatistics.h"
#include "audio/output/OutputDeviceSettings.h"
#include "session/StoreResult.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvane::audio
{
class MixEngine;
}

namespace vantrel
{
class MasterVstRack;

/** The adapter's output: the device with its type, opening, closing, loss, reopening, the device
    callbacks and the per-block render path through the engine, the rack bridge and the master
    stage. It also runs without a device, for the offline renderer. The engine and the rack are
    the adapter's; this session prepares them for its rate and block and renders them, and drains
    the engine's ring whenever it stopped a device.
    The operations run on the message thread (checked in debug builds) unless said otherwise; the
    block callback and renderBlock take the audio role; the start, stop and error notifications
    may arrive on the device's thread or inside the message thread's start and stop calls, and
    touch atomics only (and prepare the engine and rack before a start). */
class DeviceSession : public juce::AudioIODeviceCallback
{
public:
    using CreateDeviceType = std::function<std::unique_ptr<juce::AudioIODeviceType> (const juce::String&)>;
    using MillisecondCounter = std::function<std::uint32_t()>;

    /** `createDeviceType` and `millisecondCounter` are read at each use (the adapter's test seams);
        all four must outlive the session. */
    DeviceSession (orvane::audio::MixEngine& engine, MasterVstRack& rack, const CreateDeviceType& createDeviceType,
                   const MillisecondCounter& millisecondCounter);
    ~DeviceSession() override;   // closes the device

    DeviceSession (const DeviceSession&) = delete;
    DeviceSession& operator= (const DeviceSession&) = delete;

    // ---- opening and closing (message thread) --------------------------------------------------
    // A failure's text is the result's message; the held device is replaced only after a
    // successful open, and a device that does not start is closed again.

    /** Start-up open from the stored settings; `readCleanly` false keeps output off until the
        operator chooses one. */
    StoreResult openStored (const OutputDeviceSettings& settings, bool readCleanly);
    /** The operator's choice: closes the open device and opens this one. */
    StoreResult select (const OutputDeviceSettings& settings);
    /** Opens the stored choice; `resume` keeps the held rate. */
    StoreResult open (bool resume);
    /** Stops and deletes the device and a lost one still winding down. */
    void close();
    /** With the device closed: takes `settings` as the stored choice again, opening nothing. */
    void restoreSettings (const OutputDeviceSettings& settings, bool reopenAutomatically);

    // ---- the periodic service (message thread) ----------------------------------------------------

    /** An open whose device showed fewer active channels than asked for holds the device
        unstarted and succeeds; this finishes it once every channel is active (started), or
        fails it when they never are. None while still waiting, or when nothing waits. */
    std::optional<StoreResult> finishConnecting();
    /** While an open waits for its channels: what it waits for, to show; else empty. */
    juce::String waitingFor() const;
    /** Closes a lost, failed or stalled device and drains the engine's ring: the text to show,
        or none when nothing was lost. */
    std::optional<juce::String> handleDeviceLoss();
    /** Takes the open device's xrun count for the diagnostics. */
    void readDriverXruns();
    /** Whether a reopen attempt is due now (no device, reopening on, a stored id, a second since
        the last attempt); a due attempt counts as made. */
    bool reopenDue();

    // ---- running without a device (message thread) -----------------------------------------------

    /** The engine and rack prepared at `rate` and `blockSize`, the session counts as running and
        renderBlock renders; `name` is the output name shown. */
    void runWithoutDevice (double rate, int blockSize, const juce::String& name);
    /** Stops running without a device (or what a closed device left): running and callback
        ready cleared, the engine's ring drained. */
    void stopRunning();

    // ---- catalogue queries (message thread) -------------------------------------------------------

    struct Capabilities
    {
        juce::Array<double> sampleRates;
        juce::Array<int> bufferSizes;
        juce::StringArray outputChannelNames;
    };
    std::vector<OutputDeviceSettings> listDevices (const OutputDeviceSettings& settings) const;
    Capabilities capabilities (const OutputDeviceSettings& settings) const;
    bool showDriverControlPanel();

    // ---- state ------------------------------------------------------------------------------------

    /** Message thread. */
    bool hasDevice() const  { return device != nullptr; }
    const OutputDeviceSettings& storedSettings() const  { return outputSettings; }
    const juce::String& outputName() const  { return name; }
    bool reopensAutomatically() const  { return autoReopen; }
    /** Not running and no device: the message thread may drain the engine's ring itself. */
    bool isIdle() const  { return ! running.load() && device == nullptr; }
    /** The diagnostics of the device side; the last output error is the adapter's. */
    AudioDiagnosticsState diagnosticsState() const;

    /** Any thread: atomics written by the device callbacks. */
    bool isRunning() const  { return running.load(); }
    double sampleRate() const  { return currentRate.load(); }
    int bufferSamples() const  { return bufferSize.load(); }
    int driverLatencySamples() const  { return driverLatency.load(); }
    const CallbackStatistics& statistics() const  { return stats; }

    // ---- device callbacks and the render path -----------------------------------------------------

    void audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                           float* const* outputChannelData, int numOutputChannels,
                                           int numSamples, const juce::AudioIODeviceCallbackContext& context) override;
    void audioDeviceAboutToStart (juce::AudioIODevice* device) override;
    void audioDeviceStopped() override;
    void audioDeviceError (const juce::String& errorMessage) override;

    /** Audio thread, realtime-safe: one block through the engine, the rack bridge and the master
        stage while a start was accepted, else silence; counted in the statistics. */
    void renderBlock (float* const* channels, int numChannels, int numSamples) noexcept;

private:
    StoreResult openDevice (bool resume);
    /** Starts the held, open device with this session as its callback. */
    StoreResult startDevice();
    void stopAndDeleteDevice();
    /** Tells libjack's text handlers whether a JACK device is held (open or winding down). */
    void countJackOutput();
    void releaseLostDevice (bool force);
    bool callbackStalled();
    void stopRendering() noexcept;

    orvane::audio::MixEngine& engine;
    MasterVstRack& rack;
    const CreateDeviceType& createDeviceType;
    const MillisecondCounter& millisecondCounter;

    std::unique_ptr<juce::AudioIODeviceType> deviceType;
    std::unique_ptr<juce::AudioIODevice> device;
    OutputDeviceSettings outputSettings;
    juce::String name;

    CallbackStatistics stats;
    std::atomic<bool> running { false };
    std::atomic<bool> callbackReady { false };
    std::atomic<bool> rendering { false };   // a device thread is inside renderBlock
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
    // An open that waits for JACK to show its channels' connections (see finishConnecting).
    struct Connecting
    {
        juce::BigInteger outputs;
        double rate = 0.0;
        int buffer = 0;
        std::uint32_t sinceMs = 0, lastOpenMs = 0;
        int reopens = 0;
    };
    std::optional<Connecting> connecting;
    std::int64_t watchedCallbacks = -1;
    std::int64_t callbacksAtStart = 0;   // the callback count when the held device was started
    std::uint32_t watchedSinceMs = 0;
    int driverXruns = -1;
    bool jackOutputCounted = false;
    // The stored choice is a first start's fallback to ALSA's default after no JACK server
    // answered; cleared by a successful open and by any other choice.
    bool firstStartWithoutJack = false;
};
} // namespace vantrel
