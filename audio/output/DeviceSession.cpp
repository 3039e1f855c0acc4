// The adapter's output device: opening, closing, loss, reopening and the catalogue queries.
#include "audio/output/DeviceSession.h"

#include "audio/engine/MixEngine.h"
#include "audio/output/DeviceCatalogue.h"
#include "audio/output/JackMessages.h"
#include "audio/rack/MasterVstRack.h"
#include "platform/AlsaPcmList.h"
#include "platform/ThreadContract.h"

#include <cmath>

namespace vantrel
{
namespace
{
juce::String text (const char* utf8)  { return juce::String::fromUTF8 (utf8); }

const char* const settingsErrorText = "出力先設定エラー。出力先を明示選択してください";
const char* const typeUnsupportedText = "保存した出力方式に対応していません";
const char* const chooseOutputText = "出力先を選択してください";
const char* const noSuchOutputText = "指定された出力先がありません";
const char* const cannotCreateText = "出力先を作成できません";
const char* const jackInitText = "JACKを初期化できません: ";
const char* const noInfoText = "出力情報を取得できません";
const char* const rateUnsupportedText = "選択したサンプルレートに対応していません: ";
const char* const heldRateText = "保持中のサンプルレートで出力先を復帰できません";
const char* const noPairText = "選択した出力チャンネルがありません";
const char* const noChannelsText = "出力チャンネルがありません";
const char* const bufferUnsupportedText = "選択したバッファーサイズに対応していません";
const char* const didNotStartText = "出力先が開始しませんでした";
const char* const channelsNotActiveText = "出力チャンネルを接続できませんでした";
const char* const alsaCannotOpenText = "ALSAの出力先を開けません: ";
// A first start that found no JACK server and then failed with ALSA's default says both.
const char* const noJackServerText = "JACKサーバーが応答しません。";
const char* const alsaDefaultCannotOpenText = "ALSAの既定の出力先を開けません: ";
const char* const noAlsaDefaultText = "ALSAに既定の出力先がありません";

// A JACK device takes as active only the ports whose connections JACK already shows, and a busy
// server shows a new connection late (a loaded PipeWire, seconds late): such an open has fewer
// channels than asked for. The device is held unstarted while the tick waits for the rest
// (JUCE updates the active channels when JACK reports a connection); the open is made again
// after 1 s, then 2 s more and so on, in case a report came before JACK showed it; after
// channelConnectLimitMs it fails.
constexpr int channelConnectLimitMs = 10000;
constexpr int channelReopenStepMs = 1000;
const char* const waitingForChannelsText = "JACKが出力チャンネルを接続するのを待っています";
// How long a running device may go without a block before it counts as lost (see callbackStalled).
constexpr int alsaStallLimitMs = 5000;
constexpr int firstBlockLimitMs = 10000;
const char* const rateChangedText = "サンプルレートが変化したため一時停止しました。元の出力レートで復帰を確認してください";
const char* const disconnectedText = "出力先が切断されました。プレイリストは一時停止、PADは停止しました";

StoreResult failOpen (const juce::String& message)
{
    return StoreResult::failure (message);
}
} // namespace

DeviceSession::DeviceSession (orvane::audio::MixEngine& engineToRender, MasterVstRack& rackToRender,
                              const CreateDeviceType& deviceTypeFactory, const MillisecondCounter& counter)
    : engine (engineToRender), rack (rackToRender), createDeviceType (deviceTypeFactory), millisecondCounter (counter)
{
    // JUCE's JACK device hands the server's port changes to the thread the MessageManager was made
    // on, and makes it on the spot where there is none: made first from the JACK client's own
    // thread, that thread would then stop and restart the device while this one opens it. It is
    // made here, on the message thread, before any device.
    juce::MessageManager::getInstance();
}

DeviceSession::~DeviceSession()
{
    close();
}

StoreResult DeviceSession::openStored (const OutputDeviceSettings& settings, bool readCleanly)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    autoReopen = readCleanly;
    outputSettings = settings;
    if (! readCleanly)
        return failOpen (text (settingsErrorText));
    firstStartWithoutJack = false;
    // A first start (no settings file, so no type) takes JACK when a server answers, else
    // ALSA's default device.
    if (settings.type.isEmpty())
    {
        // The choice is ALSA's only when no JACK server answered: its failures say so.
        outputSettings = chooseFirstStartOutput (createDeviceType);
        firstStartWithoutJack = outputSettings.type == "ALSA";
        if (outputSettings.id.isEmpty())
            return failOpen (text (noJackServerText) + text (noAlsaDefaultText));
        return open (false);
    }
    // The held type stays until its device is replaced: a JUCE device calls back into its type.
    const auto type = createDeviceType (settings.type);
    if (type == nullptr)
        return failOpen (text (typeUnsupportedText));
    if (settings.id.isEmpty())
    {
        const auto devices = listAudioDevices (*type);
        if (! devices.empty())
        {
            // The framework's default is found by name: the catalogue may leave devices out.
            const int index = defaultOutputDeviceIndex (*type, devices);
            if (index >= 0)
                outputSettings = devices[(size_t) index];
        }
    }
    return open (false);
}

StoreResult DeviceSession::select (const OutputDeviceSettings& settings)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (settings.type.isEmpty() || settings.id.isEmpty())
        return failOpen (text (chooseOutputText));
    stopAndDeleteDevice();
    outputSettings = settings;
    autoReopen = true;
    firstStartWithoutJack = false;
    return open (false);
}

StoreResult DeviceSession::open (bool resume)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto result = openDevice (resume);
    if (result.ok)
        firstStartWithoutJack = false;
    else if (firstStartWithoutJack)
        result = failOpen (text (noJackServerText) + text (alsaDefaultCannotOpenText) + result.message);
    return result;
}

StoreResult DeviceSession::openDevice (bool resume)
{
    // A fresh type rescans (a held ALSA type never sees a new card). It replaces the held type
    // only together with the device, since a JUCE device calls back into the type that made it.
    auto freshType = createDeviceType (outputSettings.type);
    if (freshType == nullptr)
        return failOpen (text (typeUnsupportedText));
    const auto devices = listAudioDevices (*freshType);
    const auto match = std::find_if (devices.begin(), devices.end(), [this] (const OutputDeviceSettings& d) {
        return d.type == outputSettings.type && d.id == outputSettings.id;
    });
    if (match == devices.end())
        return failOpen (text (noSuchOutputText));
    outputSettings.name = match->name;

    // The framework makes an ALSA device that cannot be opened all the same, with no channels:
    // alsa-lib's own reason is asked for first.
    if (outputSettings.type == "ALSA")
    {
        const auto reason = platform::playbackOpenError (outputSettings.id.toStdString());
        if (! reason.empty())
            return failOpen ((firstStartWithoutJack ? juce::String() : text (alsaCannotOpenText)) + outputSettings.name
                             + ": " + juce::String::fromUTF8 (reason.c_str()));
    }

    auto created = createOutputDevice (*freshType, outputSettings.name);
    if (created == nullptr)
        return failOpen (text (cannotCreateText));

    const auto rates = created->getAvailableSampleRates();
    if (outputSettings.type == "JACK" && rates.isEmpty())
    {
        const auto error = created->open ({}, {}, outputSettings.sampleRate, outputSettings.bufferSize);
        created->close();
        return failOpen (text (jackInitText) + (error.isNotEmpty() ? error : text (noInfoText)));
    }
    if (created->getLastError().isNotEmpty())
        return failOpen (created->getLastError());

    double rate = 0.0;
    if (resume)
        rate = currentRate.load();
    else if (outputSettings.sampleRate > 0.0)
        rate = outputSettings.sampleRate;
    else if (rates.contains (48000.0))
        rate = 48000.0;
    else if (rates.contains (44100.0))
        rate = 44100.0;
    else if (! rates.isEmpty())
        rate = rates[0];
    if (! resume && outputSettings.sampleRate > 0.0 && ! rates.contains (rate))
    {
        juce::StringArray offered;
        for (const auto r : rates)
            offered.add (juce::String (r));
        return failOpen (text (rateUnsupportedText) + juce::String (rate) + " Hz / " + offered.joinIntoString (", "));
    }
    if (resume && ! rates.contains (rate))
        return failOpen (text (heldRateText));

    const int channelCount = created->getOutputChannelNames().size();
    const int first = outputSettings.outputPair * 2;
    if (first >= channelCount || (channelCount > 1 && first + 1 >= channelCount))
        return failOpen (text (channelCount == 0 ? noChannelsText : noPairText));
    juce::BigInteger outputs;
    outputs.setRange (first, std::min (channelCount - first, 2), true);

    int buffer = created->getDefaultBufferSize();
    if (outputSettings.bufferSize > 0)
    {
        if (! created->getAvailableBufferSizes().contains (outputSettings.bufferSize))
            return failOpen (text (bufferUnsupportedText));
        buffer = outputSettings.bufferSize;
    }

    const auto openError = created->open ({}, outputs, rate, buffer);
    if (openError.isNotEmpty())
        return failOpen (openError);

    stopAndDeleteDevice();
    // Nothing renders now: the delay lines of the master stage and the rack bridge forget the
    // audio of the device before, which would otherwise sound at the start of this one.
    engine.clearHeldAudio();
    rack.clearHeldAudio();
    device = std::move (created);
    deviceType = std::move (freshType);
    countJackOutput();
    name = device->getName();
    if (device->getActiveOutputChannels() != outputs)
    {
        const auto now = millisecondCounter();
        connecting = Connecting { outputs, rate, buffer, now, now, 0 };
        return StoreResult::success();
    }
    return startDevice();
}

StoreResult DeviceSession::startDevice()
{
    deviceLost.store (false);
    watchedCallbacks = -1;
    callbacksAtStart = stats.callbacks.load();
    priorityPromoted.store (outputSettings.type != "ALSA");
    device->start (this);
    if (device->isPlaying() && callbackReady.load())
    {
        running.store (true);
        return StoreResult::success();
    }
    stopAndDeleteDevice();
    return failOpen (text (didNotStartText));
}

std::optional<StoreResult> DeviceSession::finishConnecting()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! connecting.has_value() || device == nullptr)
        return std::nullopt;
    auto& wait = *connecting;
    const auto now = millisecondCounter();
    // Counted as a reopen attempt: the next one comes a second later, as after any failed one.
    const auto giveUp = [this, now] (const juce::String& message) {
        stopAndDeleteDevice();
        lastReopenAttemptMs = now;
        return failOpen (message);
    };
    if (device->getActiveOutputChannels() != wait.outputs
        && static_cast<std::int32_t> (now - wait.lastOpenMs) >= (wait.reopens + 1) * channelReopenStepMs
        && static_cast<std::int32_t> (now - wait.sinceMs) < channelConnectLimitMs)
    {
        ++wait.reopens;
        wait.lastOpenMs = now;
        device->close();
        const auto openError = device->open ({}, wait.outputs, wait.rate, wait.buffer);
        if (openError.isNotEmpty())
            return giveUp (openError);
    }
    if (device->getActiveOutputChannels() == wait.outputs)
    {
        connecting.reset();
        return startDevice();
    }
    if (static_cast<std::int32_t> (now - wait.sinceMs) < channelConnectLimitMs)
        return std::nullopt;
    return giveUp (text (channelsNotActiveText));
}

juce::String DeviceSession::waitingFor() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return connecting.has_value() ? text (waitingForChannelsText) : juce::String();
}

void DeviceSession::stopAndDeleteDevice()
{
    connecting.reset();
    if (device == nullptr)
        return;
    changingDevice.store (true);
    running.store (false);
    device->stop();
    device->close();
    device.reset();
    countJackOutput();
    callbackReady.store (false);
    engine.applyPending();
    changingDevice.store (false);
}

void DeviceSession::countJackOutput()
{
    // A lost JACK device still winding down is still open: its texts tell how it ended.
    const auto isJack = [] (const std::unique_ptr<juce::AudioIODevice>& d) { return d != nullptr && d->getTypeName() == "JACK"; };
    const bool open = isJack (device) || isJack (lostDevice);
    if (open == jackOutputCounted)
        return;
    jackOutputCounted = open;
    if (open)
        jack_messages::outputOpened();
    else
        jack_messages::outputClosed();
}

void DeviceSession::close()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    stopAndDeleteDevice();
    releaseLostDevice (true);
}

void DeviceSession::restoreSettings (const OutputDeviceSettings& settings, bool reopenAutomatically)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    jassert (device == nullptr);
    outputSettings = settings;
    autoReopen = reopenAutomatically;
}

bool DeviceSession::callbackStalled()
{
    // JUCE's ALSA thread ends on a write error without telling anyone: a callback counter that
    // stops moving while the device should run is a lost device.
    if (device == nullptr || ! running.load())
    {
        watchedCallbacks = -1;
        return false;
    }
    const auto now = millisecondCounter();
    const auto count = stats.callbacks.load();
    if (count != watchedCallbacks)
    {
        watchedCallbacks = count;
        watchedSinceMs = now;
        return false;
    }
    const double rate = std::max (currentRate.load(), 1.0);
    auto limitMs = std::max (500.0, 4000.0 * bufferSize.load() / rate);
    // A living ALSA thread waits up to 2 s for the PCM before each block, and PulseAudio's
    // plug-in takes about that long to ask for its first block and again after an underrun:
    // only a longer silence is a thread that ended. Before a device's first block, any type
    // has a start's grace.
    if (outputSettings.type == "ALSA")
        limitMs = std::max (limitMs, (double) alsaStallLimitMs);
    if (count == callbacksAtStart)
        limitMs = std::max (limitMs, (double) firstBlockLimitMs);
    return static_cast<std::int32_t> (now - watchedSinceMs) > static_cast<std::int32_t> (limitMs);
}

void DeviceSession::releaseLostDevice (bool force)
{
    // JACK closes a lost device from its own shutdown thread and reports the stop only at the
    // end: the device is deleted half a second later, never while that thread may still use it.
    if (lostDevice == nullptr || (! force && static_cast<std::int32_t> (millisecondCounter() - lostDeviceSinceMs) < 500))
        return;
    lostDevice->stop();
    lostDevice->close();
    lostDevice.reset();
    lostDeviceType.reset();
    countJackOutput();
    retiringDevice.store (false);
}

std::optional<juce::String> DeviceSession::handleDeviceLoss()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    releaseLostDevice (false);
    // A device still waiting for its channels was never started: finishConnecting decides.
    if (connecting.has_value())
        return std::nullopt;
    const bool stalled = callbackStalled();
    const bool lost = deviceLost.exchange (false);
    if (! lost && ! stalled && ! (device != nullptr && ! device->isPlaying()))
        return std::nullopt;
    if (device == nullptr && ! lost)
        return std::nullopt;
    running.store (false);
    // A stalled device's thread may wake at any moment: the engine's ring is drained below only
    // once no block of it is in flight.
    stopRendering();
    if (device != nullptr)
    {
        releaseLostDevice (true);
        retiringDevice.store (true);
        lostDevice = std::move (device);
        lostDeviceType = std::move (deviceType);
        lostDeviceSinceMs = millisecondCounter();
        countJackOutput();
    }
    // The track voices are paused in the engine here, before any device runs again, and the
    // output stays silent until the operator resumes.
    engine.applyPending();
    silentUntilSounding.store (true);
    watchedCallbacks = -1;
    stats.countConfirmedLoss();
    lastReopenAttemptMs = millisecondCounter();
    return text (rateChangePending.exchange (false) ? rateChangedText : disconnectedText);
}

void DeviceSession::readDriverXruns()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (device != nullptr)
        driverXruns = device->getXRunCount();
}

bool DeviceSession::reopenDue()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (device != nullptr || ! autoReopen || outputSettings.id.isEmpty())
        return false;
    const auto now = millisecondCounter();
    if (static_cast<std::int32_t> (now - lastReopenAttemptMs) < 1000)
        return false;
    lastReopenAttemptMs = now;
    return true;
}

void DeviceSession::runWithoutDevice (double rate, int blockSize, const juce::String& outputNameShown)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    currentRate = rate;
    bufferSize = blockSize;
    engine.prepare (rate);
    rack.prepare (rate, blockSize);
    name = outputNameShown;
    callbackReady.store (true);
    running.store (true);
}

void DeviceSession::stopRunning()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    running.store (false);
    callbackReady.store (false);
    engine.applyPending();
}

AudioDiagnosticsState DeviceSession::diagnosticsState() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    AudioDiagnosticsState state;
    state.outputType = outputSettings.type;
    state.outputName = name;
    state.sampleRate = currentRate;
    state.bufferSamples = bufferSize;
    state.driverLatencySamples = driverLatency;
    state.ready = running.load();
    state.driverXruns = driverXruns;
    return state;
}

std::vector<OutputDeviceSettings> DeviceSession::listDevices (const OutputDeviceSettings& settings) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto type = createDeviceType (settings.type);
    return type != nullptr ? listAudioDevices (*type) : std::vector<OutputDeviceSettings> {};
}

DeviceSession::Capabilities DeviceSession::capabilities (const OutputDeviceSettings& settings) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    Capabilities capabilities;
    const auto read = [&capabilities] (juce::AudioIODevice& d) {
        capabilities.sampleRates = d.getAvailableSampleRates();
        capabilities.bufferSizes = d.getAvailableBufferSizes();
        capabilities.outputChannelNames = d.getOutputChannelNames();
    };
    if (device != nullptr && settings.type == outputSettings.type && settings.id == outputSettings.id)
    {
        read (*device);
        return capabilities;
    }
    const auto type = createDeviceType (settings.type);
    if (type == nullptr)
        return capabilities;
    for (const auto& entry : listAudioDevices (*type))
        if (entry.id == settings.id)
            if (const auto temporary = createOutputDevice (*type, entry.name))
                read (*temporary);
    return capabilities;
}

bool DeviceSession::showDriverControlPanel()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return device != nullptr && device->hasControlPanel() && device->showControlPanel();
}

} // namespace vantrel
