#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vantrel::platform
{
/** How a forked call ended. */
struct ForkedCallResult
{
    bool exited = false;       // ended by returning (or exit); false when a signal ended it
    int exitCode = -1;         // the body's return value when exited
    int signal = 0;            // the ending signal otherwise
    std::string output;        // what the body put into its output text
};

/** Runs `body` in a forked copy of this process and waits for it. With fileSizeLimit >= 0 the
    child first limits the size of the files it writes (RLIMIT_FSIZE, with SIGXFSZ ignored so
    that an oversized write fails with EFBIG): a real "disk full" for tests that run as root.
    The body's output text comes back through a pipe. The child ends with _exit and runs no
    destructors of the parent's objects. Meant for tests: call it from a thread while no other
    thread holds a lock that the body needs. */
/** Waits for a child process of this process to end and tells how (the output stays empty).
    A failed wait gives a result with exited false and signal 0. */
ForkedCallResult waitForChild (int processId);

ForkedCallResult runInForkedChild (const std::function<int (std::string& output)>& body, int64_t fileSizeLimit = -1);
} // namespace vantrel::platform
