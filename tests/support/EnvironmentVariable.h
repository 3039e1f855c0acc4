#pragma once

#include <string>

namespace vantrel::platform
{
/** Sets a variable of this process's environment (replacing it). Must run before any thread that
    reads the environment starts; used to point libjack at a private server. False on failure. */
bool setEnvironmentVariable (const std::string& name, const std::string& value);
} // namespace vantrel::platform
