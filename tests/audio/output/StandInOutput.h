#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>

namespace vantrel::test
{
/** What a stand-in output device offers and how it behaves. */
struct StandInSpec
{
    juce::Array<double> rates { 48000.0 };
    juce::Array<int> bufferSizes { 512 };
    int defaultBufferSize = 512;
    juce::StringArray channels { "Out 1", "Out 2" };
    juce::String errorText;                // reported by getLastError from creation on
    int reportedBufferSize = -1;           // the buffer size the started device reports; -1: the opened one
    bool controlPanel = false;
    bool controlPanelShows = true;
    int xruns = -1;
};

/** The shared record of one stand-in device, kept by the test after the adapter deleted the device. */
struct StandInRecord
{
    std::atomic<int> created { 0 };
    std::atomic<int> destroyed { 0 };
    std::atomic<int> opened { 0 };
    std::atomic<int> panelsShown { 0 };
    std::atomic<double> openedRate { 0.0 };
    std::atomic<int> openedBuffer { 0 };
    std::atomic<int> openedChannels { 0 };     // bit mask of the output channels opened
    std::atomic<bool> stall { false };         // the device thread stops calling back, quietly
    std::atomic<int> stalls { 0 };             // device threads that ended because of `stall`
    std::atomic<bool> fail { false };          // the device thread reports an error and stops
    std::atomic<int> partialOpens { 0 };       // opens still to come that activate only the first channel asked for
    std::atomic<bool> connectionsShown { false };   // the server now shows every channel opened (as JUCE learns from JACK)
};

/** An output device whose thread calls back at the real pace of its buffer, like a driver's. It
    can stall without telling anyone (as JUCE's ALSA thread does after a failed write) or report
    an error. */
class StandInDevice : public juce::AudioIODevice
{
public:
    StandInDevice (const juce::String& name, const juce::String& typeName, const StandInSpec& spec,
                   std::shared_ptr<StandInRecord> record)
        : juce::AudioIODevice (name, typeName), spec (spec), record (std::move (record))
    {
        ++this->record->created;
    }

    ~StandInDevice() override
    {
        stop();
        ++record->destroyed;
    }

    juce::StringArray getOutputChannelNames() override  { return spec.channels; }
    juce::StringArray getInputChannelNames() override   { return {}; }
    juce::Array<double> getAvailableSampleRates() override  { return spec.rates; }
    juce::Array<int> getAvailableBufferSizes() override  { return spec.bufferSizes; }
    int getDefaultBufferSize() override  { return spec.defaultBufferSize; }

    juce::String open (const juce::BigInteger& inputs, const juce::BigInteger& outputs, double rate, int buffer) override
    {
        if (! inputs.isZero())
            return "inputs asked for";
        ++record->opened;
        record->openedRate = rate;
        record->openedBuffer = buffer;
        record->openedChannels = outputs.toInteger();
        active = outputs;
        if (record->partialOpens > 0 && outputs.countNumberOfSetBits() > 1)
        {
            --record->partialOpens;   // like a JACK server that does not show a new connection yet
            active.clear();
            active.setBit (outputs.findNextSetBit (0));
        }
        currentRate = rate;
        currentBuffer = buffer;
        isOpenNow = true;
        return {};
    }

    void close() override  { stop(); isOpenNow = false; }
    bool isOpen() override  { return isOpenNow; }

    void start (juce::AudioIODeviceCallback* newCallback) override
    {
        if (! isOpenNow || newCallback == nullptr || thread.joinable())
            return;
        callback = newCallback;
        callback->audioDeviceAboutToStart (this);
        quit = false;
        playing = true;
        thread = std::thread ([this] { run(); });
    }

    void stop() override
    {
        if (! thread.joinable())
            return;
        quit = true;
        thread.join();
        playing = false;
        callback->audioDeviceStopped();
        callback = nullptr;
    }

    bool isPlaying() override  { return playing; }
    juce::String getLastError() override  { return spec.errorText; }
    int getCurrentBufferSizeSamples() override  { return spec.reportedBufferSize >= 0 ? spec.reportedBufferSize : currentBuffer; }
    double getCurrentSampleRate() override  { return currentRate; }
    int getCurrentBitDepth() override  { return 32; }
    juce::BigInteger getActiveOutputChannels() const override
    {
        return record->connectionsShown ? juce::BigInteger (record->openedChannels.load()) : active;
    }
    juce::BigInteger getActiveInputChannels() const override  { return {}; }
    int getOutputLatencyInSamples() override  { return currentBuffer; }
    int getInputLatencyInSamples() override  { return 0; }
    int getXRunCount() const noexcept override  { return spec.xruns; }
    bool hasControlPanel() const override  { return spec.controlPanel; }
    bool showControlPanel() override
    {
        ++record->panelsShown;
        return spec.controlPanelShows;
    }

private:
    void run()
    {
        const int channels = active.countNumberOfSetBits();
        juce::AudioBuffer<float> buffer (std::max (channels, 1), std::max (currentBuffer, 1));
        const auto period = std::chrono::duration<double> (currentBuffer / std::max (currentRate, 1.0));
        auto next = std::chrono::steady_clock::now();
        while (! quit)
        {
            if (record->stall)
            {
                ++record->stalls;   // like a driver thread that ended on a failed write: nobody is told
                return;
            }
            if (record->fail)
            {
                callback->audioDeviceError ("stand-in device failed");
                return;
            }
            buffer.clear();
            callback->audioDeviceIOCallbackWithContext (nullptr, 0, buffer.getArrayOfWritePointers(), channels,
                                                        currentBuffer, {});
            next += std::chrono::duration_cast<std::chrono::steady_clock::duration> (period);
            std::this_thread::sleep_until (next);
        }
    }

    StandInSpec spec;
    std::shared_ptr<StandInRecord> record;
    juce::AudioIODeviceCallback* callback = nullptr;
    juce::BigInteger active;
    double currentRate = 0.0;
    int currentBuffer = 0;
    bool isOpenNow = false;
    std::atomic<bool> playing { false };
    std::atomic<bool> quit { false };
    std::thread thread;
};

/** A device type that offers named stand-in devices; every device of one name shares one record. */
class StandInType : public juce::AudioIODeviceType
{
public:
    static constexpr const char* typeName = "Stand-in";

    StandInType (std::map<juce::String, StandInSpec> devices, std::map<juce::String, std::shared_ptr<StandInRecord>> records)
        : juce::AudioIODeviceType (typeName), devices (std::move (devices)), records (std::move (records))
    {
    }

    void scanForDevices() override {}
    juce::StringArray getDeviceNames (bool wantInputNames) const override
    {
        juce::StringArray names;
        if (! wantInputNames)
            for (const auto& [name, spec] : devices)
                names.add (name);
        return names;
    }
    int getDefaultDeviceIndex (bool) const override  { return devices.empty() ? -1 : 0; }
    int getIndexOfDevice (juce::AudioIODevice* d, bool) const override  { return d == nullptr ? -1 : getDeviceNames (false).indexOf (d->getName()); }
    bool hasSeparateInputsAndOutputs() const override  { return true; }

    juce::AudioIODevice* createDevice (const juce::String& outputName, const juce::String&) override
    {
        const auto found = devices.find (outputName);
        if (found == devices.end())
            return nullptr;
        return new StandInDevice (outputName, typeName, found->second, records.at (outputName));
    }

private:
    std::map<juce::String, StandInSpec> devices;
    std::map<juce::String, std::shared_ptr<StandInRecord>> records;
};

/** The devices a test offers and their records; hands the adapter a fresh type on every call. */
class StandInOutputs
{
public:
    std::shared_ptr<StandInRecord> add (const juce::String& name, StandInSpec spec = {})
    {
        devices[name] = std::move (spec);
        auto record = std::make_shared<StandInRecord>();
        records[name] = record;
        return record;
    }

    void remove (const juce::String& name)  { devices.erase (name); }
    StandInSpec& spec (const juce::String& name)  { return devices.at (name); }

    /** For JuceAudioAdapter::createDeviceType: the stand-in kind, nothing else. */
    std::unique_ptr<juce::AudioIODeviceType> create (const juce::String& kind) const
    {
        if (kind != StandInType::typeName)
            return nullptr;
        return std::make_unique<StandInType> (devices, records);
    }

private:
    std::map<juce::String, StandInSpec> devices;
    std::map<juce::String, std::shared_ptr<StandInRecord>> records;
};
} // namespace vantrel::test
