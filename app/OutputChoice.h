#pragma once

#include "audio/output/JuceAudioAdapter.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The operator's choice of output device: "device.json" with its siblings "master-vst.json"
    and "audio-diagnostics.json", the open at start, a change that is opened, then stored, and put
    back when either fails, and the message of the last refused or failed change. Whether a change
    may happen now (LIVE LOCK, sounding tracks, the rack) and the status line stay the
    coordinator's. Message thread only. */
class OutputChoice
{
public:
    OutputChoice (JuceAudioAdapter& audio, const juce::File& settingsFile) : audio (audio), settingsFile (settingsFile) {}

    OutputChoice (const OutputChoice&) = delete;
    OutputChoice& operator= (const OutputChoice&) = delete;

    /** Gives the adapter its diagnostics and rack files and opens the stored choice (a damaged
        file opens the default without reopening it automatically). With audio only, once. */
    StoreResult openAtStart (const juce::File& workerExecutable);
    /** Opens `settings` and stores it; on failure the previous choice is put back and message()
        says why. */
    bool select (const OutputDeviceSettings& settings);
    /** A change refused before anything was tried. */
    void refuse (const juce::String& text)  { lastMessage = text; }
    void clearMessage()  { lastMessage.clear(); }

    /** The message of the last refused or failed change; empty after one that went as asked. */
    const juce::String& message() const noexcept  { return lastMessage; }

private:
    /** Puts the choice from before a failed change back; false when no output is open. */
    bool restore (const OutputDeviceSettings& previous, bool previousReopen);

    JuceAudioAdapter& audio;
    const juce::File settingsFile;
    juce::String lastMessage;
};
} // namespace vantrel
