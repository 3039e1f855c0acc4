#pragma once

#include <string>
#include <vector>

namespace vantrel::platform
{
/** One ALSA playback PCM: the framework's display name (before duplicate numbering) and its id. */
struct AlsaPcmOutput
{
    std::string name;
    std::string id;
};

/** The ALSA playback PCMs in the order the framework's "ALSA" device type lists them: alsa-lib's
    PCM hints with the framework's filters ("default:", "sysdefault:", "plughw:" and "null" left
    out; "dsnoop" is capture only), "default" and "pulse" added when they open for playback although
    not hinted, then "default" first and "pulse" second. Message thread. */
std::vector<AlsaPcmOutput> listAlsaPcmOutputs();

/** Why the playback PCM `id` does not open now, in alsa-lib's words ("Connection refused", "No
    such file or directory"), or empty when it opens; an opened PCM is closed again at once.
    Message thread. */
std::string playbackOpenError (const std::string& id);

/** Makes alsa-lib read its configuration files again at its next use. Its cached configuration
    keeps the files it first found, whatever HOME or XDG_CONFIG_HOME say later (the PCM hints are
    read afresh each time, so hints and opens could otherwise disagree). PCMs already open keep
    the configuration they were opened with. Message thread, with no PCM being opened meanwhile. */
void reloadAlsaConfiguration();
} // namespace vantrel::platform
