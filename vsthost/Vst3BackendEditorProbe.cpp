// Vst3Backend: the staged self-test of the plug-in's editor in a hidden window, each stage
// reported on standard error. It never touches an open editor. UI thread only.
#include "vsthost/Vst3Backend.h"

#include "vsthost/GatePlugFrame.h"
#include "vsthost/HostRunLoop.h"

#include "platform/ThreadContract.h"
#include "platform/X11Window.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
void editorStage (const char* mark)
{
    std::fprintf (stderr, "EDITOR_STAGE %s\n", mark);
    std::fflush (stderr);
}

/** What one probe holds; the teardown releases it in the order the stage marks name. */
struct ProbeEditor
{
    IPlugView* view = nullptr;
    std::unique_ptr<vantrel::platform::X11Window> window;
    std::unique_ptr<GatePlugFrame> frame;
    bool attached = false;

    enum class Removal
    {
        skip,
        whenAttached
    };

    void teardown (Removal removal)
    {
        if (view != nullptr)
        {
            editorStage ("teardown.setFrameNull.begin");
            view->setFrame (nullptr);
            editorStage ("teardown.setFrameNull.pass");

            if (removal == Removal::whenAttached && attached)
            {
                editorStage ("teardown.removed.begin");
                view->removed();
                attached = false;
                editorStage ("teardown.removed.pass");
            }

            editorStage ("teardown.viewRelease.begin");
            view->release();
            view = nullptr;
            editorStage ("teardown.viewRelease.pass");
        }

        frame.reset();

        if (window != nullptr)
        {
            editorStage ("teardown.destroyWindow.begin");
            window.reset();
            editorStage ("teardown.destroyWindow.pass");
        }
    }

    ProcessResult fail (const char* message)
    {
        teardown (Removal::skip);
        return ProcessResult::failure (message);
    }
};
} // namespace

ProcessResult Vst3Backend::probeNativeEditor()
{
    VANTREL_ASSERT_UI_THREAD;
    if (! nativeEditorEnabled)
        return ProcessResult::failure ("native editor probe is Gate-only");

    if (controller == nullptr)
        return ProcessResult::failure ("IEditController unavailable");

    editorStage ("com.preinitialized.beforeModuleLoad");

    ProbeEditor probe;
    editorStage ("createView.begin");
    probe.view = controller->createView (Vst::ViewType::kEditor);

    if (probe.view == nullptr)
        return probe.fail ("createView(kEditor) returned null");

    editorStage ("createView.pass");
    editorStage ("getSize.begin");
    ViewRect rect {};
    const auto sized = probe.view->getSize (&rect) == kResultOk;
    const auto w = static_cast<std::int64_t> (rect.right) - rect.left;
    const auto h = static_cast<std::int64_t> (rect.bottom) - rect.top;

    if (! sized || w <= 0 || h <= 0)
        return probe.fail ("native editor size unavailable");

    editorStage ("getSize.pass");
    editorStage ("platform.begin");

    if (probe.view->isPlatformTypeSupported (kPlatformTypeX11EmbedWindowID) != kResultOk)
        return probe.fail ("VST3 editor does not support HWND");

    editorStage ("platform.pass");
    editorStage ("window.begin");
    vantrel::platform::X11Window::Options options;
    options.title = "Orvane Third-Party VST3 Gate";
    options.className = "OrvaneVstEditorGateWindow";
    options.width = static_cast<int> (std::clamp<std::int64_t> (w, 1, INT32_MAX));
    options.height = static_cast<int> (std::clamp<std::int64_t> (h, 1, INT32_MAX));
    std::string windowError;
    probe.window = vantrel::platform::X11Window::create (options, windowError);   // never shown

    if (probe.window == nullptr)
        return probe.fail ("hidden HWND creation failed");

    editorStage ("window.pass");
    probe.frame = std::make_unique<GatePlugFrame> (probe.window.get(), probe.view, runLoop.get());
    editorStage ("setFrame.begin");

    if (probe.view->setFrame (probe.frame.get()) != kResultOk)
        return probe.fail ("IPlugView::setFrame failed");

    editorStage ("setFrame.pass");
    editorStage ("attached.begin");

    if (probe.view->attached (reinterpret_cast<void*> (probe.window->windowId()), kPlatformTypeX11EmbedWindowID) != kResultOk)
        return probe.fail ("IPlugView::attached(HWND) failed");

    probe.attached = true;
    editorStage ("attached.pass");

    editorStage ("messagePump.begin");

    for (int round = 0; round < 8; ++round)
    {
        editorWaitRound (0);
        probe.window->dispatchEvents();
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }

    editorStage ("messagePump.pass");
    editorStage ("canResize.begin");
    probe.view->canResize();
    editorStage ("canResize.pass");

    probe.teardown (ProbeEditor::Removal::whenAttached);
    editorVerified = true;
    return ProcessResult::success();
}
} // namespace orvane::vsthost
