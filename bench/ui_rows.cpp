// The rows list over a playlist of 10,000 rows in the main view at 1380x860 (no display: the view
// is painted into an image). Figures: the CPU time of the thread to open the playlist and show
// it (the opening, one refresh and the first painting of the list), and per frame of scrolling,
// where a frame moves the list by one page (its rows shown again through the reused row
// components, down to the end and back to the top) and paints the list's area of the view as a
// repaint of that area would, background panels included; and the view's full refresh when
// nothing changed.
// Usage: bench_ui_rows [--frames=N] [--rows=N]   (other arguments are ignored)

#include "BenchTiming.h"
#include "BenchArguments.h"
#include "session/UiLanguage.h"
#include "tests/ui/DemoShow.h"
#include "ui/Fonts.h"
#include "ui/VantrelView.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace
{
using namespace vantrel;

using vantrel::bench::threadCpuMs;
using vantrel::bench::percentile;

juce::ListBox* findList (juce::Component& root)
{
    if (root.getComponentID() == "setlist")
        return dynamic_cast<juce::ListBox*> (&root);
    for (auto* child : root.getChildren())
        if (auto* found = findList (*child))
            return found;
    return nullptr;
}

int fail (const juce::String& why)
{
    std::printf ("bench_ui_rows: %s\n", why.toRawUTF8());
    return 1;
}
} // namespace

int main (int argc, char** argv)
{
    const int frames = vantrel::bench::intArgument (argc, argv, "frames", 300);
    const int rowCount = vantrel::bench::intArgument (argc, argv, "rows", 10000);
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();
    setUiLanguage (false);

    test::SessionRig rig;
    auto session = rig.make();
    test::DemoShowOptions options;
    options.bigPlaylistRows = rowCount;
    const auto show = test::buildDemoShow (*session, rig.media(), options);
    if (! show.ok())
        return fail (show.error);

    VantrelView view (*session);
    view.stopTicking();   // the frames below do the view's work themselves
    view.setBounds (0, 0, 1380, 860);
    auto* list = findList (view);
    if (list == nullptr)
        return fail ("the view has no rows list");
    const auto area = list->getBounds();
    juce::Image image (juce::Image::RGB, view.getWidth(), view.getHeight(), true);
    const auto paintList = [&]
    {
        juce::Graphics g (image);
        g.reduceClipRegion (area);
        view.paintEntireComponent (g, true);
    };

    const auto openStart = threadCpuMs();
    if (! session->openPlaylist (show.bigPlaylistId))
        return fail ("the playlist could not be opened: " + session->statusText());
    view.refresh();
    paintList();
    const auto openMs = threadCpuMs() - openStart;
    if (list->getModel() == nullptr || list->getModel()->getNumRows() != rowCount)
        return fail ("the list does not show the playlist's rows");

    auto* viewport = list->getViewport();
    const int page = viewport->getViewHeight();
    const int end = list->getModel()->getNumRows() * list->getRowHeight() - page;
    std::vector<double> perFrame;
    int y = 0, direction = 1;
    for (int f = 0; f < frames; ++f)
    {
        if ((direction > 0 && y + page > end) || (direction < 0 && y - page < 0))
            direction = -direction;
        y += direction * page;
        const auto start = threadCpuMs();
        viewport->setViewPosition (0, y);
        paintList();
        perFrame.push_back (threadCpuMs() - start);
    }

    // The view's full refresh (ten times a second) with nothing changed.
    std::vector<double> refreshes;
    for (int f = 0; f < frames; ++f)
    {
        const auto start = threadCpuMs();
        view.refresh();
        refreshes.push_back (threadCpuMs() - start);
    }

    const auto median = percentile (perFrame, 0.5);
    std::printf ("rows list of %d rows, %dx%d px list at row height %d, software painting of the list's area,"
                 " CPU time of the thread\n",
                 rowCount, area.getWidth(), area.getHeight(), list->getRowHeight());
    std::printf ("    open and first show: %.1f ms\n", openMs);
    std::printf ("    scroll by a page and repaint, %d frames: median %.3f ms  p95 %.3f ms  max %.3f ms per frame\n",
                 frames, median, percentile (perFrame, 0.95), percentile (perFrame, 1.0));
    std::printf ("    goal median under 16 ms: %s\n", median < 16.0 ? "met" : "not met");
    std::printf ("    the view's full refresh with nothing changed: median %.3f ms  p95 %.3f ms\n",
                 percentile (refreshes, 0.5), percentile (refreshes, 0.95));
    return 0;
}
