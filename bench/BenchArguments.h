#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>

namespace vantrel::bench
{
/** The value of "--name=N" among a benchmark's arguments (at least 1), or the fallback. */
inline int intArgument (int argc, char** argv, const std::string& name, int fallback)
{
    const auto prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i)
        if (std::string (argv[i]).rfind (prefix, 0) == 0)
            return std::max (1, std::atoi (argv[i] + prefix.size()));
    return fallback;
}
} // namespace vantrel::bench
