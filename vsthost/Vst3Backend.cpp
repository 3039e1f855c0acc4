#include "vsthost/Vst3Backend.h"

#include "vsthost/ClassIdText.h"
#include "vsthost/EditorHost.h"
#include "vsthost/HostRunLoop.h"
#include "vsthost/OrvaneHostApplication.h"
#include "vsthost/PluginContext.h"

#include "platform/ThreadContract.h"

#include <iostream>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
constexpr std::uint32_t maxParameterCount = 16384;
}

Vst3Backend::Vst3Backend (std::string path, std::shared_ptr<Vst3Module> openedModule, const ModuleClassInfo& info,
                          OrvaneHostApplication& application, bool checkerGate, bool editorEnabled, UiDispatcher* dispatcher)
    : modulePath (std::move (path)),
      module (std::move (openedModule)),
      classInfo (info),
      hostApplication (&application),
      uiDispatcher (dispatcher),
      hostCheckerGate (checkerGate),
      nativeEditorEnabled (editorEnabled)
{
    VANTREL_ASSERT_UI_THREAD;
    if (uiDispatcher != nullptr)
        runLoop = std::make_unique<HostRunLoop> (*uiDispatcher);
}

Vst3Backend::~Vst3Backend()
{
    VANTREL_ASSERT_UI_THREAD;
    closeNativeEditor();

    {
        const std::lock_guard<std::recursive_mutex> lock (backendMutex);
        stopProcessing();
    }

    if (controller != nullptr)
        controller->setComponentHandler (nullptr);

    componentHandler.reset();
    processor = nullptr;
    controller = nullptr;
    component = nullptr;
    plugProvider.reset();

    // Descriptors and timers the plug-in left registered are released while its code is loaded.
    runLoop.reset();
    module.reset();

    if (contextAcquired)
        releasePluginContext (hostApplication);
}

ProcessResult Vst3Backend::initialize()
{
    VANTREL_ASSERT_UI_THREAD;
    hostApplication->trimInterfaceSupport();
    acquirePluginContext (hostApplication);
    contextAcquired = true;

    plugProvider = std::make_unique<PlugProvider> (module->factory(), classInfo, std::cerr);

    if (! plugProvider->initialize (currentPluginContext()))
        return ProcessResult::failure ("PlugProvider initialize failed");

    component = plugProvider->component();
    controller = plugProvider->controller();

    if (component == nullptr)
        return ProcessResult::failure ("IComponent unavailable");

    Vst::IAudioProcessor* audioProcessor = nullptr;

    if (component->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&audioProcessor)) != kResultOk
        || audioProcessor == nullptr)
        return ProcessResult::failure ("IAudioProcessor unavailable");

    processor = owned (audioProcessor);

    std::uint32_t count = 0;

    if (controller != nullptr)
    {
        count = static_cast<std::uint32_t> (controller->getParameterCount());

        if (count > maxParameterCount)
            return ProcessResult::failure ("plug-in parameter count exceeds Gate2.2 safety bound");
    }

    sizeParameterContainers (count);

    if (controller != nullptr)
    {
        componentHandler = std::make_unique<OrvaneComponentHandler> (
            [this] (std::uint32_t id, double value)
            {
                queueInputChange (id, value);
                ++changeCounter;
            },
            [this] (std::int32_t flags) { pendingRestartFlags.fetch_or (static_cast<std::uint32_t> (flags)); },
            [this] (bool dirty)
            {
                if (dirty)
                    ++changeCounter;
            });

        if (controller->setComponentHandler (componentHandler.get()) != kResultOk)
            return ProcessResult::failure ("controller rejected IComponentHandler");

        auto read = readParameterInfos();

        if (! read.ok)
            return read;
    }

    contextRequirements = 0;
    Vst::IProcessContextRequirements* requirements = nullptr;

    if (processor->queryInterface (Vst::IProcessContextRequirements::iid, reinterpret_cast<void**> (&requirements)) == kResultOk
        && requirements != nullptr)
    {
        contextRequirements = requirements->getProcessContextRequirements();
        requirements->release();
    }

    return ProcessResult::success();
}

BackendInfo Vst3Backend::info()
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);
    BackendInfo result;
    result.classId = classIdText (classInfo.id);
    result.name = classInfo.name;
    result.vendor = classInfo.vendor;
    result.version = classInfo.version;

    if (processor != nullptr)
    {
        result.latencySamples = processor->getLatencySamples();
        result.tailSamples = processor->getTailSamples();
    }

    result.editorVerified = editorVerified;
    return result;
}

std::uint64_t Vst3Backend::changeCount()
{
    VANTREL_ASSERT_UI_THREAD;
    return changeCounter.load();
}
} // namespace orvane::vsthost
