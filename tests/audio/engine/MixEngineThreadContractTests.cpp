// The engine's render belongs to the device callback: a render from the message thread (or the
// rack's control thread) would race the callback for the voices, so checked builds stop there.
// The command ring has one producer, the message thread: a push from the callback (or a drain of
// the ring there while no callback runs) would race it, and checked builds stop there too.
#include "support/EngineTestSupport.h"

namespace
{
using namespace orvane::audio;
using namespace orvane::audio::testing;

#if VANTREL_THREAD_CHECKS
TEST (MixEngineThreadContracts, RenderOutsideTheAudioRoleStopsWithTheBrokenContract)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    for (const auto role : { vantrel::ThreadRole::message, vantrel::ThreadRole::control })
    {
        EXPECT_DEATH (
            {
                EngineRig rig;
                const vantrel::ThreadRoleScope caller (role);
                rig.engine->render (rig.pointers.data(), 2, 16, false);
            },
            "render must run on the audio thread");
    }
    EngineRig rig;
    rig.render (16);   // the rig renders in the audio role
    EXPECT_EQ (rig.left (0), 0.0f);
}

TEST (MixEngineThreadContracts, TheProducerSideOutsideTheMessageThreadStopsWithTheBrokenContract)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    struct Case
    {
        vantrel::ThreadRole caller;
        void (*call) (MixEngine&);
        const char* report;
    };
    const Case cases[] = {
        { vantrel::ThreadRole::audio, [] (MixEngine& engine)
          {
              EngineCommand command;
              engine.push (command);
          }, "push must run on the message thread, called on the audio thread" },
        { vantrel::ThreadRole::control, [] (MixEngine& engine) { engine.applyPending(); },
          "applyPending must run on the message thread, called on the control thread" },
        { vantrel::ThreadRole::message, [] (MixEngine& engine) { engine.sounding(); },
          "sounding must run on the audio thread, called on the message thread" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.report);
        EXPECT_DEATH (
            {
                EngineRig rig;
                const vantrel::ThreadRoleScope caller (c.caller);
                c.call (*rig.engine);
            },
            c.report);
    }
}
#endif
} // namespace
