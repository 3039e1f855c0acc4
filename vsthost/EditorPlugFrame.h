#pragma once

#include "pluginterfaces/gui/iplugview.h"

namespace vantrel::platform
{
class X11Window;
}

namespace orvane::vsthost
{
/** What a plug-in's view sees as its frame while it sits in one of the worker's windows: it may
    ask for a new size (resizeView), and on Linux it finds the host's run loop here
    (Linux::IRunLoop), through which its descriptors and timers are served on the UI thread.
    queryInterface answers FUnknown and IPlugFrame with the frame itself and Linux::IRunLoop
    with the run loop (when the worker has one); addRef and release change nothing, the owner
    deletes the frame. The window and the run loop outlive the frame. */
class EditorPlugFrame : public Steinberg::IPlugFrame
{
public:
    EditorPlugFrame (vantrel::platform::X11Window* window, Steinberg::IPlugView* view, Steinberg::Linux::IRunLoop* runLoop);
    virtual ~EditorPlugFrame() = default;

    EditorPlugFrame (const EditorPlugFrame&) = delete;
    EditorPlugFrame& operator= (const EditorPlugFrame&) = delete;

    /** kInvalidArgument for a null view or size, or a view other than this frame's own;
        otherwise the window takes the new size (at least 1 x 1) and the view's onSize answers. */
    Steinberg::tresult PLUGIN_API resizeView (Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

    Steinberg::IPlugView* view() const { return ownView; }

private:
    vantrel::platform::X11Window* window;
    Steinberg::IPlugView* ownView;   // not referenced
    Steinberg::Linux::IRunLoop* runLoop;
};
} // namespace orvane::vsthost
