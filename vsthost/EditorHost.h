#pragma once

#include "vsthost/ProductPlugFrame.h"

#include "platform/X11Window.h"

#include "pluginterfaces/gui/iplugview.h"

#include <memory>

namespace orvane::vsthost
{
/** An open editor (or one being opened): the plug-in's view in a top-level window of the worker.
    It exists from the start of an open attempt until the teardown; a failed open leaves none.
    UI thread only. */
struct EditorHost
{
    Steinberg::IPlugView* view = nullptr;                      // a reference held
    std::unique_ptr<vantrel::platform::X11Window> window;
    bool attached = false;                                     // the view's attached succeeded
    bool closeRequested = false;                               // the close box was used
    std::unique_ptr<ProductPlugFrame> frame;
};
} // namespace orvane::vsthost
