#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"
#include "ui/FittedContent.h"
#include "ui/KeyRouting.h"
#include "ui/VantrelView.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace vantrel
{
/** Where the main window's session lives and how it plays. */
struct MainWindowSetup
{
    juce::File profileRoot;            // holds "music" and "local/device.json"
    bool audioEnabled = true;
    SessionCoordinatorOptions options;
};

/** The program's one top-level window: owns the session coordinator and the main view, scales the
    view to any window size and routes every key and wheel turn to the view before the control
    with the focus sees it. The close button asks the view to quit. */
class MainWindow : public juce::DocumentWindow
{
public:
    static constexpr const char* title = "Vantrel! Ver.1.0.0";

    explicit MainWindow (const MainWindowSetup& setup);
    ~MainWindow() override;

    /** Asks the view to quit; onQuit (default: the application's quit) runs once it may. */
    void closeButtonPressed() override;
    void activeWindowStatusChanged() override;
    /** The display list was rebuilt (display settings changed): displays that report no refresh
        rate get the common one again. */
    void parentSizeChanged() override;

    std::function<void()> onQuit;

    SessionCoordinator coordinator;
    VantrelView view;

private:
    /** The windows' own frame timers: slow where the view's frame clock paints them. */
    void setWindowFrameRates();
    FittedContent content;
    std::unique_ptr<KeyRouter> router;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};

/** The program's built-in window icon. */
juce::Image windowIcon();
} // namespace vantrel
