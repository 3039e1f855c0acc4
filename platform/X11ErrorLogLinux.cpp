#include "platform/X11ErrorLog.h"
#include "platform/X11Window.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>

#include <X11/Xlib.h>

namespace vantrel::platform
{
namespace
{
struct ErrorRecord
{
    const void* display = nullptr;
    unsigned long serial = 0;
};

constexpr std::size_t keptRecords = 256;

std::mutex recordMutex;   // guards `records`; the handlers may run on any thread
std::deque<ErrorRecord> records;
std::atomic<std::uint64_t> errorCount { 0 };

// An X error ends the process with Xlib's default handler, also for a harmless BadAtom that an
// embedded editor provokes. Here it is only recorded; the code that made the request checks.
int recordError (Display* display, XErrorEvent* event)
{
    ++errorCount;
    const std::lock_guard<std::mutex> lock (recordMutex);
    records.push_back ({ display, event->serial });

    if (records.size() > keptRecords)
        records.pop_front();

    return 0;
}

// A broken connection: returning lets the per-connection exit handler decide. Ours only mark
// the connection dead; a connection whose owner set none still ends the process (Xlib's rule).
int recordBrokenConnection (Display*)
{
    std::fputs ("X connection broken\n", stderr);
    return 0;
}
} // namespace

void prepareX11()
{
    static std::once_flag once;
    std::call_once (once,
                    []
                    {
                        XInitThreads();
                        XSetErrorHandler (recordError);
                        XSetIOErrorHandler (recordBrokenConnection);
                    });
}

std::uint64_t x11ErrorCount()
{
    return errorCount.load();
}

bool x11ErrorsSince (const void* display, unsigned long firstSerial)
{
    const std::lock_guard<std::mutex> lock (recordMutex);
    return std::any_of (records.begin(), records.end(),
                        [&] (const ErrorRecord& r) { return r.display == display && r.serial >= firstSerial; });
}

void forgetX11Errors (const void* display)
{
    const std::lock_guard<std::mutex> lock (recordMutex);
    records.erase (std::remove_if (records.begin(), records.end(), [display] (const ErrorRecord& r) { return r.display == display; }),
                   records.end());
}
} // namespace vantrel::platform
