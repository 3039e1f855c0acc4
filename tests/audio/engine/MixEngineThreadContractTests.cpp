// The engine's render belongs to the device callback: a render from the message thread (or the
// rack's control thread) would race the callback for the voices, so checked builds stop there.
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
#endif
} // namespace
