// The adapter's output operations, passed on to its device session. The adapter keeps the one
// user-facing error text: an open's failure is shown there, a successful open clears it.
#include "audio/output/JuceAudioAdapter.h"

#include "audio/rack/MasterVstRack.h"
#include "platform/ThreadContract.h"

namespace vantrel
{
StoreResult JuceAudioAdapter::noteOpenResult (StoreResult result)
{
    // An open that waits for its channels shows what it waits for until it is finished.
    lastErrorText = result.ok ? session.waitingFor() : result.message;
    return result;
}

StoreResult JuceAudioAdapter::openOutput (const OutputDeviceSettings& settings, bool readCleanly)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // The rack starts after the device was tried, opened or not: a device that opened has
    // prepared it for its rate and block, and the rack's first loads then run at that rate.
    const auto result = noteOpenResult (session.openStored (settings, readCleanly));
    startRack();
    return result;
}

StoreResult JuceAudioAdapter::selectOutput (const OutputDeviceSettings& settings)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return noteOpenResult (session.select (settings));
}

StoreResult JuceAudioAdapter::openDevice (bool resume)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return noteOpenResult (session.open (resume));
}

void JuceAudioAdapter::closeDevice()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    session.close();
    masterRack->setPlaybackActive (false);
}

std::vector<OutputDeviceSettings> JuceAudioAdapter::listOutputDevices (const OutputDeviceSettings& settings) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.listDevices (settings);
}

JuceAudioAdapter::DeviceCapabilities JuceAudioAdapter::deviceCapabilities (const OutputDeviceSettings& settings) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.capabilities (settings);
}

bool JuceAudioAdapter::showDriverControlPanel()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.showDriverControlPanel();
}

bool JuceAudioAdapter::isConnectingOutput() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.waitingFor().isNotEmpty();
}

bool JuceAudioAdapter::hasDevice() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.hasDevice();
}

const OutputDeviceSettings& JuceAudioAdapter::storedOutputSettings() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.storedSettings();
}

void JuceAudioAdapter::restoreSettings (const OutputDeviceSettings& settings, bool reopenAutomatically)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    session.restoreSettings (settings, reopenAutomatically);
}

bool JuceAudioAdapter::reopensAutomatically() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.reopensAutomatically();
}

juce::String JuceAudioAdapter::openOutputName() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return session.outputName();
}

juce::String JuceAudioAdapter::lastError() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return lastErrorText;
}

// ---- device callbacks: the session is the device's callback; these reach it the same way ---------

void JuceAudioAdapter::audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                                         float* const* outputChannelData, int numOutputChannels,
                                                         int numSamples, const juce::AudioIODeviceCallbackContext& context)
{
    session.audioDeviceIOCallbackWithContext (inputChannelData, numInputChannels, outputChannelData, numOutputChannels,
                                              numSamples, context);
}

void JuceAudioAdapter::audioDeviceAboutToStart (juce::AudioIODevice* startingDevice)
{
    session.audioDeviceAboutToStart (startingDevice);
}

void JuceAudioAdapter::audioDeviceStopped()
{
    session.audioDeviceStopped();
}

void JuceAudioAdapter::audioDeviceError (const juce::String& errorMessage)
{
    session.audioDeviceError (errorMessage);
}
} // namespace vantrel
