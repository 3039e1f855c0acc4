#include "ui/MainWindow.h"

#include "ui/DisplayRates.h"
#include "ui/Theme.h"
#include "ui/WindowPlacement.h"

namespace vantrel
{
MainWindow::MainWindow (const MainWindowSetup& setup)
    : juce::DocumentWindow (title, themeColour (juce::LookAndFeel::getDefaultLookAndFeel(), fieldColourId),
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::maximiseButton
                                | juce::DocumentWindow::closeButton,
                            true),
      coordinator (setup.profileRoot.getChildFile ("music"), setup.profileRoot.getChildFile ("local/device.json"),
                   setup.audioEnabled, setup.options),
      view (coordinator),
      content (view)
{
    // Before the native title bar makes the window's peer, which takes its display's frame rate.
    setWindowFrameRates();
    content.setSize (windowSizes::initialWidth, windowSizes::initialHeight);
    setUsingNativeTitleBar (true);
    setContentNonOwned (&content, true);
    setResizable (true, false);

    // The user area of the display under the pointer; none (headless) gives the default area.
    std::optional<juce::Rectangle<int>> area;
    const auto& displays = juce::Desktop::getInstance().getDisplays();
    if (const auto* display = displays.getDisplayForPoint (juce::Desktop::getMousePosition()))
        area = display->userArea;
    else if (const auto* primary = displays.getPrimaryDisplay())
        area = primary->userArea;
    FrameBorders borders;
    if (auto* peer = getPeer())
        if (const auto frame = peer->getFrameSizeIfPresent())
            borders = { frame->getTop(), frame->getLeft(), frame->getBottom(), frame->getRight() };
    const auto placement = placeMainWindow (area, borders);
    setResizeLimits (placement.minimumWidth, placement.minimumHeight, placement.maximumWidth, placement.maximumHeight);
    setBounds (placement.content);   // with the native title bar the bounds are the content's
    setIcon (windowIcon());
    setVisible (true);

    router = std::make_unique<KeyRouter> (*this, view);
    view.grabKeyboardFocus();
}

MainWindow::~MainWindow()
{
    router.reset();
    clearContentComponent();
}

void MainWindow::setWindowFrameRates()
{
    if (view.paintsOnItsOwnFrames())
        slowWindowFrameTimers();
    else
        assumeCommonRefreshRates();
}

void MainWindow::closeButtonPressed()
{
    view.requestQuit (onQuit ? onQuit : [] { juce::JUCEApplicationBase::quit(); });
}

void MainWindow::parentSizeChanged()
{
    juce::DocumentWindow::parentSizeChanged();
    setWindowFrameRates();
}

void MainWindow::activeWindowStatusChanged()
{
    if (router != nullptr)
        router->windowActivityChanged (isActiveWindow());
    if (isActiveWindow() && ! view.hasKeyboardFocus (true))
        view.grabKeyboardFocus();
}

juce::Image windowIcon()
{
    // The mark drawn once at the size window systems ask for most: the green GO ring with the
    // product's initial.
    juce::Image image (juce::Image::ARGB, 256, 256, true);
    juce::Graphics g (image);
    const auto& theme = juce::LookAndFeel::getDefaultLookAndFeel();
    g.setColour (themeColour (theme, fieldColourId));
    g.fillRoundedRectangle (8.0f, 8.0f, 240.0f, 240.0f, 48.0f);
    g.setColour (themeColour (theme, goColourId));
    g.drawEllipse (40.0f, 40.0f, 176.0f, 176.0f, 14.0f);
    g.setFont (juce::Font (130.0f, juce::Font::bold | juce::Font::italic));
    g.drawText ("V", 0, 0, 256, 256, juce::Justification::centred);
    return image;
}
} // namespace vantrel
