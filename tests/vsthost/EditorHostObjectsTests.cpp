// The editor's host objects in this process, without a window: the frame as a plug-in's view
// sees it, and the window title made from the client's text.
#include "vsthost/EditorTitle.h"
#include "vsthost/HostRunLoop.h"
#include "vsthost/ProductPlugFrame.h"
#include "vsthost/UiDispatcher.h"

#include <gtest/gtest.h>

using namespace orvane::vsthost;
using namespace Steinberg;

namespace
{
/** A view that records the sizes it is given and answers onSize with a chosen result. */
class RecordingView final : public IPlugView
{
public:
    tresult onSizeResult = kResultOk;
    std::vector<ViewRect> sizes;

    tresult PLUGIN_API isPlatformTypeSupported (FIDString) override { return kResultTrue; }
    tresult PLUGIN_API attached (void*, FIDString) override { return kResultOk; }
    tresult PLUGIN_API removed() override { return kResultOk; }
    tresult PLUGIN_API onWheel (float) override { return kResultFalse; }
    tresult PLUGIN_API onKeyDown (char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API onKeyUp (char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API getSize (ViewRect*) override { return kResultOk; }
    tresult PLUGIN_API onSize (ViewRect* newSize) override
    {
        sizes.push_back (*newSize);
        return onSizeResult;
    }
    tresult PLUGIN_API onFocus (TBool) override { return kResultOk; }
    tresult PLUGIN_API setFrame (IPlugFrame*) override { return kResultOk; }
    tresult PLUGIN_API canResize() override { return kResultTrue; }
    tresult PLUGIN_API checkSizeConstraint (ViewRect*) override { return kResultOk; }
    tresult PLUGIN_API queryInterface (const TUID, void** obj) override
    {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
};
} // namespace

TEST (EditorPlugFrame, OnlyItsOwnViewMayResizeAndTheViewAnswers)
{
    RecordingView own;
    RecordingView other;
    ProductPlugFrame frame (nullptr, &own, nullptr);
    ViewRect size (0, 0, 640, 480);

    EXPECT_EQ (frame.resizeView (nullptr, &size), kInvalidArgument);
    EXPECT_EQ (frame.resizeView (&own, nullptr), kInvalidArgument);
    EXPECT_EQ (frame.resizeView (&other, &size), kInvalidArgument);
    EXPECT_TRUE (own.sizes.empty());
    EXPECT_TRUE (other.sizes.empty());

    EXPECT_EQ (frame.resizeView (&own, &size), kResultOk);
    ASSERT_EQ (own.sizes.size(), 1u);
    EXPECT_EQ (own.sizes[0].getWidth(), 640);
    EXPECT_EQ (own.sizes[0].getHeight(), 480);

    own.onSizeResult = kResultFalse;   // the view's own answer is passed on
    EXPECT_EQ (frame.resizeView (&own, &size), kResultFalse);
}

TEST (EditorPlugFrame, AnswersFrameAndTheHostsRunLoopOnly)
{
    UiDispatcher dispatcher;
    HostRunLoop runLoop (dispatcher);
    RecordingView view;
    ProductPlugFrame withLoop (nullptr, &view, &runLoop);
    ProductPlugFrame withoutLoop (nullptr, &view, nullptr);
    void* answer = &view;

    EXPECT_EQ (withLoop.queryInterface (FUnknown::iid, &answer), kResultOk);
    EXPECT_EQ (answer, static_cast<FUnknown*> (&withLoop));
    EXPECT_EQ (withLoop.queryInterface (IPlugFrame::iid, &answer), kResultOk);
    EXPECT_EQ (answer, static_cast<IPlugFrame*> (&withLoop));
    EXPECT_EQ (withLoop.queryInterface (Linux::IRunLoop::iid, &answer), kResultOk);
    EXPECT_EQ (answer, static_cast<Linux::IRunLoop*> (&runLoop));

    EXPECT_EQ (withoutLoop.queryInterface (Linux::IRunLoop::iid, &answer), kNoInterface);
    EXPECT_EQ (answer, nullptr);
    EXPECT_EQ (withLoop.queryInterface (IPlugView::iid, &answer), kNoInterface);
    EXPECT_EQ (answer, nullptr);
    EXPECT_EQ (withLoop.queryInterface (IPlugFrame::iid, nullptr), kInvalidArgument);
    EXPECT_EQ (withLoop.addRef(), 1000u);
    EXPECT_EQ (withLoop.release(), 1000u);
}

TEST (EditorTitle, EmptyTextGivesTheDefaultAndBrokenUtf8BecomesReplacementCharacters)
{
    struct Case
    {
        std::string text;
        std::string title;
    };

    const Case cases[] = {
        { "", "Orvane VST3" },
        { "Master Rack 1", "Master Rack 1" },
        { "マスター 1 — EQ", "マスター 1 — EQ" },
        { "a\xFF" "b", "a\xEF\xBF\xBD" "b" },                    // a byte that is no UTF-8
        { "\xE3\x83", "\xEF\xBF\xBD\xEF\xBF\xBD" },              // a sequence cut short
        { "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD" },              // an overlong form
        { "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" }, // a surrogate
        { std::string ("ok\0hidden", 9), "ok" },
        { std::string ("\0x", 2), "Orvane VST3" },
        { "\xF0\x9F\x8E\x9B", "\xF0\x9F\x8E\x9B" },             // outside the BMP
    };

    for (const auto& c : cases)
        EXPECT_EQ (editorWindowTitle (c.text), c.title);
}
