#include "vsthost/ParameterChanges.h"

#include "vsthost/ComSupport.h"

#include <algorithm>

namespace orvane::vsthost
{
using namespace Steinberg;

void ParameterChanges::setCapacity (std::size_t parameters)
{
    parameters = std::max<std::size_t> (parameters, 1);

    while (queues.size() < parameters)
        queues.push_back (std::make_unique<ParameterValueQueue>());
}

int32 PLUGIN_API ParameterChanges::getParameterCount()
{
    return static_cast<int32> (used);
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData (int32 index)
{
    if (index < 0 || static_cast<std::size_t> (index) >= used)
        return nullptr;

    return queues[static_cast<std::size_t> (index)].get();
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData (const Vst::ParamID& id, int32& index)
{
    for (std::size_t i = 0; i < used; ++i)
    {
        if (queues[i]->getParameterId() == id)
        {
            index = static_cast<int32> (i);
            return queues[i].get();
        }
    }

    if (used == queues.size())
        queues.push_back (std::make_unique<ParameterValueQueue>());

    auto& queue = *queues[used];
    queue.reset (id);
    index = static_cast<int32> (used++);
    return &queue;
}

tresult PLUGIN_API ParameterChanges::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<Vst::IParameterChanges> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API ParameterChanges::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API ParameterChanges::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
