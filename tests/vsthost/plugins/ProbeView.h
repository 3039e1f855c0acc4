#pragma once

#include "ProbeBehaviour.h"

#include "pluginterfaces/gui/iplugview.h"

#include <atomic>

namespace probe
{
/** A probe class's editor. It draws nothing; it logs what the host does with it ("view.*"
    lines), and once attached it asks its frame for the host's run loop (serving a 20 ms timer
    there), tries a resize with another view's pointer, and asks for its larger size. */
class ProbeView final : public Steinberg::IPlugView, public Steinberg::Linux::ITimerHandler
{
public:
    explicit ProbeView (EditorMode mode);
    virtual ~ProbeView();

    Steinberg::tresult PLUGIN_API isPlatformTypeSupported (Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API attached (void* parent, Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API removed() override;
    Steinberg::tresult PLUGIN_API onWheel (float distance) override;
    Steinberg::tresult PLUGIN_API onKeyDown (Steinberg::char16 key, Steinberg::int16 keyCode, Steinberg::int16 modifiers) override;
    Steinberg::tresult PLUGIN_API onKeyUp (Steinberg::char16 key, Steinberg::int16 keyCode, Steinberg::int16 modifiers) override;
    Steinberg::tresult PLUGIN_API getSize (Steinberg::ViewRect* size) override;
    Steinberg::tresult PLUGIN_API onSize (Steinberg::ViewRect* newSize) override;
    Steinberg::tresult PLUGIN_API onFocus (Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setFrame (Steinberg::IPlugFrame* frame) override;
    Steinberg::tresult PLUGIN_API canResize() override;
    Steinberg::tresult PLUGIN_API checkSizeConstraint (Steinberg::ViewRect* rect) override;

    void PLUGIN_API onTimer() override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    EditorMode mode;
    Steinberg::ViewRect rect;
    Steinberg::IPlugFrame* frame = nullptr;
    Steinberg::Linux::IRunLoop* runLoop = nullptr;
    bool timerLogged = false;
    std::atomic<Steinberg::uint32> references { 1 };
};
} // namespace probe
