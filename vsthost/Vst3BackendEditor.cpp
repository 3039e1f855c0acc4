// Vst3Backend: the plug-in's editor in a top-level X11 window of the worker. UI thread only.
#include "vsthost/Vst3Backend.h"

#include "vsthost/EditorHost.h"
#include "vsthost/EditorTitle.h"
#include "vsthost/HostRunLoop.h"
#include "vsthost/UiDispatcher.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
const char* const editorWindowClass = "OrvaneVstEditorHostWindow";

// How long a window manager may take to show a mapped window, per attempt.
constexpr int showTimeoutMs = 500;

bool positiveSize (const ViewRect& rect, int& width, int& height)
{
    const auto w = static_cast<std::int64_t> (rect.right) - rect.left;
    const auto h = static_cast<std::int64_t> (rect.bottom) - rect.top;

    if (w <= 0 || h <= 0)
        return false;

    width = static_cast<int> (std::min<std::int64_t> (w, INT32_MAX));
    height = static_cast<int> (std::min<std::int64_t> (h, INT32_MAX));
    return true;
}
} // namespace

ProcessResult Vst3Backend::failOpen (const char* message)
{
    teardownEditor();
    return ProcessResult::failure (message);
}

ProcessResult Vst3Backend::openNativeEditor (const std::string& title)
{
    VANTREL_ASSERT_UI_THREAD;
    if (! nativeEditorEnabled)
        return ProcessResult::failure ("native editor disabled");

    if (controller == nullptr)
        return ProcessResult::failure ("IEditController unavailable");

    // A close box used before this request arrived is honoured first, so that the request shows
    // an editor instead of answering success for a window that is about to go.
    serviceEditorWindow();

    if (editorHost != nullptr)
    {
        // Already open: only restore and raise it; the title stays.
        if (editorHost->window != nullptr)
            editorHost->window->bringToFront();

        return ProcessResult::success();
    }

    editorHost = std::make_unique<EditorHost>();
    auto* view = controller->createView (Vst::ViewType::kEditor);

    if (view == nullptr)
    {
        editorHost.reset();
        return ProcessResult::failure ("createView(kEditor) returned null");
    }

    editorHost->view = view;
    ViewRect rect {};
    int width = 0;
    int height = 0;

    if (view->getSize (&rect) != kResultOk || ! positiveSize (rect, width, height))
        return failOpen ("native editor size unavailable");

    if (view->isPlatformTypeSupported (kPlatformTypeX11EmbedWindowID) != kResultOk)
        return failOpen ("VST3 editor does not support HWND");

    // The view's size is the window's inside size; X11 has no window class to register.
    vantrel::platform::X11Window::Options options;
    options.title = editorWindowTitle (title);
    options.className = editorWindowClass;
    options.width = std::max (1, width);
    options.height = std::max (1, height);
    std::string windowError;
    editorHost->window = vantrel::platform::X11Window::create (options, windowError);

    if (editorHost->window == nullptr)
    {
        std::fprintf (stderr, "OrvaneVstHost: editor window: %s\n", windowError.c_str());
        std::fflush (stderr);
        return failOpen ("VST3 editor host window creation failed");
    }

    if (uiDispatcher != nullptr)
        uiDispatcher->watchDescriptor (editorHost.get(), editorHost->window->connectionDescriptor(),
                                       [this] (int)
                                       {
                                           if (editorHost != nullptr && editorHost->window != nullptr)
                                               editorHost->window->dispatchEvents();
                                       });

    editorHost->frame = std::make_unique<ProductPlugFrame> (editorHost->window.get(), view, runLoop.get());

    if (view->setFrame (editorHost->frame.get()) != kResultOk)
        return failOpen ("IPlugView::setFrame failed");

    const auto parent = reinterpret_cast<void*> (editorHost->window->windowId());

    if (view->attached (parent, kPlatformTypeX11EmbedWindowID) != kResultOk)
        return failOpen ("IPlugView::attached(HWND) failed");

    editorHost->attached = true;

    if (! editorHost->window->show (showTimeoutMs) && ! editorHost->window->show (showTimeoutMs))
        return failOpen ("VST3 editor host window is not visible");

    editorHost->window->bringToFront();
    editorVerified = true;
    return ProcessResult::success();
}

void Vst3Backend::teardownEditor()
{
    if (editorHost == nullptr)
        return;

    // The editor counts as closed from here on, also for anything the plug-in calls meanwhile.
    auto host = std::move (editorHost);

    if (host->view != nullptr)
    {
        host->view->setFrame (nullptr);

        if (host->attached)
            host->view->removed();

        host->view->release();
        host->view = nullptr;
    }

    host->frame.reset();

    if (uiDispatcher != nullptr)
        uiDispatcher->unwatchDescriptors (host.get());

    host->window.reset();
}

ProcessResult Vst3Backend::closeNativeEditor()
{
    VANTREL_ASSERT_UI_THREAD;
    teardownEditor();
    return ProcessResult::success();
}

void Vst3Backend::serviceEditorWindow()
{
    if (editorHost == nullptr)
        return;

    auto* window = editorHost->window.get();

    if (window != nullptr)
    {
        window->dispatchEvents();

        if (window->closeRequested())
            editorHost->closeRequested = true;
    }

    if (editorHost->closeRequested || window == nullptr || ! window->exists())
        teardownEditor();
}

ProcessResult Vst3Backend::serviceEditor()
{
    VANTREL_ASSERT_UI_THREAD;
    serviceEditorWindow();
    return serviceControl();
}

void Vst3Backend::editorWaitRound (int waitMs)
{
    if (uiDispatcher != nullptr && uiDispatcher->isUiThread())
    {
        uiDispatcher->dispatchPending (waitMs);
        return;
    }

    if (editorHost != nullptr && editorHost->window != nullptr)
        editorHost->window->dispatchEvents();

    if (waitMs > 0)
        std::this_thread::sleep_for (std::chrono::milliseconds (waitMs));
}

ProcessResult Vst3Backend::pumpEditorMessages()
{
    VANTREL_ASSERT_UI_THREAD;
    editorWaitRound (0);
    return serviceEditor();
}

bool Vst3Backend::isEditorOpen()
{
    VANTREL_ASSERT_UI_THREAD;
    return editorHost != nullptr;
}

ProcessResult Vst3Backend::showNativeEditor (const std::string& title)
{
    VANTREL_ASSERT_UI_THREAD;
    const auto opened = openNativeEditor (title);

    if (! opened.ok)
        return opened;

    // The UI thread serves everything through this loop until the window has gone.
    for (;;)
    {
        if (editorHost == nullptr)
            return ProcessResult::success();

        editorWaitRound (0);
        serviceEditorWindow();
        const auto control = serviceControl();

        if (! control.ok)
        {
            teardownEditor();
            return control;
        }

        editorWaitRound (2);
    }
}
} // namespace orvane::vsthost
