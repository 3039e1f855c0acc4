#pragma once

#include "vsthost/LiveStatus.h"
#include "vsthost/PluginBackend.h"
#include "vsthost/ProcessTypes.h"

#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace orvane::vsthost
{
using BackendSlot = std::unique_ptr<PluginBackend>;

/** A way to reach the UI thread: synchronous (returns once the job ran, raising its exception
    again) or asynchronous (queues the job; throws when it cannot be queued). */
using UiInvoker = std::function<void (std::function<void()>)>;

/** How the protocol loads and scans plug-ins; the worker uses the VST3 ones. */
struct ProtocolServices
{
    std::function<BackendSlot (const std::string& modulePath, const std::string& classId, std::string& error)> loadBackend;
    std::function<std::vector<ClassRecord> (const std::string& modulePath, std::string& error)> scanModule;
};

/** The worker's exit code when the input fell out of step: a PROCESS_F32_BUFFER line announced
    a payload whose length could not be read or exceeded the bound, so the bytes after it could
    not be told apart from command lines. */
inline constexpr int exitOutOfStep = 65;

/** Protocol thread. Reads command lines until QUIT or the end of input and answers each with
    its reply; returns 0 then. Audio and the pure-protocol words run here; every other word runs
    on the UI thread through `invokeSync`. An exception of one command becomes that command's ERR
    reply and the loop goes on. A line longer than the protocol's bound is dropped up to its LF
    and answered "command line too long". A refused PROCESS_F32_BUFFER has its payload read and
    dropped; when the payload's length is unreadable or above the bound, the ERR reply is the
    last one and the function returns exitOutOfStep. */
int runProtocol (std::istream& in, std::ostream& out, BackendSlot& slot, const UiInvoker& invokeSync,
                 const UiInvoker& postAsync, LiveStatus& liveStatus, const ProtocolServices& services);
} // namespace orvane::vsthost
