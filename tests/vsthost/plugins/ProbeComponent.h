#pragma once

#include "ProbeBehaviour.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstprefetchablesupport.h"

#include <atomic>
#include <vector>

namespace probe
{
/** The processor half of a probe class: output = input x (2 x gain), a meter output parameter,
    a state of gain plus padding, and a log line for every call that tests look at. */
class ProbeComponent final : public Steinberg::Vst::IComponent,
                             public Steinberg::Vst::IAudioProcessor,
                             public Steinberg::Vst::IConnectionPoint,
                             public Steinberg::Vst::IPrefetchableSupport,
                             public Steinberg::Vst::IProcessContextRequirements
{
public:
    explicit ProbeComponent (const Behaviour& behaviour);
    virtual ~ProbeComponent() = default;

    // IPluginBase
    Steinberg::tresult PLUGIN_API initialize (Steinberg::FUnknown* context) override;
    Steinberg::tresult PLUGIN_API terminate() override;

    // IComponent
    Steinberg::tresult PLUGIN_API getControllerClassId (Steinberg::TUID classId) override;
    Steinberg::tresult PLUGIN_API setIoMode (Steinberg::Vst::IoMode mode) override;
    Steinberg::int32 PLUGIN_API getBusCount (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir) override;
    Steinberg::tresult PLUGIN_API getBusInfo (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                              Steinberg::int32 index, Steinberg::Vst::BusInfo& bus) override;
    Steinberg::tresult PLUGIN_API getRoutingInfo (Steinberg::Vst::RoutingInfo& in, Steinberg::Vst::RoutingInfo& out) override;
    Steinberg::tresult PLUGIN_API activateBus (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                               Steinberg::int32 index, Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setActive (Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;

    // IAudioProcessor
    Steinberg::tresult PLUGIN_API setBusArrangements (Steinberg::Vst::SpeakerArrangement* inputs, Steinberg::int32 numIns,
                                                      Steinberg::Vst::SpeakerArrangement* outputs, Steinberg::int32 numOuts) override;
    Steinberg::tresult PLUGIN_API getBusArrangement (Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
                                                     Steinberg::Vst::SpeakerArrangement& arr) override;
    Steinberg::tresult PLUGIN_API canProcessSampleSize (Steinberg::int32 symbolicSampleSize) override;
    Steinberg::uint32 PLUGIN_API getLatencySamples() override;
    Steinberg::tresult PLUGIN_API setupProcessing (Steinberg::Vst::ProcessSetup& setup) override;
    Steinberg::tresult PLUGIN_API setProcessing (Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;
    Steinberg::uint32 PLUGIN_API getTailSamples() override;

    // IConnectionPoint
    Steinberg::tresult PLUGIN_API connect (Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API disconnect (Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API notify (Steinberg::Vst::IMessage* message) override;

    // IPrefetchableSupport
    Steinberg::tresult PLUGIN_API getPrefetchableSupport (Steinberg::Vst::PrefetchableSupport& prefetchable) override;

    // IProcessContextRequirements
    Steinberg::uint32 PLUGIN_API getProcessContextRequirements() override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    void noise (const char* where);

    Behaviour behaviour;
    Steinberg::FUnknown* hostContext = nullptr;
    Steinberg::Vst::SpeakerArrangement arrangement;
    double gain = 0.5;
    double padding = 0.0;
    std::atomic<Steinberg::uint32> references { 1 };
};
} // namespace probe
