#include "ProbeController.h"

#include "ProbeLog.h"
#include "ProbeView.h"

#include "pluginterfaces/base/ibstream.h"

#include <cmath>
#include <cstring>
#include <sstream>

namespace probe
{
using namespace Steinberg;

namespace
{
const char controllerMagic[4] = { 'P', 'R', 'C', '1' };

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

void copyTitle (Vst::String128 target, const std::string& title)
{
    std::size_t i = 0;

    for (; i < title.size() && i < 127; ++i)
        target[i] = static_cast<Vst::TChar> (static_cast<unsigned char> (title[i]));

    target[i] = 0;
}
} // namespace

ProbeController::ProbeController (const Behaviour& b)
    : behaviour (b)
{
    if (b.plainParameters >= 0)
    {
        parameters.reserve (static_cast<std::size_t> (b.plainParameters));

        for (int i = 0; i < b.plainParameters; ++i)
            parameters.push_back ({ static_cast<Vst::ParamID> (i), "P" + std::to_string (i), Vst::ParameterInfo::kCanAutomate, 0.5, 0.5 });
    }
    else
    {
        parameters.push_back ({ gainParameter, "Gain", Vst::ParameterInfo::kCanAutomate, 0.5, 0.5 });
        parameters.push_back ({ paddingParameter, "Padding\tBytes", Vst::ParameterInfo::kCanAutomate, 0.0, 0.0 });
        parameters.push_back ({ meterParameter, "Meter", Vst::ParameterInfo::kIsReadOnly, 0.0, 0.0 });
        parameters.push_back ({ actionParameter, "Action", 0, 1e-05, 1e-05 });
    }
}

ProbeController::~ProbeController()
{
    if (handler != nullptr)
        handler->release();
}

ProbeController::Parameter* ProbeController::find (Vst::ParamID id)
{
    for (auto& parameter : parameters)
        if (parameter.id == id)
            return &parameter;

    return nullptr;
}

tresult PLUGIN_API ProbeController::initialize (FUnknown*)
{
    logLine ("controller.initialize");
    return kResultOk;
}

tresult PLUGIN_API ProbeController::terminate()
{
    logLine ("controller.terminate");
    return kResultOk;
}

tresult PLUGIN_API ProbeController::setComponentState (IBStream* state)
{
    char magic[4] {};
    double gain = 0.0;

    if (state != nullptr && readAll (state, magic, 4) && std::memcmp (magic, "PRB1", 4) == 0 && readAll (state, &gain, sizeof (gain)))
        if (auto* parameter = find (gainParameter))
            parameter->value = gain;

    logLine ("controller.setComponentState gain=" + std::to_string (gain));
    return behaviour.setComponentStateResult;
}

tresult PLUGIN_API ProbeController::setState (IBStream* state)
{
    char magic[4] {};
    std::uint32_t count = 0;

    if (state == nullptr || ! readAll (state, magic, 4) || std::memcmp (magic, controllerMagic, 4) != 0
        || ! readAll (state, &count, sizeof (count)))
        return kResultFalse;

    for (std::uint32_t i = 0; i < count; ++i)
    {
        Vst::ParamID id = 0;
        double value = 0.0;

        if (! readAll (state, &id, sizeof (id)) || ! readAll (state, &value, sizeof (value)))
            return kResultFalse;

        if (auto* parameter = find (id); parameter != nullptr && id != actionParameter)
            parameter->value = value;
    }

    logLine ("controller.setState count=" + std::to_string (count));
    return kResultOk;
}

tresult PLUGIN_API ProbeController::getState (IBStream* state)
{
    if (state == nullptr)
        return kInvalidArgument;

    if (behaviour.stateMode == StateMode::bigController)
    {
        std::vector<char> chunk (1 << 20, 'c');

        for (int i = 0; i < 64; ++i)
            writeAll (state, chunk.data(), static_cast<int32> (chunk.size()));

        writeAll (state, chunk.data(), 1);
        return kResultOk;
    }

    const auto count = static_cast<std::uint32_t> (parameters.size());

    if (! writeAll (state, controllerMagic, 4) || ! writeAll (state, &count, sizeof (count)))
        return kResultFalse;

    for (const auto& parameter : parameters)
        if (! writeAll (state, &parameter.id, sizeof (parameter.id)) || ! writeAll (state, &parameter.value, sizeof (parameter.value)))
            return kResultFalse;

    return kResultOk;
}

int32 PLUGIN_API ProbeController::getParameterCount()
{
    return static_cast<int32> (parameters.size());
}

tresult PLUGIN_API ProbeController::getParameterInfo (int32 paramIndex, Vst::ParameterInfo& info)
{
    if (paramIndex < 0 || static_cast<std::size_t> (paramIndex) >= parameters.size())
        return kInvalidArgument;

    const auto& parameter = parameters[static_cast<std::size_t> (paramIndex)];
    info = {};
    info.id = parameter.id;
    copyTitle (info.title, parameter.title);
    copyTitle (info.shortTitle, parameter.title.substr (0, 3));
    info.stepCount = parameter.id == actionParameter ? 4096 : 0;
    info.defaultNormalizedValue = parameter.defaultValue;
    info.flags = parameter.flags;
    return kResultOk;
}

tresult PLUGIN_API ProbeController::getParamStringByValue (Vst::ParamID, Vst::ParamValue valueNormalized, Vst::String128 string)
{
    copyTitle (string, std::to_string (valueNormalized));
    return kResultOk;
}

tresult PLUGIN_API ProbeController::getParamValueByString (Vst::ParamID, Vst::TChar*, Vst::ParamValue&)
{
    return kNotImplemented;
}

Vst::ParamValue PLUGIN_API ProbeController::normalizedParamToPlain (Vst::ParamID, Vst::ParamValue valueNormalized)
{
    return valueNormalized;
}

Vst::ParamValue PLUGIN_API ProbeController::plainParamToNormalized (Vst::ParamID, Vst::ParamValue plainValue)
{
    return plainValue;
}

Vst::ParamValue PLUGIN_API ProbeController::getParamNormalized (Vst::ParamID id)
{
    const auto* parameter = find (id);
    return parameter != nullptr ? parameter->value : 0.0;
}

tresult PLUGIN_API ProbeController::setParamNormalized (Vst::ParamID id, Vst::ParamValue value)
{
    auto* parameter = find (id);

    if (parameter == nullptr)
        return kInvalidArgument;

    if (id == meterParameter && blockNextMeter)
    {
        blockNextMeter = false;
        logLine ("busy.begin");
        waitForGate();
        logLine ("busy.end");
    }

    parameter->value = value;

    // Like a plug-in whose structure follows what it hears: a loud signal makes it ask once to
    // be loaded again.
    if (id == meterParameter && behaviour.reloadsWhenLoud && value >= loudMeter && ! reloadAsked && handler != nullptr)
    {
        reloadAsked = true;
        logLine ("restartComponent flags=1 result=" + std::to_string (handler->restartComponent (Vst::kReloadComponent)));
    }

    if (id != meterParameter)
    {
        std::ostringstream line;
        line << "setParamNormalized id=" << id << " value=" << value;
        logLine (line.str());
    }

    if (id == actionParameter)
        act (static_cast<int> (std::lround (value * 4096.0)));

    return kResultOk;
}

void ProbeController::act (int code)
{
    if (handler == nullptr)
        return;

    if (code >= 1 && code < 1024)
    {
        logLine ("restartComponent flags=" + std::to_string (code) + " result=" + std::to_string (handler->restartComponent (code)));
        return;
    }

    Vst::IComponentHandler2* second = nullptr;
    handler->queryInterface (Vst::IComponentHandler2::iid, reinterpret_cast<void**> (&second));

    switch (code)
    {
        case actionSetDirty:
        case actionClearDirty:
            if (second != nullptr)
                logLine ("setDirty result=" + std::to_string (second->setDirty (code == actionSetDirty)));
            break;

        case actionPerformEdit:
        case actionPerformEditOutOfRange:
        {
            const double value = code == actionPerformEdit ? 0.75 : 2.0;
            handler->beginEdit (gainParameter);
            const auto result = handler->performEdit (gainParameter, value);
            handler->endEdit (gainParameter);

            if (result == kResultOk)
                find (gainParameter)->value = value;

            logLine ("performEdit result=" + std::to_string (result));
            break;
        }

        case actionBlockNextMeter:
            blockNextMeter = true;
            break;

        case actionGrowParameters:
        case actionGrowParametersValues:
        {
            for (Vst::ParamID i = 0; i < 64; ++i)
                parameters.push_back ({ 100 + i, "Extra " + std::to_string (i), Vst::ParameterInfo::kCanAutomate, 0.0, 0.0 });

            const auto flags = code == actionGrowParameters ? Vst::kParamTitlesChanged : Vst::kParamValuesChanged;
            logLine ("grow result=" + std::to_string (handler->restartComponent (flags)));
            break;
        }

        default:
            break;
    }

    if (second != nullptr)
        second->release();
}

tresult PLUGIN_API ProbeController::setComponentHandler (Vst::IComponentHandler* newHandler)
{
    if (newHandler != nullptr)
        newHandler->addRef();

    if (handler != nullptr)
        handler->release();

    handler = newHandler;
    logLine (std::string ("setComponentHandler ") + (newHandler != nullptr ? "set" : "null"));
    return kResultOk;
}

IPlugView* PLUGIN_API ProbeController::createView (FIDString name)
{
    if (behaviour.editor == EditorMode::none || name == nullptr || std::strcmp (name, Vst::ViewType::kEditor) != 0)
        return nullptr;

    logLine ("controller.createView");
    return new ProbeView (behaviour.editor);
}

tresult PLUGIN_API ProbeController::connect (Vst::IConnectionPoint*)
{
    logLine ("controller.connect");
    return kResultOk;
}

tresult PLUGIN_API ProbeController::disconnect (Vst::IConnectionPoint*)
{
    logLine ("controller.disconnect");
    return kResultOk;
}

tresult PLUGIN_API ProbeController::notify (Vst::IMessage* message)
{
    Steinberg::int64 answer = 0;

    if (message != nullptr && message->getAttributes() != nullptr)
        message->getAttributes()->getInt ("answer", answer);

    logLine (std::string ("controller.notify id=") + (message != nullptr && message->getMessageID() != nullptr ? message->getMessageID() : "")
             + " answer=" + std::to_string (answer));
    return kResultOk;
}

tresult PLUGIN_API ProbeController::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (FUnknownPrivate::iidEqual (iid, FUnknown::iid) || FUnknownPrivate::iidEqual (iid, IPluginBase::iid)
        || FUnknownPrivate::iidEqual (iid, Vst::IEditController::iid))
    {
        *obj = static_cast<Vst::IEditController*> (this);
        addRef();
        return kResultOk;
    }

    if (FUnknownPrivate::iidEqual (iid, Vst::IConnectionPoint::iid))
    {
        *obj = static_cast<Vst::IConnectionPoint*> (this);
        addRef();
        return kResultOk;
    }

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API ProbeController::addRef()
{
    return ++references;
}

uint32 PLUGIN_API ProbeController::release()
{
    const auto left = --references;

    if (left == 0)
        delete this;

    return left;
}
} // namespace probe
