// The rack's entry points check the calling thread in checked builds: processBlock belongs to the
// device callback, prepare, the requests and the queries to the message thread. A call from the
// wrong thread stops the program with the broken contract instead of racing.
#include "RackTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace
{
using namespace vantrel;

#if VANTREL_THREAD_CHECKS
TEST (RackThreadContracts, AnEntryPointCalledFromTheWrongThreadStopsWithTheBrokenContract)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    struct Case
    {
        ThreadRole caller;
        std::function<void (MasterVstRack&)> call;
        const char* report;
    };

    const Case cases[] = {
        { ThreadRole::message, [] (MasterVstRack& rack)
          {
              float sample = 0.0f;
              float* channels[] = { &sample };
              rack.processBlock (channels, 1, 1);
          }, "processBlock must run on the audio thread, called on the message thread" },
        { ThreadRole::control, [] (MasterVstRack& rack)
          {
              float sample = 0.0f;
              float* channels[] = { &sample };
              rack.processBlock (channels, 1, 1);
          }, "processBlock must run on the audio thread, called on the control thread" },
        { ThreadRole::audio, [] (MasterVstRack& rack) { rack.prepare (48000.0, 512); },
          "prepare must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (MasterVstRack& rack) { rack.status(); },
          "status must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (MasterVstRack& rack) { rack.isBusy(); },
          "isBusy must run on the message thread, called on the audio thread" },
        { ThreadRole::control, [] (MasterVstRack& rack) { rack.choosePlugin (0, {}); },
          "choosePlugin must run on the message thread, called on the control thread" },
        { ThreadRole::control, [] (MasterVstRack& rack) { rack.saveAndWait(); },
          "saveAndWait must run on the message thread, called on the control thread" },
        { ThreadRole::audio, [] (MasterVstRack& rack) { rack.start ({}, {}); },
          "start must run on the message thread, called on the audio thread" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.report);
        EXPECT_DEATH (
            {
                auto rack = std::make_unique<MasterVstRack>();
                const ThreadRoleScope role (c.caller);
                c.call (*rack);
            },
            c.report);
    }
}
#endif
} // namespace
