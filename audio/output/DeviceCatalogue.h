#pragma once

#include "audio/output/OutputDeviceSettings.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <functional>
#include <memory>
#include <vector>

namespace vantrel
{
/** The output kinds offered, in order: "JACK", then "ALSA". A kind whose device type cannot be
    created is left out. Message thread. */
juce::StringArray outputTypeNames();

/** A fresh device type for a kind: "JACK" gives the JACK type (its scan never starts a server and
    prints nothing: libjack's texts go to the program's handlers, see JackMessages.h);
    "ALSA" or an empty name gives the ALSA type; any other name gives null. A fresh type rescans
    (a held ALSA type never does). Message thread. */
std::unique_ptr<juce::AudioIODeviceType> createOutputType (const juce::String& typeName);

/** The output device `name` of `type` (no input), or null when the type cannot make it. A JACK
    device keeps libjack's texts away from the terminal as the program's JACK type does. */
std::unique_ptr<juce::AudioIODevice> createOutputDevice (juce::AudioIODeviceType& type, const juce::String& name);

/** Scans `type` and lists its output devices with a stable id each: "JACK:" + the client's name
    for JACK (the kind, ":" and the name for any other type); for ALSA the PCM's own id,
    recomputed from alsa-lib in the framework's order and numbering. When the recomputed names do
    not line up with the type's own list, the list is empty. Never fails. Message thread. */
std::vector<OutputDeviceSettings> listAudioDevices (juce::AudioIODeviceType& type);

/** The index in `devices` of the device the scanned `type` names as its default output, found by
    name (the catalogue may leave devices of the type's own list out); -1 when it is not listed. */
int defaultOutputDeviceIndex (juce::AudioIODeviceType& type, const std::vector<OutputDeviceSettings>& devices);

/** The output a first start opens (no settings file yet): when a JACK server answers (asked
    without starting one), its "system" client, else the first client with playback ports it
    lists; else the ALSA type's default device. The type is "ALSA" exactly when JACK listed no
    client; an empty id when ALSA lists no device either. `createType` makes the device type of a kind, as createOutputType does.
    Message thread. */
OutputDeviceSettings chooseFirstStartOutput (
    const std::function<std::unique_ptr<juce::AudioIODeviceType> (const juce::String&)>& createType);

/** The same listing for ALSA from given (name, id) pairs in the framework's order: the names are
    numbered as the framework numbers duplicates and must equal `frameworkNames`. */
std::vector<OutputDeviceSettings> alignAlsaDevices (const juce::StringArray& frameworkNames,
                                                    juce::StringArray names, const juce::StringArray& ids);
} // namespace vantrel
