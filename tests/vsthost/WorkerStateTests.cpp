// Plug-in state through the real worker: SAVE_STATE in one worker restores the same output in a
// fresh one; malformed, oversized and unknown envelopes; large and odd plug-in states.
#include "ProbeClasses.h"
#include "WorkerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

using namespace vsthost_test;
using probe::Kind;

namespace
{
std::string loadLine (Kind kind)
{
    return "LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (kind);
}

std::vector<float> scaled (std::vector<float> samples, float factor)
{
    for (auto& sample : samples)
        sample *= factor;

    return samples;
}

/** The envelope up to the end of the component part (the controller part holds the meter's last
    value, which depends on the audio that ran). */
std::string throughComponent (const std::string& envelope)
{
    if (envelope.size() < 32)
        return envelope;

    std::uint32_t size = 0;

    for (int i = 3; i >= 0; --i)
        size = size * 256 + static_cast<std::uint32_t> (std::stoul (envelope.substr (16 + 2 * static_cast<std::size_t> (i), 2), nullptr, 16));

    return envelope.substr (0, 32 + 2 * static_cast<std::size_t> (size));
}

bool logHasPrefix (const WorkerSession& worker, const std::string& start)
{
    const auto log = worker.probeLog();
    return std::any_of (log.begin(), log.end(), [&] (const std::string& line) { return line.rfind (start, 0) == 0; });
}

/** A configured worker holding `kind`. */
void loadConfigured (WorkerSession& worker, Kind kind)
{
    ASSERT_TRUE (worker.command (loadLine (kind)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t256\trealtime").ok());
}

std::string savedState (Kind kind, const std::vector<std::string>& edits = {})
{
    WorkerSession worker;
    loadConfigured (worker, kind);

    for (const auto& edit : edits)
        EXPECT_TRUE (worker.command (edit).ok()) << edit;

    const auto reply = worker.command ("SAVE_STATE");
    EXPECT_TRUE (reply.ok()) << reply.final().substr (0, 100);
    return reply.ok() ? reply.final().substr (3) : std::string();
}
} // namespace

TEST (WorkerState, SavedStateRestoresTheSameOutputInAFreshWorker)
{
    std::string state;
    const auto input = testSignal (256);

    {
        WorkerSession worker;
        ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
        EXPECT_EQ (worker.command ("SAVE_STATE").error(), "VST3 backend not configured");
        ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t256\trealtime").ok());
        ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.25").ok());
        ASSERT_TRUE (worker.command ("SET_PARAM\t1\t0.001").ok());

        // The edits are still queued: the save flushes them to the processor first.
        const auto reply = worker.command ("SAVE_STATE");
        ASSERT_TRUE (reply.ok());
        state = reply.final().substr (3);
        EXPECT_EQ (state.find_first_not_of ("0123456789abcdef"), std::string::npos);
        EXPECT_EQ (state.substr (0, 16), "4f56535433533200");
        EXPECT_EQ (worker.process ("a", 256, input).samples, scaled (input, 0.5f));
    }

    for (const auto& text : { state, [&] { auto upper = state; std::transform (upper.begin(), upper.end(), upper.begin(), ::toupper); return upper; }() })
    {
        WorkerSession fresh;
        loadConfigured (fresh, Kind::fxStereo);
        EXPECT_EQ (fresh.process ("before", 256, input).samples, input);
        ASSERT_TRUE (fresh.command ("LOAD_STATE\t" + text).ok());
        const auto block = fresh.process ("after", 256, input);
        ASSERT_TRUE (block.ok);
        EXPECT_EQ (block.samples, scaled (input, 0.5f));
        EXPECT_TRUE (logHasPrefix (fresh, "component.setState gain=0.250000 padding=33554 thread=ui"));
        EXPECT_TRUE (logHasPrefix (fresh, "controller.setComponentState gain=0.250000 thread=ui"));
        EXPECT_TRUE (logHasPrefix (fresh, "controller.setState count=4 thread=ui"));

        // Saved again, the restored plug-in gives the same component state.
        const auto again = fresh.command ("SAVE_STATE").final();
        ASSERT_EQ (again.substr (0, 3), "OK\t");
        EXPECT_TRUE (throughComponent (again.substr (3)) == throughComponent (state));
    }
}

TEST (WorkerState, EditsQueuedBeforeALoadDoNotOverrideTheLoadedState)
{
    const auto state = savedState (Kind::fxStereo, { "SET_PARAM\t0\t0.25" });
    WorkerSession worker;
    loadConfigured (worker, Kind::fxStereo);
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t1").ok());
    ASSERT_TRUE (worker.command ("LOAD_STATE\t" + state).ok());
    const auto input = testSignal (256);
    EXPECT_EQ (worker.process ("x", 256, input).samples, scaled (input, 0.5f));
}

TEST (WorkerState, MalformedEnvelopesAreRefusedAndTheWorkerGoesOn)
{
    const auto valid = savedState (Kind::fxStereo);
    ASSERT_FALSE (valid.empty());
    const std::string invalid = "invalid or oversized VST3 state envelope";

    struct StateCase
    {
        std::string text;
        std::string error;
    };

    const std::vector<StateCase> cases {
        { valid.substr (1), invalid },
        { valid.substr (0, 30), invalid },
        { valid.substr (0, 40) + "x" + valid.substr (41), invalid },
        { "5" + valid.substr (1), "unsupported VST3 state envelope version" },
        { valid.substr (0, 14) + "01" + valid.substr (16), "unsupported VST3 state envelope version" },
        { valid + "00", "invalid VST3 state sizes" },
        { valid.substr (0, valid.size() - 2), "invalid VST3 state sizes" },
        { std::string (134217794, 'a'), invalid },
    };

    WorkerSession worker;
    loadConfigured (worker, Kind::fxStereo);

    for (const auto& c : cases)
    {
        EXPECT_EQ (worker.command ("LOAD_STATE\t" + c.text).error(), c.error) << c.text.substr (0, 48);
        EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
    }

    EXPECT_EQ (worker.command ("LOAD_STATE").error(), "unknown command");
    EXPECT_EQ (worker.command ("LOAD_STATE\t" + valid + "\tmore").error(), "unknown command");
    EXPECT_TRUE (worker.command ("LOAD_STATE\t" + valid).ok());
}

TEST (WorkerState, OddPluginStates)
{
    WorkerSession worker;

    // More than 64 MiB from the component: no state at all.
    loadConfigured (worker, Kind::bigComponent);
    EXPECT_EQ (worker.command ("SAVE_STATE").error(), "state save failed");

    // More than 64 MiB from the controller: only the controller's part is dropped.
    loadConfigured (worker, Kind::bigController);
    const auto controllerDropped = worker.command ("SAVE_STATE").final();
    ASSERT_LT (controllerDropped.size(), 200u);
    EXPECT_EQ (controllerDropped.substr (0, 3 + 32), "OK\t4f56535433533200" "10000000" "00000000");
    EXPECT_EQ (controllerDropped.size(), 3 + 32 + 2 * 16u);

    // Written 100 bytes, back to 0, 10 more: the extent written is kept.
    loadConfigured (worker, Kind::seekBack);
    const auto seekBack = worker.command ("SAVE_STATE").final();
    EXPECT_EQ (seekBack.substr (0, 3 + 24), "OK\t4f56535433533200" "64000000");
    EXPECT_EQ (seekBack.size(), 3 + 32 + 2 * (100u + 4 + 4 + 4 * 12));
}

TEST (WorkerState, ControllerAnswersToTheComponentState)
{
    const auto envelope = savedState (Kind::ctrlStateError);

    WorkerSession worker;
    loadConfigured (worker, Kind::ctrlStateError);
    EXPECT_EQ (worker.command ("LOAD_STATE\t" + envelope).error(), "controller setComponentState failed: 4");

    loadConfigured (worker, Kind::ctrlStateNotImpl);
    EXPECT_TRUE (worker.command ("LOAD_STATE\t" + savedState (Kind::ctrlStateNotImpl)).ok());

    // An envelope without a controller part never calls the controller's setState.
    WorkerSession another;
    loadConfigured (another, Kind::fxStereo);
    const auto componentOnly = envelope.substr (0, 24) + "00000000" + envelope.substr (32, 2 * 16);
    ASSERT_TRUE (another.command ("LOAD_STATE\t" + componentOnly).ok());
    EXPECT_TRUE (logHasPrefix (another, "controller.setComponentState"));
    EXPECT_FALSE (logHasPrefix (another, "controller.setState"));
}

TEST (WorkerState, StatesTheMainProgramCannotTakeAreRefusedWithAClearMessage)
{
    WorkerSession worker;
    loadConfigured (worker, Kind::fxStereo);

    // Tens of MiB of text each way take seconds in a sanitizer build on a busy machine; the
    // replies are waited for, and this cap only ends a worker that never answers.
    constexpr int largeStateMs = 180000;

    // About 17 MiB of component state: more than the client accepts (16 MiB).
    ASSERT_TRUE (worker.command ("SET_PARAM\t1\t" + std::to_string (17.0 / 32.0)).ok());
    EXPECT_EQ (worker.command ("SAVE_STATE", largeStateMs).error(), "VST3 state exceeds the 16 MiB transfer bound");
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");

    // 15 MiB travels and loads into a fresh worker.
    ASSERT_TRUE (worker.command ("SET_PARAM\t1\t" + std::to_string (15.0 / 32.0)).ok());
    const auto reply = worker.command ("SAVE_STATE", largeStateMs);
    ASSERT_TRUE (reply.ok()) << reply.final().substr (0, 100);
    EXPECT_LE (reply.final().size() - 3, 0x2000000u);

    WorkerSession fresh;
    loadConfigured (fresh, Kind::fxStereo);
    EXPECT_TRUE (fresh.command ("LOAD_STATE\t" + reply.final().substr (3), largeStateMs).ok());
    EXPECT_TRUE (logHasPrefix (fresh, "component.setState gain=0.500000 padding=15728640"));
}
