#pragma once

#include "ProbeBehaviour.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include <atomic>
#include <string>
#include <vector>

namespace probe
{
/** The controller half of a probe class. Setting its action parameter makes it call back into
    the host (restart requests, dirty state, edits) so tests can drive those paths. */
class ProbeController final : public Steinberg::Vst::IEditController, public Steinberg::Vst::IConnectionPoint
{
public:
    explicit ProbeController (const Behaviour& behaviour);
    virtual ~ProbeController();

    Steinberg::tresult PLUGIN_API initialize (Steinberg::FUnknown* context) override;
    Steinberg::tresult PLUGIN_API terminate() override;

    Steinberg::tresult PLUGIN_API setComponentState (Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;
    Steinberg::int32 PLUGIN_API getParameterCount() override;
    Steinberg::tresult PLUGIN_API getParameterInfo (Steinberg::int32 paramIndex, Steinberg::Vst::ParameterInfo& info) override;
    Steinberg::tresult PLUGIN_API getParamStringByValue (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue valueNormalized,
                                                         Steinberg::Vst::String128 string) override;
    Steinberg::tresult PLUGIN_API getParamValueByString (Steinberg::Vst::ParamID id, Steinberg::Vst::TChar* string,
                                                         Steinberg::Vst::ParamValue& valueNormalized) override;
    Steinberg::Vst::ParamValue PLUGIN_API normalizedParamToPlain (Steinberg::Vst::ParamID id,
                                                                  Steinberg::Vst::ParamValue valueNormalized) override;
    Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized (Steinberg::Vst::ParamID id,
                                                                  Steinberg::Vst::ParamValue plainValue) override;
    Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized (Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API setParamNormalized (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API setComponentHandler (Steinberg::Vst::IComponentHandler* handler) override;
    Steinberg::IPlugView* PLUGIN_API createView (Steinberg::FIDString name) override;

    Steinberg::tresult PLUGIN_API connect (Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API disconnect (Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API notify (Steinberg::Vst::IMessage* message) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    struct Parameter
    {
        Steinberg::Vst::ParamID id = 0;
        std::string title;
        Steinberg::int32 flags = 0;
        double defaultValue = 0.0;
        double value = 0.0;
    };

    Parameter* find (Steinberg::Vst::ParamID id);
    void act (int code);

    Behaviour behaviour;
    std::vector<Parameter> parameters;
    Steinberg::Vst::IComponentHandler* handler = nullptr;
    bool blockNextMeter = false;
    bool reloadAsked = false;
    std::atomic<Steinberg::uint32> references { 1 };
};
} // namespace probe
