#pragma once

#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <cstdint>
#include <vector>

namespace orvane::vsthost
{
class ParameterChanges;

/** Parameter changes waiting to cross between controller and processor. Changes of the same
    parameter collapse into the newest value, so a queue sized for the parameter count never
    drops an edit; a parameter beyond that size still gets a slot (allocating only then).
    Not thread-safe: the backend guards each transfer with its own mutex. */
class ParameterChangeTransfer
{
public:
    struct Change
    {
        Steinberg::Vst::ParamID id = 0;
        Steinberg::Vst::ParamValue value = 0.0;
        Steinberg::int32 sampleOffset = 0;
    };

    ParameterChangeTransfer();

    /** Room for `parameters` distinct ids (at least 1) without allocating; pending changes stay. */
    void setCapacity (std::size_t parameters);
    std::size_t capacity() const { return reservedIds; }

    /** The newest value of `id` wins; its position in the order stays that of its first change. */
    void add (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value, Steinberg::int32 sampleOffset);

    /** Every point of every queue of `changes`, in order. */
    void addAll (Steinberg::Vst::IParameterChanges& changes);

    /** Moves every pending change into `changes` (one point per id) and empties the transfer. */
    void moveInto (ParameterChanges& changes);

    /** Adds every pending change to `other` (its newest values win there) and empties the
        transfer. */
    void moveAllInto (ParameterChangeTransfer& other);

    /** Adds every pending change to `changes` (one point per id); the transfer keeps them. */
    void copyInto (ParameterChanges& changes) const;

    /** Appends every pending change to `out` and empties the transfer. */
    void takeAll (std::vector<Change>& out);

    void clear();
    std::size_t size() const { return pending.size(); }
    bool empty() const { return pending.empty(); }

private:
    std::size_t slotOf (Steinberg::Vst::ParamID id) const;
    void rebuildIndex (std::size_t slotCount);

    std::vector<Change> pending;
    std::vector<std::int32_t> slots;      // open addressing: index into `pending`, -1 when free
    std::vector<std::size_t> usedSlots;   // the slot of each pending change, for clearing
    std::size_t reservedIds = 0;
};
} // namespace orvane::vsthost
