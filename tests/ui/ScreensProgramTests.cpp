// The screens program run as scripts/screens.sh runs it: on a private X server, into a folder,
// leaving one drawn picture per screen at the window's size.

#include "platform/PipedProcess.h"
#include "support/TestFiles.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <map>

namespace
{
using vantrel::platform::PipedProcess;
using vantrel::platform::XvfbServer;

/** The share of pixels (on a grid) that differ between two pictures of one size; 1 otherwise. */
double differingShare (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return 1.0;
    int differing = 0, all = 0;
    for (int y = 0; y < a.getHeight(); y += 4)
        for (int x = 0; x < a.getWidth(); x += 4, ++all)
            differing += a.getPixelAt (x, y) != b.getPixelAt (x, y) ? 1 : 0;
    return (double) differing / (double) all;
}

TEST (ScreensProgram, PicturesEveryScreenOfTheMainViewInARealWindow)
{
    if (XvfbServer::programPath().empty())
        GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    std::string error;
    ASSERT_TRUE (server.start (200, 299, error, 2600, 1500)) << error;

    vantrel::testing::TempFolder out ("screens");
    PipedProcess program;
    PipedProcess::Options options;
    options.program = VANTREL_SCREENS_PROGRAM;
    options.arguments = { (out / "shots").getFullPathName().toStdString() };
    options.environment = { { "DISPLAY", server.displayName() } };
    options.standardErrorPath = (out / "stderr.txt").getFullPathName().toStdString();
    ASSERT_TRUE (program.start (options, error)) << error;
    const auto exit = program.wait (600000);
    ASSERT_TRUE (exit.ended && exit.exited) << "the screens program did not end by itself";
    ASSERT_EQ (exit.exitCode, 0) << (out / "stderr.txt").loadFileAsString();

    const struct
    {
        const char* name;
        int width, height;
    } screens[] = {
        { "main-default", 1380, 860 }, { "main-1024x768", 1024, 768 }, { "main-2560x1400", 2560, 1400 },
        { "main-folded", 1380, 860 },  { "main-dynamics", 1380, 860 }, { "main-library", 1380, 860 },
        { "main-pad-edit", 1380, 860 }, { "main-live-lock", 1380, 860 }, { "main-english", 1380, 860 },
        { "main-memo-open", 1380, 860 }, { "main-no-playlist", 1380, 860 },
    };
    std::map<std::string, juce::Image> images;
    for (const auto& screen : screens)
    {
        SCOPED_TRACE (screen.name);
        const auto image = juce::ImageFileFormat::loadFrom (out / ("shots/" + juce::String (screen.name) + ".png"));
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), screen.width);
        EXPECT_EQ (image.getHeight(), screen.height);
        images[screen.name] = image;
    }
    // Each state is a picture of its own, not the default screen again.
    for (const char* name : { "main-folded", "main-dynamics", "main-library", "main-pad-edit", "main-live-lock",
                              "main-english", "main-memo-open", "main-no-playlist" })
        EXPECT_GT (differingShare (images["main-default"], images[name]), 0.0005) << name;
    // The whole X screen, when ImageMagick is there to take it.
    if (juce::File ("/usr/bin/import").existsAsFile())
    {
        const auto screen = juce::ImageFileFormat::loadFrom (out / "shots/screen-default.png");
        EXPECT_EQ (screen.getWidth(), 2600);
        EXPECT_EQ (screen.getHeight(), 1500);
    }
}
} // namespace
