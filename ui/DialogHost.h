#pragma once
// Message thread only.

#include "ui/TypeAhead.h"
#include "ui/ViewWindows.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <vector>

namespace vantrel
{
class AudioFileChooser;
class SessionCoordinator;
class VantrelView;

/** Whether an item of a menu can open a name dialog: then the keys typed from the menu's press on
    are kept for the dialog's field (ui/TypeAhead), and dropped when no field comes. */
enum class MenuLeadsTo
{
    noNameDialog,
    nameDialog
};

/** One button of a question: its text, the result it closes with and its key (none: no key). */
struct DialogButton
{
    juce::String text;
    int result = 0;
    juce::KeyPress key {};
};

/** The one owner of the main view's menus, dialogs, file chooser and windows. It alone writes the
    view's modal state (one modal at a time: a request while one is up is dropped without a
    message), holds and releases the type-ahead keeper around every menu that can lead to a name
    dialog, and refreshes the view when a menu or dialog closes. */
class DialogHost
{
public:
    /** `modalState` is the view's flag that tells a dialog, menu or chooser is up. */
    DialogHost (VantrelView& view, SessionCoordinator& coordinator, juce::LookAndFeel& theme, bool& modalState,
                std::unique_ptr<AudioFileChooser>& fileChooser);
    ~DialogHost();

    /** True while a menu, dialog or chooser of the view is up. */
    bool isOpen() const  { return modal; }

    /** Shows a popup menu; onResult runs with the chosen item (0 when dismissed), unless a quit
        began meanwhile; then the view is refreshed. Nothing while a dialog is up. */
    void showMenu (juce::PopupMenu menu, const juce::PopupMenu::Options& options, MenuLeadsTo leadsTo,
                   std::function<void (int)> onResult);
    /** A question in an alert window with the given buttons; onResult runs with the button's
        result; then the view is refreshed. Nothing while a dialog is up. */
    void ask (const juce::String& title, const juce::String& message, juce::MessageBoxIconType icon,
              const std::vector<DialogButton>& buttons, std::function<void (int)> onResult);
    void confirm (const juce::String& text, std::function<void()> onOk);
    void textDialog (const juce::String& title, const juce::String& label, const juce::String& initialText,
                     std::function<void (juce::String)> onText, bool nameRequired, const juce::String& message);
    void chooseFiles (bool multiple, std::function<void (juce::Array<juce::File>)> onChosen);
    /** The output dialog: the audio settings panel in a modal alert window. Nothing while the
        coordinator refuses output changes or a dialog is up. */
    void openOutputDialog();

    /** Shows the CD window (built on first use) and brings it to the front. */
    void openCdWindow();
    /** Replaces the settings window with a new one on the current preferences. */
    void openSettingsWindow();
    /** Shows the master VST window (built on first use) and brings it to the front. */
    void openVstWindow();
    /** Replaces the EQ window with a new one on the target. */
    void openEqWindow (const std::string& target);
    /** The window with this component ID ("cd-window", "settings-window", "vst-window",
        "eq-window", "output-dialog"), null while it does not exist. */
    juce::Component* window (const juce::String& id) const;
    /** Whether the window with this ID exists and is visible. */
    bool isWindowShown (const juce::String& id) const;

    /** A key press that reached the main window: true when it is kept for a name dialog's field. */
    bool keepTypedKey (const juce::KeyPress& key)  { return typeAhead.keep (key); }
    /** A quit the system asks for: the dialog that is up is closed (its callback finds the quit
        pending) and the modal state ends. */
    void closeForQuit();
    /** Destroys the windows and the dialogs, the windows first. */
    void closeAll();

private:
    /** The alert window goes after its own modal callback; the modal state ends. */
    void dismissDialog();
    std::unique_ptr<juce::AlertWindow> makeAlert (const juce::String& title, const juce::String& message,
                                                  juce::MessageBoxIconType icon);

    VantrelView& view;
    SessionCoordinator& coordinator;
    juce::LookAndFeel& theme;
    bool& modal;
    std::unique_ptr<AudioFileChooser>& fileChooser;
    TypeAhead typeAhead;   // the keys typed ahead of a name dialog's field
    std::unique_ptr<juce::AlertWindow> dialog;
    std::unique_ptr<ViewWindow> cdWindow, settingsWindow, vstWindow, eqWindow;
    std::unique_ptr<juce::AlertWindow> outputDialog;
    std::unique_ptr<juce::Component> outputPanel;

    JUCE_DECLARE_WEAK_REFERENCEABLE (DialogHost)
};
} // namespace vantrel
