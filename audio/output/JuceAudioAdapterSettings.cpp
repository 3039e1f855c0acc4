// The adapter's narrow interfaces for the layers above: the rack's files and its control
// interface, the master bus and pad bus settings, and the coordinator's settings.
#include "audio/output/JuceAudioAdapter.h"

#include "audio/rack/MasterVstRack.h"

namespace vantrel
{
// ---- the master VST rack ------------------------------------------------------------------------

void JuceAudioAdapter::setRackFiles (const juce::File& configFile, const juce::File& workerExecutable)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    rackConfigFile = configFile;
    rackWorkerExecutable = workerExecutable;
}

void JuceAudioAdapter::startRack()
{
    // A rack that runs already ignores a second start.
    if (rackConfigFile != juce::File())
        masterRack->start (rackConfigFile, rackWorkerExecutable);
}

RackControl& JuceAudioAdapter::rack()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return *masterRack;
}

const RackControl& JuceAudioAdapter::rack() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return *masterRack;
}

// ---- master bus and pad bus ---------------------------------------------------------------------
// Relaxed atomics of the master stage and the engine, read by the audio thread once per block.

void JuceAudioAdapter::setMasterGainDb (float dB)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.masterOutput().setOutputGainDb (dB);
}

void JuceAudioAdapter::setLimiterEnabled (bool enabled)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.masterOutput().setEnabled (enabled);
}

void JuceAudioAdapter::setLimiterThresholdDb (float dB)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.masterOutput().setThresholdDb (dB);
}

void JuceAudioAdapter::setLimiterCeilingDb (float dB)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.masterOutput().setCeilingDb (dB);
}

void JuceAudioAdapter::setLimiterReleaseMs (float ms)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.masterOutput().setReleaseMs (ms);
}

void JuceAudioAdapter::setLimiterDriveDb (float dB)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.masterOutput().setDriveDb (dB);
}

void JuceAudioAdapter::setPadBusGainDb (float dB)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.setPadBusGain (dB);
}

void JuceAudioAdapter::setPadMute (bool muted)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    engine.setPadMute (muted);
}

float JuceAudioAdapter::masterGainDb() const        { return engine.masterOutput().outputGainDb(); }
bool JuceAudioAdapter::isLimiterEnabled() const     { return engine.masterOutput().isEnabled(); }
float JuceAudioAdapter::limiterThresholdDb() const  { return engine.masterOutput().thresholdDb(); }
float JuceAudioAdapter::limiterCeilingDb() const    { return engine.masterOutput().ceilingDb(); }
float JuceAudioAdapter::limiterReleaseMs() const    { return engine.masterOutput().releaseMs(); }
float JuceAudioAdapter::limiterDriveDb() const      { return engine.masterOutput().driveDb(); }
float JuceAudioAdapter::padBusGainDb() const        { return engine.padBusGainDb(); }
bool JuceAudioAdapter::isPadMuted() const           { return engine.isPadMuted(); }

orvane::audio::MasterOutputMeters JuceAudioAdapter::masterMeters() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return engine.masterOutput().meters();
}

// ---- the coordinator's settings ----------------------------------------------------------------

void JuceAudioAdapter::setDiagnosticsPath (const juce::File& file)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    diagnosticsFile = file;
}

void JuceAudioAdapter::setAutoCue (bool enabled)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    autoCueEnabled = enabled;
}

bool JuceAudioAdapter::autoCue() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return autoCueEnabled;
}

void JuceAudioAdapter::setPcmLimits (const PcmLimits& newLimits)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    playingLimit = newLimits.playing;
    registry.setCacheLimit (newLimits.cache);
}

std::uint64_t JuceAudioAdapter::mediaRegistrations() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return registry.registrations();
}

std::size_t JuceAudioAdapter::retiredCount() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return retired.size();
}

int JuceAudioAdapter::queuedEngineCommands() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return engine.queuedCommands();
}

bool JuceAudioAdapter::popAnalyzerFrame (orvane::audio::AnalyzerFrame& frame)
{
    return engine.analyzerTap().pop (frame);
}
} // namespace vantrel
