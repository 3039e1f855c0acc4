// The X11 layer under the editor, in this process, against a private X server: the host window
// as a window manager and a user see it, and the UI loop serving X connections that look quiet.
#include "EditorTestSupport.h"

#include "vsthost/HostRunLoop.h"
#include "vsthost/UiDispatcher.h"

#include "platform/EventWaker.h"
#include "platform/X11Connection.h"
#include "platform/X11Window.h"

#include <gtest/gtest.h>

using namespace vsthost_test;
using orvane::vsthost::HostRunLoop;
using orvane::vsthost::UiDispatcher;
using vantrel::platform::X11Window;

namespace
{
std::unique_ptr<X11Window> makeWindow (const std::string& displayName, const std::string& title, int width, int height,
                                       std::string& error)
{
    X11Window::Options options;
    options.displayName = displayName;
    options.title = title;
    options.className = editorWindowClass;
    options.width = width;
    options.height = height;
    return X11Window::create (options, error);
}

/** Counts the calls a plug-in's descriptor handler gets. */
class CountingHandler final : public Steinberg::Linux::IEventHandler
{
public:
    void PLUGIN_API onFDIsSet (Steinberg::Linux::FileDescriptor) override { ++calls; }
    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID, void** obj) override
    {
        *obj = nullptr;
        return Steinberg::kNoInterface;
    }
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

    int calls = 0;
};
} // namespace

TEST (X11Window, ShowsWithItsTitleAndRecordsCloseRequestsAndOutsideDestruction)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    std::string error;
    auto window = makeWindow (display.name(), "窓 — Fenster", 300, 200, error);
    ASSERT_NE (window, nullptr) << error;

    EXPECT_TRUE (display.editorWindows().empty() || ! display.editorWindows()[0].viewable);   // created unmapped
    ASSERT_TRUE (window->show (2000));
    auto windows = display.editorWindows();
    ASSERT_EQ (windows.size(), 1u);
    EXPECT_TRUE (windows[0].viewable);
    EXPECT_EQ (windows[0].id, window->windowId());
    EXPECT_EQ (windows[0].title, "窓 — Fenster");
    EXPECT_EQ (windows[0].width, 300);
    EXPECT_EQ (windows[0].height, 200);
    EXPECT_TRUE (waitUntil ([&] { return display.showsColour (windows[0].x, windows[0].y, 300, 200, 0xFFFFFF); }));   // its background

    window->resize (0, 100000);   // clamped to what X can carry
    int width = 0;
    int height = 0;
    ASSERT_TRUE (window->size (width, height));
    EXPECT_EQ (width, 1);
    EXPECT_EQ (height, 32767);

    // The close box is only recorded; the window stays.
    EXPECT_FALSE (window->closeRequested());
    ASSERT_TRUE (display.inspector().requestClose (window->windowId()));
    EXPECT_TRUE (waitUntil (
        [&]
        {
            window->dispatchEvents();
            return window->closeRequested();
        }));
    EXPECT_TRUE (window->exists());
    EXPECT_EQ (display.editorWindows().size(), 1u);

    ASSERT_TRUE (display.inspector().destroyWindow (window->windowId()));
    EXPECT_TRUE (waitUntil (
        [&]
        {
            window->dispatchEvents();
            return ! window->exists();
        }));
    window.reset();   // nothing left to destroy: no error, no crash
    EXPECT_TRUE (display.editorWindows().empty());
}

TEST (X11Window, ADisplayThatCannotBeOpenedGivesNoWindowAndAClearText)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    const auto deadName = display.name();
    display.stop();

    std::string error;
    EXPECT_EQ (makeWindow (deadName, "x", 10, 10, error), nullptr);
    EXPECT_EQ (error, "cannot open X display \"" + deadName + "\"");
}

TEST (X11Window, TheLoopOffersQuietXConnectionsEveryTickAndOtherDescriptorsOnlyWhenReady)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    std::string error;
    auto window = makeWindow (display.name(), "connection", 10, 10, error);
    ASSERT_NE (window, nullptr) << error;
    vantrel::platform::EventWaker quiet;
    ASSERT_TRUE (quiet.isValid());

    EXPECT_TRUE (vantrel::platform::isX11ServerConnection (window->connectionDescriptor()));
    EXPECT_FALSE (vantrel::platform::isX11ServerConnection (quiet.descriptor()));
    EXPECT_FALSE (vantrel::platform::isX11ServerConnection (-1));

    UiDispatcher dispatcher;
    HostRunLoop runLoop (dispatcher);
    CountingHandler xHandler;
    CountingHandler otherHandler;
    ASSERT_EQ (runLoop.registerEventHandler (&xHandler, window->connectionDescriptor()), Steinberg::kResultOk);
    ASSERT_EQ (runLoop.registerEventHandler (&otherHandler, quiet.descriptor()), Steinberg::kResultOk);

    for (int round = 0; round < 2000 && xHandler.calls < 5; ++round)
        dispatcher.dispatchPending (5);

    EXPECT_GE (xHandler.calls, 5) << "a quiet X connection was never offered to its handler";
    EXPECT_EQ (otherHandler.calls, 0);

    quiet.wake();

    for (int round = 0; round < 2000 && otherHandler.calls == 0; ++round)
        dispatcher.dispatchPending (5);

    EXPECT_EQ (otherHandler.calls, 1);
    EXPECT_EQ (runLoop.unregisterEventHandler (&xHandler), Steinberg::kResultOk);
    const auto before = xHandler.calls;

    for (int round = 0; round < 10; ++round)
        dispatcher.dispatchPending (5);

    EXPECT_EQ (xHandler.calls, before);
}
