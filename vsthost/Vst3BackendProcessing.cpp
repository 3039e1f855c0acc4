// Vst3Backend: processing configuration, activation and the audio path.
#include "vsthost/Vst3Backend.h"

#include "vsthost/ProcessConfigValidation.h"

#include "pluginterfaces/vst/ivstprefetchablesupport.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

#include "platform/ThreadContract.h"

#include <algorithm>

namespace orvane::vsthost
{
using namespace Steinberg;

Steinberg::int32 Vst3Backend::vstProcessMode() const
{
    return config.processMode == Vst::kRealtime || config.processMode == Vst::kOffline ? config.processMode
                                                                                       : Vst::kPrefetch;
}

ProcessResult Vst3Backend::configure (const ProcessConfig& requested)
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    auto valid = validateProcessConfig (requested);

    if (! valid.ok)
        return valid;

    if (processor == nullptr || component == nullptr)
        return ProcessResult::failure ("VST3 backend not initialized");

    stopProcessing();

    if (processor->canProcessSampleSize (Vst::kSample32) != kResultOk)
        return ProcessResult::failure ("plug-in does not support float32 processing");

    const auto inputs = component->getBusCount (Vst::kAudio, Vst::kInput);
    const auto outputs = component->getBusCount (Vst::kAudio, Vst::kOutput);
    tresult arrangementResult = kResultOk;

    if (! hostCheckerGate)
    {
        Vst::SpeakerArrangement inputArrangement = Vst::SpeakerArr::kStereo;
        Vst::SpeakerArrangement outputArrangement = Vst::SpeakerArr::kStereo;
        arrangementResult = processor->setBusArrangements (&inputArrangement, 1, &outputArrangement, 1);

        if (inputs != 1 || outputs != 1)
            return ProcessResult::failure ("initial Orvane VST3 scope requires exactly one audio input/output bus");
    }
    else
    {
        if (inputs < 1 || outputs < 1)
            return ProcessResult::failure ("HostChecker focused gate requires at least one audio input/output bus");

        for (int32 i = 1; i < inputs; ++i)
            component->activateBus (Vst::kAudio, Vst::kInput, i, false);

        for (int32 i = 1; i < outputs; ++i)
            component->activateBus (Vst::kAudio, Vst::kOutput, i, false);
    }

    Vst::SpeakerArrangement effectiveInput = 0;
    Vst::SpeakerArrangement effectiveOutput = 0;

    if (processor->getBusArrangement (Vst::kInput, 0, effectiveInput) != kResultOk
        || processor->getBusArrangement (Vst::kOutput, 0, effectiveOutput) != kResultOk)
        return ProcessResult::failure ("failed to query effective audio bus arrangement");

    if (effectiveInput != Vst::SpeakerArr::kStereo || effectiveOutput != Vst::SpeakerArr::kStereo)
        return ProcessResult::failure (arrangementResult != kResultOk ? "plug-in rejected stereo bus arrangement"
                                                                      : "effective bus arrangement is not stereo");

    Vst::BusInfo inputInfo {};
    Vst::BusInfo outputInfo {};

    if (component->getBusInfo (Vst::kAudio, Vst::kInput, 0, inputInfo) != kResultOk
        || component->getBusInfo (Vst::kAudio, Vst::kOutput, 0, outputInfo) != kResultOk)
        return ProcessResult::failure ("failed to query audio bus info");

    if (inputInfo.channelCount != 2 || outputInfo.channelCount != 2)
        return ProcessResult::failure ("initial Orvane VST3 scope requires stereo I/O");

    if (requested.processMode == Vst::kPrefetch)
    {
        auto prefetch = checkPrefetchSupport();

        if (! prefetch.ok)
            return prefetch;
    }

    Vst::ProcessSetup setup {};
    setup.processMode = requested.processMode == Vst::kRealtime || requested.processMode == Vst::kOffline
                            ? requested.processMode
                            : Vst::kPrefetch;
    setup.symbolicSampleSize = Vst::kSample32;
    setup.maxSamplesPerBlock = static_cast<int32> (requested.maxBlockFrames);
    setup.sampleRate = requested.sampleRate;

    if (processor->setupProcessing (setup) != kResultOk)
        return ProcessResult::failure ("setupProcessing failed");

    if (component->activateBus (Vst::kAudio, Vst::kInput, 0, true) != kResultOk
        || component->activateBus (Vst::kAudio, Vst::kOutput, 0, true) != kResultOk)
        return ProcessResult::failure ("audio bus activation failed");

    if (component->setActive (true) != kResultOk)
        return ProcessResult::failure ("component activation failed");

    active = true;
    const auto processingResult = processor->setProcessing (true);

    if (processingResult != kResultOk && processingResult != kNotImplemented)
    {
        component->setActive (false);
        active = false;
        return ProcessResult::failure ("setProcessing(true) failed");
    }

    processing = true;
    config = requested;
    inputLeft.assign (requested.maxBlockFrames, 0.0f);
    inputRight.assign (requested.maxBlockFrames, 0.0f);
    outputLeft.assign (requested.maxBlockFrames, 0.0f);
    outputRight.assign (requested.maxBlockFrames, 0.0f);
    configured = true;
    samplePosition = 0;
    return ProcessResult::success();
}

void Vst3Backend::stopProcessing()
{
    if (processing)
    {
        processor->setProcessing (false);
        processing = false;
    }

    if (active)
        component->setActive (false);

    configured = false;
    active = false;
}

ProcessResult Vst3Backend::checkPrefetchSupport()
{
    if (component == nullptr)
        return ProcessResult::success();

    Vst::IPrefetchableSupport* support = nullptr;

    if (component->queryInterface (Vst::IPrefetchableSupport::iid, reinterpret_cast<void**> (&support)) != kResultOk
        || support == nullptr)
        return ProcessResult::success();

    Vst::PrefetchableSupport state = 0;
    const auto result = support->getPrefetchableSupport (state);
    support->release();

    if (result != kResultOk)
        return ProcessResult::failure ("getPrefetchableSupport failed");

    switch (state)
    {
        case Vst::kIsNeverPrefetchable: return ProcessResult::failure ("plug-in is never prefetchable");
        case Vst::kIsYetPrefetchable: return ProcessResult::success();
        case Vst::kIsNotYetPrefetchable: return ProcessResult::failure ("plug-in is not currently prefetchable");
        default: return ProcessResult::failure ("unknown prefetch support state");
    }
}

ProcessResult Vst3Backend::setBypass (bool bypass)
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);
    bypassed = bypass;
    return ProcessResult::success();
}

bool Vst3Backend::isBypassed()
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);
    return bypassed;
}

ProcessResult Vst3Backend::process (ProcessBlock& block)
{
    VANTREL_ASSERT_PROTOCOL_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (! configured || ! processing)
        return ProcessResult::failure ("VST3 backend not configured");

    if (block.channels != 2 || block.frames > config.maxBlockFrames
        || block.samples.size() != 2 * static_cast<std::size_t> (block.frames))
        return ProcessResult::failure ("invalid stereo process block");

    if (bypassed || block.frames == 0)
        return processParametersOnly();

    const auto frames = static_cast<std::size_t> (block.frames);

    for (std::size_t i = 0; i < frames; ++i)
    {
        inputLeft[i] = block.samples[2 * i];
        inputRight[i] = block.samples[2 * i + 1];
    }

    auto result = processAudio (block.frames);

    if (! result.ok)
        return result;

    for (std::size_t i = 0; i < frames; ++i)
    {
        block.samples[2 * i] = outputLeft[i];
        block.samples[2 * i + 1] = outputRight[i];
    }

    return ProcessResult::success();
}

ProcessResult Vst3Backend::processAudio (std::uint32_t frames)
{
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    for (std::size_t i = 0; i < frames; ++i)
    {
        outputLeft[i] = 0.0f;
        outputRight[i] = 0.0f;
    }

    takePendingInputChanges();
    inputChanges.clear();
    outputChanges.clear();
    heldChanges.copyInto (inputChanges);

    Vst::ProcessContext context {};
    context.sampleRate = config.sampleRate;
    context.projectTimeSamples = samplePosition;

    if ((contextRequirements & Vst::IProcessContextRequirements::kNeedContinousTimeSamples) != 0)
    {
        context.continousTimeSamples = samplePosition;
        context.state = Vst::ProcessContext::kContTimeValid;
    }

    if ((contextRequirements & Vst::IProcessContextRequirements::kNeedTransportState) != 0)
        context.state |= Vst::ProcessContext::kPlaying;

    if ((contextRequirements & Vst::IProcessContextRequirements::kNeedTempo) != 0)
    {
        context.tempo = config.tempo;

        if (config.tempo > 0.0)
            context.state |= Vst::ProcessContext::kTempoValid;
    }

    float* inputPointers[2] = { inputLeft.data(), inputRight.data() };
    float* outputPointers[2] = { outputLeft.data(), outputRight.data() };
    Vst::AudioBusBuffers inputBus {};
    inputBus.numChannels = 2;
    inputBus.channelBuffers32 = inputPointers;
    Vst::AudioBusBuffers outputBus {};
    outputBus.numChannels = 2;
    outputBus.channelBuffers32 = outputPointers;

    Vst::ProcessData data {};
    data.processMode = vstProcessMode();
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = static_cast<int32> (frames);
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &inputBus;
    data.outputs = &outputBus;
    data.inputParameterChanges = inputChanges.getParameterCount() > 0 ? &inputChanges : nullptr;
    data.outputParameterChanges = &outputChanges;
    data.processContext = &context;

    if (processor->process (data) != kResultOk)
    {
        // The changes stay held for the next call.
        inputChanges.clear();
        outputChanges.clear();
        return ProcessResult::failure ("VST3 process failed");
    }

    heldChanges.clear();

    {
        const std::lock_guard<std::mutex> transferLock (outputTransferMutex);
        outputTransfer.addAll (outputChanges);
    }

    inputChanges.clear();
    outputChanges.clear();
    samplePosition += frames;
    return ProcessResult::success();
}

ProcessResult Vst3Backend::resetSeek()
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (! configured)
        return ProcessResult::failure ("VST3 backend not configured");

    auto flushed = flushParameters();

    if (! flushed.ok)
        return flushed;

    if (processing)
    {
        const auto result = processor->setProcessing (false);

        if (result != kResultOk && result != kNotImplemented)
            return ProcessResult::failure ("seek reset setProcessing(false) failed");

        processing = false;
    }

    if (active)
    {
        if (component->setActive (false) != kResultOk)
            return ProcessResult::failure ("seek reset deactivate failed");

        active = false;
    }

    if (component->setActive (true) != kResultOk)
        return ProcessResult::failure ("seek reset activate failed");

    active = true;
    const auto restarted = processor->setProcessing (true);

    if (restarted != kResultOk && restarted != kNotImplemented)
        return ProcessResult::failure ("seek reset processing failed");

    processing = true;
    samplePosition = 0;

    heldChanges.clear();

    {
        const std::lock_guard<std::mutex> transferLock (inputTransferMutex);
        inputTransfer.clear();
    }

    {
        const std::lock_guard<std::mutex> transferLock (outputTransferMutex);
        outputTransfer.clear();
    }

    return ProcessResult::success();
}
} // namespace orvane::vsthost
