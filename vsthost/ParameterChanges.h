#pragma once

#include "vsthost/ParameterValueQueue.h"

#include <memory>
#include <vector>

namespace orvane::vsthost
{
/** The parameter changes of one block, one queue per parameter id. Queues for the expected
    number of parameters are made up front (setCapacity); a block that touches more parameters
    gets more queues instead of losing changes. Queues keep their address for the container's
    life. Not thread-safe; owned by the backend; not reference counted. */
class ParameterChanges final : public Steinberg::Vst::IParameterChanges
{
public:
    ParameterChanges() = default;
    virtual ~ParameterChanges() = default;

    /** Makes room for `parameters` queues (at least 1). Allocates; never on the audio path. */
    void setCapacity (std::size_t parameters);
    std::size_t capacity() const { return queues.size(); }

    void clear() { used = 0; }

    Steinberg::int32 PLUGIN_API getParameterCount() override;
    Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData (Steinberg::int32 index) override;
    /** The queue of `id`, reused when the block already has one. */
    Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData (const Steinberg::Vst::ParamID& id,
                                                                  Steinberg::int32& index) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    std::vector<std::unique_ptr<ParameterValueQueue>> queues;
    std::size_t used = 0;
};
} // namespace orvane::vsthost
