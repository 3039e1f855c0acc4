#include "ProbeLog.h"

#include "../ProbeClasses.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace probe
{
namespace
{
std::mutex logMutex;
std::thread::id uiThread;
} // namespace

void rememberUiThread()
{
    uiThread = std::this_thread::get_id();
}

void logLine (const std::string& text)
{
    const auto* path = std::getenv (logVariable);

    if (path == nullptr || *path == 0)
        return;

    const std::lock_guard<std::mutex> lock (logMutex);
    std::ofstream file (path, std::ios::app);
    file << text << " thread=" << (std::this_thread::get_id() == uiThread ? "ui" : "other") << '\n';
}

void waitForGate()
{
    const auto* path = std::getenv (gateVariable);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds (path != nullptr ? 20 : 2);

    while (std::chrono::steady_clock::now() < limit)
    {
        std::error_code failure;

        if (path != nullptr && std::filesystem::exists (path, failure))
            return;

        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }
}
} // namespace probe
