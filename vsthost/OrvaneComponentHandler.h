#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <cstdint>
#include <functional>

namespace orvane::vsthost
{
/** The component handler through which a plug-in's controller reports edits, restart requests
    and dirty state. The plug-in may call it from any thread; the callbacks it forwards to must
    therefore touch only thread-safe state. Owned by the backend; not reference counted. */
class OrvaneComponentHandler final : public Steinberg::Vst::IComponentHandler,
                                     public Steinberg::Vst::IComponentHandler2
{
public:
    OrvaneComponentHandler (std::function<void (std::uint32_t id, double value)> onPerformEdit,
                            std::function<void (std::int32_t flags)> onRestart,
                            std::function<void (bool dirty)> onDirty);
    virtual ~OrvaneComponentHandler() = default;

    // IComponentHandler
    Steinberg::tresult PLUGIN_API beginEdit (Steinberg::Vst::ParamID id) override;
    /** A value that is not finite or lies outside [0, 1] is refused with kInvalidArgument. */
    Steinberg::tresult PLUGIN_API performEdit (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API endEdit (Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API restartComponent (Steinberg::int32 flags) override;

    // IComponentHandler2
    Steinberg::tresult PLUGIN_API setDirty (Steinberg::TBool state) override;
    /** kNotImplemented: a plug-in cannot open its own editor. */
    Steinberg::tresult PLUGIN_API requestOpenEditor (Steinberg::FIDString name) override;
    Steinberg::tresult PLUGIN_API startGroupEdit() override;
    Steinberg::tresult PLUGIN_API finishGroupEdit() override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    const std::function<void (std::uint32_t, double)> onPerformEdit;
    const std::function<void (std::int32_t)> onRestart;
    const std::function<void (bool)> onDirty;
};
} // namespace orvane::vsthost
