#include "tests/audio/AllocationCounter.h"
#include "support/ScriptedShow.h"

#include <random>

using namespace orvane::audio;
using namespace orvane::audio::testing;

TEST (NoAllocRender, TheCounterSeesAllocations)
{
    ScopedAllocationCount count;
    auto* value = new int (3);
    std::vector<float> vector (100);
    delete value;
    EXPECT_EQ (count.allocations(), 2u);
}

// A show that uses every command kind, every EQ, the tap at all three points and the master
// stage, at many block sizes: render must not allocate once.
TEST (NoAllocRender, AScriptedShowRendersWithoutAllocating)
{
    EngineRig rig;
    std::mt19937 random (11);
    std::uint64_t allocations = 0;
    int blocks = 0;
    const std::intptr_t selections[] = { 0, AnalyzerFrame::masterOutput, AnalyzerFrame::trackBus, 1 };
    for (int round = 0; round < 40; ++round)
    {
        const auto show = scriptedShow (rig, 48000.0, round * 1000);
        rig.engine->analyzerTap().setSourceSelection (selections[round % 4] == 1 ? round * 1000 + 1 : selections[round % 4]);
        rig.engine->setPadBusGain ((float) (round % 7) - 4.0f);
        rig.engine->setPadMute (round % 5 == 0);
        std::vector<float> left, right;
        renderShow (*rig.engine, show, scriptedShowLength, [&] { return (int) (random() % 64); }, left, right,
                    round % 2 == 0, [&] (const std::function<void()>& render) {
                        ScopedAllocationCount count;
                        render();
                        allocations += count.allocations();
                        ++blocks;
                    });
        // Stop everything, let the engine apply it, and only then free the show's PCM.
        for (const auto& stop : { simple (EngineCommandKind::stopVoice, 0), simple (EngineCommandKind::stopVoice, 1),
                                  simple (EngineCommandKind::stopAllPads) })
            ASSERT_TRUE (rig.push (stop));
        {
            ScopedAllocationCount count;
            rig.engine->applyPending();
            allocations += count.allocations();
        }
        rig.held.clear();
    }
    EXPECT_GT (blocks, 10000);
    EXPECT_EQ (allocations, 0u);
}
