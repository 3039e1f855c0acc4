// The worker's frame in process: the protocol thread and the UI loop together, the plug-in's
// destruction on the UI thread, and the exit code when the protocol loop itself fails.
#include "FakeBackend.h"

#include "vsthost/WorkerServer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

using namespace vsthost_test;
using namespace orvane::vsthost;

namespace
{
/** Services loading FakeBackends that report the thread that destroys them. */
ProtocolServices fakeServices (std::thread::id& destroyedOn, int& destroyed)
{
    ProtocolServices services;
    services.loadBackend = [&destroyedOn, &destroyed] (const std::string&, const std::string&, std::string&) -> BackendSlot
    {
        auto backend = std::make_unique<FakeBackend>();
        backend->onDestroy = [&destroyedOn, &destroyed]
        {
            destroyedOn = std::this_thread::get_id();
            ++destroyed;
        };
        return backend;
    };
    services.scanModule = [] (const std::string&, std::string& error)
    {
        error = "no scanning here";
        return std::vector<ClassRecord> {};
    };
    return services;
}

/** An input that fails while being read. */
class FailingInput final : public std::streambuf
{
protected:
    int_type underflow() override { throw std::runtime_error ("standard input failed"); }
};
} // namespace

TEST (WorkerServer, ServesTheConversationAndDestroysThePluginOnTheUiThread)
{
    std::thread::id destroyedOn;
    int destroyed = 0;
    std::istringstream in ("PING\nLOAD_VST3\ta\tb\nINFO\nLOAD_VST3\ta\tc\nCONFIG\t48000\t2\t64\nOPEN_EDITOR_ASYNC\tt\n");
    std::ostringstream out;

    const auto code = runWorkerServer (in, out, [&] (UiDispatcher&) { return fakeServices (destroyedOn, destroyed); });

    EXPECT_EQ (code, 0);
    EXPECT_EQ (out.str(), "OK\tORVANE_VST_HOST\t1\n"
                          "OK\t0123456789ABCDEF0123456789ABCDEF\n"
                          "OK\t0123456789ABCDEF0123456789ABCDEF\tFake Name\tFake Vendor\t1.0\t64\t32\t0\n"
                          "OK\t0123456789ABCDEF0123456789ABCDEF\n"
                          "OK\n"
                          "OK\n");
    EXPECT_EQ (destroyed, 2);
    EXPECT_EQ (destroyedOn, std::this_thread::get_id());
}

TEST (WorkerServer, AFailureOutsideAnyCommandEndsWithCode70AndAnErrorLine)
{
    std::thread::id destroyedOn;
    int destroyed = 0;
    FailingInput failing;
    std::istream in (&failing);
    in.exceptions (std::ios::badbit);
    std::ostringstream out;

    const auto code = runWorkerServer (in, out, [&] (UiDispatcher&) { return fakeServices (destroyedOn, destroyed); });

    EXPECT_EQ (code, 70);
    EXPECT_EQ (out.str(), "ERR\tstandard input failed\n");
}
