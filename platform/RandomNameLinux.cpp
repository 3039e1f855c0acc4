#include "platform/RandomName.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <random>

#include <sys/random.h>

namespace vantrel::platform
{
std::string randomHex32()
{
    uint8_t bytes[16] = {};
    size_t filled = 0;

    while (filled < sizeof (bytes))
    {
        const auto got = ::getrandom (bytes + filled, sizeof (bytes) - filled, 0);

        if (got > 0)
            filled += static_cast<size_t> (got);
        else if (got < 0 && errno != EINTR)
            break;
    }

    if (filled < sizeof (bytes))
    {
        // No kernel random source: fall back to the library's, mixed with the clock.
        std::random_device device;
        std::mt19937_64 fallback (device() ^ static_cast<uint64_t> (std::chrono::steady_clock::now().time_since_epoch().count()));

        for (auto& byte : bytes)
            byte = static_cast<uint8_t> (fallback());
    }

    static const char digits[] = "0123456789abcdef";
    std::string text;

    for (const auto byte : bytes)
    {
        text.push_back (digits[byte >> 4]);
        text.push_back (digits[byte & 0x0f]);
    }

    return text;
}
} // namespace vantrel::platform
