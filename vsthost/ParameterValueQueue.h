#pragma once

#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <vector>

namespace orvane::vsthost
{
/** The points of one parameter within one block, sorted by sample offset (a second point at the
    same offset replaces the first). Room for a few points is made up front, so that a block
    normally adds points without allocating. Owned by its ParameterChanges; not reference
    counted. */
class ParameterValueQueue final : public Steinberg::Vst::IParamValueQueue
{
public:
    static constexpr std::size_t reservedPoints = 16;

    ParameterValueQueue();
    virtual ~ParameterValueQueue() = default;

    void reset (Steinberg::Vst::ParamID id);

    Steinberg::Vst::ParamID PLUGIN_API getParameterId() override;
    Steinberg::int32 PLUGIN_API getPointCount() override;
    Steinberg::tresult PLUGIN_API getPoint (Steinberg::int32 index, Steinberg::int32& sampleOffset,
                                            Steinberg::Vst::ParamValue& value) override;
    Steinberg::tresult PLUGIN_API addPoint (Steinberg::int32 sampleOffset, Steinberg::Vst::ParamValue value,
                                            Steinberg::int32& index) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    struct Point
    {
        Steinberg::int32 sampleOffset = 0;
        Steinberg::Vst::ParamValue value = 0.0;
    };

    Steinberg::Vst::ParamID parameterId = 0;
    std::vector<Point> points;
};
} // namespace orvane::vsthost
