// The containers that carry parameter changes between controller and processor.
#include "vsthost/ParameterChangeTransfer.h"
#include "vsthost/ParameterChanges.h"

#include <gtest/gtest.h>

using namespace orvane::vsthost;
using Steinberg::int32;

namespace
{
std::vector<ParameterChangeTransfer::Change> drain (ParameterChangeTransfer& transfer)
{
    std::vector<ParameterChangeTransfer::Change> changes;
    transfer.takeAll (changes);
    return changes;
}
} // namespace

TEST (ParameterChangeTransfer, NewestValuePerParameterWinsSoNoEditIsLost)
{
    // Sized for one parameter, as for a one-parameter plug-in: five edits before one block.
    ParameterChangeTransfer transfer;
    transfer.setCapacity (1);

    for (int i = 1; i <= 5; ++i)
        transfer.add (0, i * 0.1, 0);

    const auto changes = drain (transfer);
    ASSERT_EQ (changes.size(), 1u);
    EXPECT_EQ (changes[0].id, 0u);
    EXPECT_DOUBLE_EQ (changes[0].value, 0.5);
    EXPECT_TRUE (transfer.empty());
}

TEST (ParameterChangeTransfer, MoreParametersThanExpectedStillGetTheirSlot)
{
    ParameterChangeTransfer transfer;
    transfer.setCapacity (2);

    for (Steinberg::Vst::ParamID id = 0; id < 1000; ++id)
        transfer.add (id * 7919u, id / 1000.0, static_cast<int32> (id % 3));

    transfer.add (7919u * 10, 0.75, 5);   // an update keeps its first position
    const auto changes = drain (transfer);
    ASSERT_EQ (changes.size(), 1000u);

    for (std::size_t i = 0; i < changes.size(); ++i)
    {
        EXPECT_EQ (changes[i].id, i * 7919u);

        if (i != 10)
        {
            EXPECT_DOUBLE_EQ (changes[i].value, i / 1000.0);
        }
    }

    EXPECT_DOUBLE_EQ (changes[10].value, 0.75);
    EXPECT_EQ (changes[10].sampleOffset, 5);
    EXPECT_GE (transfer.capacity(), 1000u);

    // Cleared slots are usable again, with no stale entry left behind.
    transfer.add (7919u * 10, 0.25, 0);
    transfer.add (1, 0.5, 0);
    const auto again = drain (transfer);
    ASSERT_EQ (again.size(), 2u);
    EXPECT_EQ (again[0].id, 7919u * 10);
    EXPECT_DOUBLE_EQ (again[0].value, 0.25);
}

TEST (ParameterChangeTransfer, MovesIntoChangesAndCollectsFromThem)
{
    ParameterChangeTransfer input;
    input.setCapacity (4);
    input.add (3, 0.3, 0);
    input.add (9, 0.9, 0);
    input.add (3, 0.4, 0);

    ParameterChanges changes;
    changes.setCapacity (1);
    input.moveInto (changes);
    EXPECT_TRUE (input.empty());
    ASSERT_EQ (changes.getParameterCount(), 2);

    int32 offset = -1;
    double value = 0.0;
    auto* first = changes.getParameterData (0);
    EXPECT_EQ (first->getParameterId(), 3u);
    ASSERT_EQ (first->getPointCount(), 1);
    first->getPoint (0, offset, value);
    EXPECT_DOUBLE_EQ (value, 0.4);
    EXPECT_EQ (changes.getParameterData (2), nullptr);
    EXPECT_EQ (changes.getParameterData (-1), nullptr);

    // Collecting a plug-in's output keeps the last point of each parameter.
    int32 index = 0;
    auto* meter = changes.addParameterData (9, index);
    EXPECT_EQ (index, 1);
    meter->addPoint (100, 0.95, index);

    ParameterChangeTransfer output;
    output.addAll (changes);
    const auto collected = drain (output);
    ASSERT_EQ (collected.size(), 2u);
    EXPECT_DOUBLE_EQ (collected[1].value, 0.95);
    EXPECT_EQ (collected[1].sampleOffset, 100);
}

TEST (ParameterChanges, QueuesAreReusedPerIdAndKeepPointsSorted)
{
    ParameterChanges changes;
    changes.setCapacity (2);
    int32 index = -1;
    auto* queue = changes.addParameterData (5, index);
    EXPECT_EQ (changes.addParameterData (5, index), queue);
    EXPECT_EQ (index, 0);

    // More parameters than the capacity: a new queue, earlier ones keep their address.
    changes.addParameterData (6, index);
    changes.addParameterData (7, index);
    EXPECT_EQ (index, 2);
    EXPECT_EQ (changes.getParameterData (0), queue);

    queue->addPoint (50, 0.5, index);
    queue->addPoint (10, 0.1, index);
    EXPECT_EQ (index, 0);
    queue->addPoint (50, 0.55, index);   // same offset replaces
    EXPECT_EQ (index, 1);
    ASSERT_EQ (queue->getPointCount(), 2);

    int32 offset = 0;
    double value = 0.0;
    EXPECT_EQ (queue->getPoint (1, offset, value), Steinberg::kResultOk);
    EXPECT_EQ (offset, 50);
    EXPECT_DOUBLE_EQ (value, 0.55);
    EXPECT_EQ (queue->getPoint (2, offset, value), Steinberg::kResultFalse);

    changes.clear();
    EXPECT_EQ (changes.getParameterCount(), 0);
    EXPECT_EQ (changes.addParameterData (8, index)->getPointCount(), 0);
}
