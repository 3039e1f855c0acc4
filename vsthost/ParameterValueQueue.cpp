#include "vsthost/ParameterValueQueue.h"

#include "vsthost/ComSupport.h"

#include <algorithm>

namespace orvane::vsthost
{
using namespace Steinberg;

ParameterValueQueue::ParameterValueQueue()
{
    points.reserve (reservedPoints);
}

void ParameterValueQueue::reset (Vst::ParamID id)
{
    parameterId = id;
    points.clear();
}

Vst::ParamID PLUGIN_API ParameterValueQueue::getParameterId()
{
    return parameterId;
}

int32 PLUGIN_API ParameterValueQueue::getPointCount()
{
    return static_cast<int32> (points.size());
}

tresult PLUGIN_API ParameterValueQueue::getPoint (int32 index, int32& sampleOffset, Vst::ParamValue& value)
{
    if (index < 0 || static_cast<std::size_t> (index) >= points.size())
        return kResultFalse;

    sampleOffset = points[static_cast<std::size_t> (index)].sampleOffset;
    value = points[static_cast<std::size_t> (index)].value;
    return kResultOk;
}

tresult PLUGIN_API ParameterValueQueue::addPoint (int32 sampleOffset, Vst::ParamValue value, int32& index)
{
    const auto position = std::lower_bound (points.begin(), points.end(), sampleOffset,
                                            [] (const Point& p, int32 offset) { return p.sampleOffset < offset; });

    if (position != points.end() && position->sampleOffset == sampleOffset)
    {
        position->value = value;
        index = static_cast<int32> (position - points.begin());
        return kResultOk;
    }

    index = static_cast<int32> (position - points.begin());
    points.insert (position, Point { sampleOffset, value });
    return kResultOk;
}

tresult PLUGIN_API ParameterValueQueue::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<Vst::IParamValueQueue> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API ParameterValueQueue::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API ParameterValueQueue::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
