#include "support/EnvironmentVariable.h"

#include <stdlib.h>

namespace vantrel::platform
{
bool setEnvironmentVariable (const std::string& name, const std::string& value)
{
    return ::setenv (name.c_str(), value.c_str(), 1) == 0;
}
} // namespace vantrel::platform
