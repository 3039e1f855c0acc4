#include "platform/AlsaPcmList.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>

namespace vantrel::platform
{
namespace
{
std::string hintText (const void* hint, const char* key)
{
    char* value = snd_device_name_get_hint (hint, key);
    std::string text = value != nullptr ? value : "";
    std::free (value);
    return text;
}

bool startsWith (const std::string& text, const char* prefix)
{
    return text.rfind (prefix, 0) == 0;
}

/** The PCM opens for playback and offers at least one channel and one rate. */
bool opensForPlayback (const char* id)
{
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open (&pcm, id, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    snd_pcm_hw_params_t* params = nullptr;
    bool usable = false;
    if (snd_pcm_hw_params_malloc (&params) == 0)
    {
        unsigned int maxChannels = 0, minRate = 0;
        usable = snd_pcm_hw_params_any (pcm, params) >= 0
                 && snd_pcm_hw_params_get_channels_max (params, &maxChannels) >= 0 && maxChannels > 0
                 && snd_pcm_hw_params_get_rate_min (params, &minRate, nullptr) >= 0;
        snd_pcm_hw_params_free (params);
    }
    snd_pcm_close (pcm);
    return usable;
}

void moveToFront (std::vector<AlsaPcmOutput>& list, const char* id)
{
    const auto found = std::find_if (list.begin(), list.end(), [id] (const AlsaPcmOutput& e) { return e.id == id; });
    if (found != list.end())
        std::rotate (list.begin(), found, found + 1);
}

bool contains (const std::vector<AlsaPcmOutput>& list, const char* id)
{
    return std::any_of (list.begin(), list.end(), [id] (const AlsaPcmOutput& e) { return e.id == id; });
}
} // namespace

std::vector<AlsaPcmOutput> listAlsaPcmOutputs()
{
    std::vector<AlsaPcmOutput> list;
    void** hints = nullptr;
    if (snd_device_name_hint (-1, "pcm", &hints) == 0)
    {
        for (void** h = hints; *h != nullptr; ++h)
        {
            const auto id = hintText (*h, "NAME");
            auto name = hintText (*h, "DESC");
            const auto ioid = hintText (*h, "IOID");
            if (id.empty() || startsWith (id, "default:") || startsWith (id, "sysdefault:")
                || startsWith (id, "plughw:") || id == "null")
                continue;
            if (ioid == "Input" || startsWith (id, "dsnoop"))
                continue;
            for (auto pos = name.find ('\n'); pos != std::string::npos; pos = name.find ('\n', pos))
                name.replace (pos, 1, "; ");
            list.push_back ({ name.empty() ? id : name, id });
        }
        snd_device_name_free_hint (hints);
    }
    if (! contains (list, "default") && opensForPlayback ("default"))
        list.push_back ({ "Default ALSA Output", "default" });
    if (! contains (list, "pulse") && opensForPlayback ("pulse"))
        list.push_back ({ "Pulseaudio output", "pulse" });
    moveToFront (list, "pulse");
    moveToFront (list, "default");
    return list;
}

std::string playbackOpenError (const std::string& id)
{
    snd_pcm_t* pcm = nullptr;
    const int result = snd_pcm_open (&pcm, id.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (result < 0)
        return snd_strerror (result);
    snd_pcm_close (pcm);
    return {};
}

void reloadAlsaConfiguration()
{
    snd_config_update_free_global();
}
} // namespace vantrel::platform
