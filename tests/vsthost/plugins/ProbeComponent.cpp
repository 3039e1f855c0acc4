#include "ProbeComponent.h"

#include "ProbeLog.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

namespace probe
{
using namespace Steinberg;

namespace
{
const char componentMagic[4] = { 'P', 'R', 'B', '1' };

template <typename Interface, typename Object>
bool answer (const TUID iid, void** obj, Object* self)
{
    if (! FUnknownPrivate::iidEqual (iid, Interface::iid))
        return false;

    *obj = static_cast<Interface*> (self);
    self->addRef();
    return true;
}

bool writeAll (IBStream* stream, const void* data, int32 size)
{
    int32 written = 0;
    return stream->write (const_cast<void*> (data), size, &written) == kResultOk && written == size;
}

bool readAll (IBStream* stream, void* data, int32 size)
{
    int32 got = 0;
    return stream->read (data, size, &got) == kResultOk && got == size;
}
} // namespace

ProbeComponent::ProbeComponent (const Behaviour& b)
    : behaviour (b), arrangement (b.mono ? Vst::SpeakerArr::kMono : Vst::SpeakerArr::kStereo)
{
}

void ProbeComponent::noise (const char* where)
{
    if (! behaviour.printsToStdout)
        return;

    std::printf ("OK\tnoise from %s\n", where);
    std::cout << "ERR\tmore noise from " << where << std::endl;
    std::fflush (stdout);
}

tresult PLUGIN_API ProbeComponent::initialize (FUnknown* context)
{
    noise ("initialize");
    hostContext = context;
    std::string hostName = "none";

    if (context != nullptr)
    {
        Vst::IHostApplication* application = nullptr;

        if (context->queryInterface (Vst::IHostApplication::iid, reinterpret_cast<void**> (&application)) == kResultOk)
        {
            Vst::String128 name {};
            application->getName (name);
            hostName.clear();

            for (int i = 0; i < 128 && name[i] != 0; ++i)
                hostName += static_cast<char> (name[i]);

            application->release();
        }
    }

    logLine ("component.initialize host=" + hostName);
    return behaviour.failsInitialize ? kResultFalse : kResultOk;
}

tresult PLUGIN_API ProbeComponent::terminate()
{
    logLine ("component.terminate");
    hostContext = nullptr;
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::getControllerClassId (TUID classId)
{
    if (! behaviour.hasController)
        return kResultFalse;

    controllerClassId (behaviour.kind, classId);
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::setIoMode (Vst::IoMode)
{
    return kResultOk;
}

int32 PLUGIN_API ProbeComponent::getBusCount (Vst::MediaType type, Vst::BusDirection dir)
{
    if (type != Vst::kAudio)
        return 0;

    return dir == Vst::kInput ? behaviour.inputBuses : 1;
}

tresult PLUGIN_API ProbeComponent::getBusInfo (Vst::MediaType type, Vst::BusDirection dir, int32 index, Vst::BusInfo& bus)
{
    if (type != Vst::kAudio || index < 0 || index >= getBusCount (type, dir))
        return kInvalidArgument;

    bus = {};
    bus.mediaType = Vst::kAudio;
    bus.direction = dir;
    bus.channelCount = behaviour.mono ? 1 : 2;
    bus.busType = index == 0 ? Vst::kMain : Vst::kAux;
    bus.flags = Vst::BusInfo::kDefaultActive;
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::getRoutingInfo (Vst::RoutingInfo&, Vst::RoutingInfo&)
{
    return kNotImplemented;
}

tresult PLUGIN_API ProbeComponent::activateBus (Vst::MediaType, Vst::BusDirection dir, int32 index, TBool state)
{
    logLine ("activateBus dir=" + std::to_string (dir) + " index=" + std::to_string (index) + " state=" + std::to_string (state));
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::setActive (TBool state)
{
    noise ("setActive");
    logLine ("setActive " + std::to_string (state));
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::setState (IBStream* state)
{
    char magic[4] {};
    double storedGain = 0.0;
    std::uint32_t paddingBytes = 0;

    if (state == nullptr || ! readAll (state, magic, 4) || std::memcmp (magic, componentMagic, 4) != 0
        || ! readAll (state, &storedGain, sizeof (storedGain)) || ! readAll (state, &paddingBytes, sizeof (paddingBytes)))
        return kResultFalse;

    gain = storedGain;
    padding = paddingBytes / paddingUnit;
    logLine ("component.setState gain=" + std::to_string (gain) + " padding=" + std::to_string (paddingBytes));
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::getState (IBStream* state)
{
    if (state == nullptr)
        return kInvalidArgument;

    if (behaviour.stateMode == StateMode::bigComponent)
    {
        // More than the host's bound; the write errors are ignored on purpose.
        std::vector<char> chunk (1 << 20, 'b');

        for (int i = 0; i < 64; ++i)
            writeAll (state, chunk.data(), static_cast<int32> (chunk.size()));

        writeAll (state, chunk.data(), 1);
        return kResultOk;
    }

    if (behaviour.stateMode == StateMode::seekBack)
    {
        std::vector<char> bytes (100, 's');
        writeAll (state, bytes.data(), 100);
        state->seek (0, IBStream::kIBSeekSet, nullptr);
        writeAll (state, bytes.data(), 10);
        return kResultOk;
    }

    const auto paddingBytes = static_cast<std::uint32_t> (std::lround (padding * paddingUnit));

    if (! writeAll (state, componentMagic, 4) || ! writeAll (state, &gain, sizeof (gain))
        || ! writeAll (state, &paddingBytes, sizeof (paddingBytes)))
        return kResultFalse;

    std::vector<char> chunk (65536, 'p');

    for (std::uint32_t left = paddingBytes; left > 0;)
    {
        const auto part = std::min<std::uint32_t> (left, static_cast<std::uint32_t> (chunk.size()));

        if (! writeAll (state, chunk.data(), static_cast<int32> (part)))
            return kResultFalse;

        left -= part;
    }

    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::setBusArrangements (Vst::SpeakerArrangement* inputs, int32 numIns,
                                                       Vst::SpeakerArrangement* outputs, int32 numOuts)
{
    logLine ("setBusArrangements ins=" + std::to_string (numIns) + " outs=" + std::to_string (numOuts));

    if (behaviour.mono)
        return behaviour.acceptsArrangement ? kResultOk : kResultFalse;

    if (numIns < 1 || numOuts < 1 || inputs[0] != Vst::SpeakerArr::kStereo || outputs[0] != Vst::SpeakerArr::kStereo)
        return kResultFalse;

    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::getBusArrangement (Vst::BusDirection, int32 index, Vst::SpeakerArrangement& arr)
{
    if (index != 0)
        return kInvalidArgument;

    arr = arrangement;
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::canProcessSampleSize (int32 symbolicSampleSize)
{
    return symbolicSampleSize == Vst::kSample32 ? kResultOk : kResultFalse;
}

uint32 PLUGIN_API ProbeComponent::getLatencySamples()
{
    return 64;
}

uint32 PLUGIN_API ProbeComponent::getTailSamples()
{
    return 32;
}

tresult PLUGIN_API ProbeComponent::setupProcessing (Vst::ProcessSetup& setup)
{
    std::ostringstream line;
    line << "setupProcessing mode=" << setup.processMode << " max=" << setup.maxSamplesPerBlock << " rate=" << setup.sampleRate;
    logLine (line.str());
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::setProcessing (TBool state)
{
    logLine ("setProcessing " + std::to_string (state));
    return behaviour.setProcessingNotImplemented ? kNotImplemented : kResultOk;
}

tresult PLUGIN_API ProbeComponent::process (Vst::ProcessData& data)
{
    noise ("process");

    if (behaviour.crashInProcess)
        std::abort();

    std::ostringstream line;
    line << "process frames=" << data.numSamples << " mode=" << data.processMode;

    if (behaviour.skipsEmptyProcess && data.numSamples == 0)
    {
        logLine (line.str() + " skipped");
        return kResultOk;
    }

    if (data.processContext != nullptr)
    {
        const auto& context = *data.processContext;
        line << " pos=" << context.projectTimeSamples << " cont=" << context.continousTimeSamples << " state=" << context.state
             << " tempo=" << context.tempo << " rate=" << context.sampleRate;
    }

    line << " changes=";

    if (auto* changes = data.inputParameterChanges)
    {
        for (int32 i = 0; i < changes->getParameterCount(); ++i)
        {
            auto* queue = changes->getParameterData (i);
            int32 offset = 0;
            Vst::ParamValue value = 0.0;

            for (int32 p = 0; p < queue->getPointCount(); ++p)
            {
                queue->getPoint (p, offset, value);
                line << queue->getParameterId() << ':' << value << '@' << offset << ',';

                if (queue->getParameterId() == gainParameter)
                    gain = value;
                else if (queue->getParameterId() == paddingParameter)
                    padding = value;
            }
        }
    }

    logLine (line.str());

    if (behaviour.processFails)
        return kResultFalse;

    if (data.numSamples == 0 || data.numInputs < 1 || data.numOutputs < 1)
        return kResultOk;

    const auto factor = static_cast<float> (2.0 * gain);
    float peak = 0.0f;

    for (int32 c = 0; c < data.outputs[0].numChannels && c < data.inputs[0].numChannels; ++c)
    {
        const auto* in = data.inputs[0].channelBuffers32[c];
        auto* out = data.outputs[0].channelBuffers32[c];

        for (int32 i = 0; i < data.numSamples; ++i)
        {
            out[i] = in[i] * factor;
            peak = std::max (peak, std::fabs (out[i]));
        }
    }

    if (data.outputParameterChanges != nullptr && behaviour.plainParameters < 0)
    {
        int32 index = 0;

        if (auto* queue = data.outputParameterChanges->addParameterData (meterParameter, index))
            queue->addPoint (0, std::min (1.0, static_cast<double> (peak)), index);
    }

    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::connect (Vst::IConnectionPoint* other)
{
    logLine ("component.connect");

    if (other == nullptr)
        return kInvalidArgument;

    Vst::IHostApplication* application = nullptr;

    if (hostContext != nullptr
        && hostContext->queryInterface (Vst::IHostApplication::iid, reinterpret_cast<void**> (&application)) == kResultOk)
    {
        Vst::IMessage* message = nullptr;
        TUID messageId;
        std::memcpy (messageId, Vst::IMessage::iid.toTUID(), sizeof (TUID));

        if (application->createInstance (messageId, messageId, reinterpret_cast<void**> (&message)) == kResultOk && message != nullptr)
        {
            message->setMessageID ("hello");
            message->getAttributes()->setInt ("answer", 42);
            other->notify (message);
            message->release();
        }

        application->release();
    }

    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::disconnect (Vst::IConnectionPoint*)
{
    logLine ("component.disconnect");
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::notify (Vst::IMessage*)
{
    return kResultOk;
}

tresult PLUGIN_API ProbeComponent::getPrefetchableSupport (Vst::PrefetchableSupport& prefetchable)
{
    logLine ("getPrefetchableSupport");
    prefetchable = static_cast<Vst::PrefetchableSupport> (behaviour.prefetchState);
    return kResultOk;
}

uint32 PLUGIN_API ProbeComponent::getProcessContextRequirements()
{
    using Requirements = Vst::IProcessContextRequirements;
    return Requirements::kNeedContinousTimeSamples | Requirements::kNeedTransportState | Requirements::kNeedTempo;
}

tresult PLUGIN_API ProbeComponent::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (FUnknownPrivate::iidEqual (iid, FUnknown::iid) || FUnknownPrivate::iidEqual (iid, IPluginBase::iid))
    {
        *obj = static_cast<IPluginBase*> (static_cast<Vst::IComponent*> (this));
        addRef();
        return kResultOk;
    }

    if (answer<Vst::IComponent> (iid, obj, this) || answer<Vst::IAudioProcessor> (iid, obj, this)
        || answer<Vst::IConnectionPoint> (iid, obj, this) || answer<Vst::IProcessContextRequirements> (iid, obj, this))
        return kResultOk;

    if (behaviour.prefetchState >= 0 && answer<Vst::IPrefetchableSupport> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API ProbeComponent::addRef()
{
    return ++references;
}

uint32 PLUGIN_API ProbeComponent::release()
{
    const auto left = --references;

    if (left == 0)
        delete this;

    return left;
}
} // namespace probe
