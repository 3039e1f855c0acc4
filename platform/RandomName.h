#pragma once

#include <string>

namespace vantrel::platform
{
/** 32 lower-case hexadecimal digits from the system's random source (128 bits), for the
    names of temporary files, damaged bundles and kept journals, which must never repeat, not
    even between processes started at the same moment. Any thread. */
std::string randomHex32();
} // namespace vantrel::platform
