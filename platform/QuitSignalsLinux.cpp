#include "platform/QuitSignals.h"

#include <atomic>
#include <initializer_list>
#include <csignal>

namespace vantrel::platform
{
namespace
{
std::atomic<bool> received { false };
static_assert (std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

void onSignal (int)
{
    received.store (true);
}
} // namespace

void installQuitSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction (signal, &action, nullptr);
}

bool quitSignalReceived()
{
    return received.load();
}
} // namespace vantrel::platform
