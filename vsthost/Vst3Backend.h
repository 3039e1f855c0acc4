#pragma once

#include "vsthost/OrvaneComponentHandler.h"
#include "vsthost/ParameterChangeTransfer.h"
#include "vsthost/ParameterChanges.h"
#include "vsthost/PlugProvider.h"
#include "vsthost/PluginBackend.h"
#include "vsthost/Vst3Module.h"

#include "pluginterfaces/base/smartpointer.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvane::vsthost
{
class HostRunLoop;
class OrvaneHostApplication;
class UiDispatcher;
struct EditorHost;

/** One loaded VST3 effect class: component, controller and processor, the processing state,
    the parameter traffic between controller and processor, the state envelope, and the editor
    in a top-level window of the worker (created, serviced and torn down on the UI thread only).

    Threads: created, initialised and destroyed on the UI thread. process runs on the protocol
    thread; everything else on the UI thread. backendMutex (recursive) orders the processing
    state; each transfer mutex guards one transfer queue, is always the innermost lock, is held
    for one queue operation only and never during a plug-in call. The component handler's
    callbacks may come from any thread and touch only atomics and the input transfer. */
class Vst3Backend final : public PluginBackend
{
public:
    Vst3Backend (std::string modulePath, std::shared_ptr<Vst3Module> module, const ModuleClassInfo& classInfo,
                 OrvaneHostApplication& hostApplication, bool hostCheckerGate, bool nativeEditorEnabled,
                 UiDispatcher* uiDispatcher = nullptr);
    ~Vst3Backend() override;

    Vst3Backend (const Vst3Backend&) = delete;
    Vst3Backend& operator= (const Vst3Backend&) = delete;

    /** Called once after construction; the backend is usable only when it succeeded. */
    ProcessResult initialize();

    BackendInfo info() override;
    ProcessResult configure (const ProcessConfig& config) override;
    ProcessResult setBypass (bool bypass) override;
    bool isBypassed() override;
    ProcessResult process (ProcessBlock& block) override;
    ProcessResult serviceEditor() override;
    std::string saveState() override;
    ProcessResult loadState (const std::string& hex) override;
    ProcessResult resetSeek() override;
    std::vector<ParameterRecord> parameters() override;
    ProcessResult setParameter (std::uint32_t id, double normalized) override;
    ProcessResult flushParameters() override;
    ProcessResult serviceControl() override;
    std::optional<double> parameterValue (std::uint32_t id) override;
    ProcessResult probeNativeEditor() override;
    ProcessResult openNativeEditor (const std::string& title) override;
    ProcessResult closeNativeEditor() override;
    ProcessResult pumpEditorMessages() override;
    bool isEditorOpen() override;
    std::uint64_t changeCount() override;
    ProcessResult showNativeEditor (const std::string& title) override;
    void serviceIdle() override;
    bool reloadRequested() override;

    /** Capacity of the change containers and transfers, for tests of their sizing. */
    std::size_t parameterCapacity() const { return inputTransfer.capacity(); }

private:
    void stopProcessing();
    ProcessResult failOpen (const char* message);
    void teardownEditor();
    void serviceEditorWindow();
    void editorWaitRound (int waitMs);
    ProcessResult checkPrefetchSupport();
    ProcessResult readParameterInfos();
    ProcessResult processParametersOnly();
    ProcessResult processAudio (std::uint32_t frames);
    ProcessResult carryHeldChanges();
    void takePendingInputChanges();
    ProcessResult restartProcessing();
    void sizeParameterContainers (std::size_t parameterCount);
    void queueInputChange (Steinberg::Vst::ParamID id, double value);
    void deliverOutputChanges();
    Steinberg::int32 vstProcessMode() const;

    std::unique_ptr<EditorHost> editorHost;   // UI thread
    std::recursive_mutex backendMutex;
    std::mutex inputTransferMutex;
    std::mutex outputTransferMutex;
    std::atomic<std::uint64_t> changeCounter { 0 };
    std::string modulePath;
    std::shared_ptr<Vst3Module> module;
    ModuleClassInfo classInfo;
    OrvaneHostApplication* hostApplication;
    UiDispatcher* uiDispatcher;
    std::unique_ptr<HostRunLoop> runLoop;   // the plug-ins' Linux::IRunLoop; null without a dispatcher
    std::unique_ptr<PlugProvider> plugProvider;
    Steinberg::IPtr<Steinberg::Vst::IComponent> component;
    Steinberg::IPtr<Steinberg::Vst::IEditController> controller;
    Steinberg::IPtr<Steinberg::Vst::IAudioProcessor> processor;
    std::unique_ptr<OrvaneComponentHandler> componentHandler;
    ProcessConfig config;
    std::vector<float> inputLeft, inputRight, outputLeft, outputRight;
    std::vector<ParameterRecord> parameterTable;
    ParameterChanges inputChanges, outputChanges;
    ParameterChangeTransfer inputTransfer, outputTransfer;
    std::atomic<std::uint32_t> pendingRestartFlags { 0 };
    std::atomic<bool> reloadAsked { false };   // the plug-in asked to be loaded again; never cleared
    // Changes handed to the processor only in calls without audio frames: a plug-in may skip
    // reading them there, so they go again with every call until one with frames has carried
    // them. Guarded by backendMutex.
    ParameterChangeTransfer heldChanges;
    std::uint32_t contextRequirements = 0;
    std::int64_t samplePosition = 0;
    bool configured = false;
    bool active = false;
    bool processing = false;
    bool bypassed = false;
    const bool hostCheckerGate;
    const bool nativeEditorEnabled;
    bool editorVerified = false;
    bool contextAcquired = false;
    std::vector<ParameterChangeTransfer::Change> outputScratch;   // UI thread
};
} // namespace orvane::vsthost
