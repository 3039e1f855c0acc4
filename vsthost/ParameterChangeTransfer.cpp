#include "vsthost/ParameterChangeTransfer.h"

#include "vsthost/ParameterChanges.h"

#include <algorithm>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
std::size_t slotCountFor (std::size_t ids)
{
    std::size_t count = 16;

    while (count < ids * 2)
        count *= 2;

    return count;
}

std::size_t hashOf (Vst::ParamID id)
{
    return static_cast<std::size_t> (id * 2654435761u);
}
} // namespace

ParameterChangeTransfer::ParameterChangeTransfer()
{
    setCapacity (1);
}

void ParameterChangeTransfer::setCapacity (std::size_t parameters)
{
    parameters = std::max<std::size_t> (parameters, 1);

    if (parameters <= reservedIds)
        return;

    reservedIds = parameters;
    pending.reserve (parameters);
    usedSlots.reserve (parameters);
    rebuildIndex (slotCountFor (parameters));
}

void ParameterChangeTransfer::rebuildIndex (std::size_t slotCount)
{
    slots.assign (slotCount, -1);

    for (std::size_t i = 0; i < pending.size(); ++i)
    {
        const auto slot = slotOf (pending[i].id);
        slots[slot] = static_cast<std::int32_t> (i);
        usedSlots[i] = slot;
    }
}

std::size_t ParameterChangeTransfer::slotOf (Vst::ParamID id) const
{
    const auto mask = slots.size() - 1;
    auto slot = hashOf (id) & mask;

    while (slots[slot] >= 0 && pending[static_cast<std::size_t> (slots[slot])].id != id)
        slot = (slot + 1) & mask;

    return slot;
}

void ParameterChangeTransfer::add (Vst::ParamID id, Vst::ParamValue value, int32 sampleOffset)
{
    auto slot = slotOf (id);

    if (slots[slot] >= 0)
    {
        auto& change = pending[static_cast<std::size_t> (slots[slot])];
        change.value = value;
        change.sampleOffset = sampleOffset;
        return;
    }

    if (pending.size() + 1 > reservedIds)
    {
        // More distinct ids than expected: grow rather than lose the edit.
        reservedIds = std::max<std::size_t> (reservedIds * 2, pending.size() + 1);
        pending.reserve (reservedIds);
        usedSlots.reserve (reservedIds);
        rebuildIndex (slotCountFor (reservedIds));
        slot = slotOf (id);
    }

    slots[slot] = static_cast<std::int32_t> (pending.size());
    pending.push_back ({ id, value, sampleOffset });
    usedSlots.push_back (slot);
}

void ParameterChangeTransfer::addAll (Vst::IParameterChanges& changes)
{
    const auto count = changes.getParameterCount();

    for (int32 i = 0; i < count; ++i)
    {
        auto* queue = changes.getParameterData (i);

        if (queue == nullptr)
            continue;

        const auto id = queue->getParameterId();
        const auto points = queue->getPointCount();

        for (int32 p = 0; p < points; ++p)
        {
            int32 offset = 0;
            Vst::ParamValue value = 0.0;

            if (queue->getPoint (p, offset, value) == kResultOk)
                add (id, value, offset);
        }
    }
}

void ParameterChangeTransfer::moveInto (ParameterChanges& changes)
{
    copyInto (changes);
    clear();
}

void ParameterChangeTransfer::copyInto (ParameterChanges& changes) const
{
    for (const auto& change : pending)
    {
        int32 index = 0;

        if (auto* queue = changes.addParameterData (change.id, index))
            queue->addPoint (change.sampleOffset, change.value, index);
    }
}

void ParameterChangeTransfer::moveAllInto (ParameterChangeTransfer& other)
{
    for (const auto& change : pending)
        other.add (change.id, change.value, change.sampleOffset);

    clear();
}

void ParameterChangeTransfer::takeAll (std::vector<Change>& out)
{
    out.insert (out.end(), pending.begin(), pending.end());
    clear();
}

void ParameterChangeTransfer::clear()
{
    for (const auto slot : usedSlots)
        slots[slot] = -1;

    pending.clear();
    usedSlots.clear();
}
} // namespace orvane::vsthost
