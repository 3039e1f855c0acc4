#include "audio/output/DeviceCatalogue.h"

#include "audio/output/JackMessages.h"
#include "platform/AlsaPcmList.h"

#include <algorithm>

namespace vantrel
{
namespace
{
const char* const jackTypeName = "JACK";
const char* const alsaTypeName = "ALSA";
/** How often a first start asks JACK for its clients before it takes ALSA's default. */
constexpr int firstStartJackScans = 3;
} // namespace

juce::StringArray outputTypeNames()
{
    juce::StringArray names;
    for (const char* kind : { jackTypeName, alsaTypeName })
        if (auto type = createOutputType (kind))
            names.add (type->getTypeName());
    return names;
}

std::unique_ptr<juce::AudioIODeviceType> createOutputType (const juce::String& typeName)
{
    std::unique_ptr<juce::AudioIODeviceType> type;
    if (typeName == jackTypeName)
    {
        jack_messages::takeOver();
        type.reset (juce::AudioIODeviceType::createAudioIODeviceType_JACK());
    }
    else if (typeName.isEmpty() || typeName == alsaTypeName)
        type.reset (juce::AudioIODeviceType::createAudioIODeviceType_ALSA());
    return type;
}

std::unique_ptr<juce::AudioIODevice> createOutputDevice (juce::AudioIODeviceType& type, const juce::String& name)
{
    std::unique_ptr<juce::AudioIODevice> device (type.createDevice (name, {}));
    if (device != nullptr && type.getTypeName() == jackTypeName)
        jack_messages::takeOver();
    return device;
}

std::vector<OutputDeviceSettings> alignAlsaDevices (const juce::StringArray& frameworkNames,
                                                    juce::StringArray names, const juce::StringArray& ids)
{
    names.appendNumbersToDuplicates (false, true);
    if (names != frameworkNames || names.size() != ids.size())
        return {};
    std::vector<OutputDeviceSettings> devices;
    for (int i = 0; i < names.size(); ++i)
        devices.push_back ({ alsaTypeName, names[i], ids[i], 0.0, 0, 0 });
    return devices;
}

std::vector<OutputDeviceSettings> listAudioDevices (juce::AudioIODeviceType& type)
{
    type.scanForDevices();
    const auto frameworkNames = type.getDeviceNames (false);
    std::vector<OutputDeviceSettings> devices;

    // JACK's clients keep their names; so does any other type: the id is the kind and the name.
    if (type.getTypeName() != alsaTypeName)
    {
        for (const auto& name : frameworkNames)
            devices.push_back ({ type.getTypeName(), name, type.getTypeName() + ":" + name, 0.0, 0, 0 });
        return devices;
    }

    juce::StringArray names, ids;
    for (const auto& pcm : platform::listAlsaPcmOutputs())
    {
        names.add (juce::String::fromUTF8 (pcm.name.c_str()));
        ids.add (juce::String::fromUTF8 (pcm.id.c_str()));
    }
    return alignAlsaDevices (frameworkNames, names, ids);
}

int defaultOutputDeviceIndex (juce::AudioIODeviceType& type, const std::vector<OutputDeviceSettings>& devices)
{
    const auto frameworkNames = type.getDeviceNames (false);
    const int frameworkIndex = type.getDefaultDeviceIndex (false);
    if (frameworkIndex < 0 || frameworkIndex >= frameworkNames.size())
        return -1;
    const auto& defaultName = frameworkNames[frameworkIndex];
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == defaultName)
            return static_cast<int> (i);
    return -1;
}

OutputDeviceSettings chooseFirstStartOutput (
    const std::function<std::unique_ptr<juce::AudioIODeviceType> (const juce::String&)>& createType)
{
    // The framework's JACK scan opens its client with JackNoStartServer: no answer, no clients.
    // A busy server can refuse one client now and then, so an empty list is asked again before
    // the start settles on ALSA; without a server each scan fails at once.
    if (auto jack = createType (jackTypeName))
    {
        auto clients = listAudioDevices (*jack);
        for (int scan = 1; scan < firstStartJackScans && clients.empty(); ++scan)
            clients = listAudioDevices (*jack);
        const auto system = std::find_if (clients.begin(), clients.end(),
                                          [] (const OutputDeviceSettings& c) { return c.name == "system"; });
        if (system != clients.end())
            return *system;
        if (! clients.empty())
        {
            const int index = defaultOutputDeviceIndex (*jack, clients);
            return clients[(size_t) std::max (index, 0)];
        }
    }
    OutputDeviceSettings chosen;
    chosen.type = alsaTypeName;
    if (auto alsa = createType (alsaTypeName))
    {
        const auto devices = listAudioDevices (*alsa);
        const int index = defaultOutputDeviceIndex (*alsa, devices);
        if (index >= 0)
            chosen = devices[(size_t) index];
    }
    return chosen;
}
} // namespace vantrel
