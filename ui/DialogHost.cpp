// The main view's menus, dialogs, file chooser and windows: one owner, which alone opens them,
// keeps the modal state and the keys typed ahead of a name dialog.

#include "ui/DialogHost.h"

#include "app/SessionCoordinator.h"
#include "platform/X11Keyboard.h"
#include "session/UiText.h"
#include "ui/AudioSettingsPanel.h"
#include "ui/CdImportPanel.h"
#include "ui/FileChoosing.h"
#include "ui/SettingsPanel.h"
#include "ui/TrackEqPanel.h"
#include "ui/VantrelView.h"
#include "ui/VstRackPanel.h"

namespace vantrel
{
namespace
{
/** Shows a window that exists and gives it the focus; false when there is none. */
bool bringToFront (ViewWindow* window)
{
    if (window == nullptr)
        return false;
    window->setVisible (true);
    window->toFront (true);
    return true;
}
} // namespace

DialogHost::DialogHost (VantrelView& v, SessionCoordinator& c, juce::LookAndFeel& lookAndFeel, bool& modalState,
                        std::unique_ptr<AudioFileChooser>& chooser)
    : view (v), coordinator (c), theme (lookAndFeel), modal (modalState), fileChooser (chooser)
{
}

DialogHost::~DialogHost()
{
    closeAll();
}

void DialogHost::closeAll()
{
    eqWindow.reset();
    vstWindow.reset();
    settingsWindow.reset();
    cdWindow.reset();
    outputDialog.reset();
    outputPanel.reset();
    dialog.reset();
}

// ---- menus and dialogs ------------------------------------------------------------------------------

void DialogHost::showMenu (juce::PopupMenu menu, const juce::PopupMenu::Options& options, MenuLeadsTo leadsTo,
                           std::function<void (int)> onResult)
{
    if (modal)
        return;
    modal = true;
    const bool held = leadsTo == MenuLeadsTo::nameDialog;
    if (held)
        typeAhead.hold();   // a name typed right after the choice is the name dialog's
    juce::WeakReference<DialogHost> safe (this);
    menu.showMenuAsync (options, [safe, held, onResult = std::move (onResult)] (int result)
    {
        if (safe == nullptr)
            return;
        auto& host = *safe;
        // Cleared first: the chooser and the dialogs that an item opens refuse to open while a
        // dialog of the view is up.
        host.modal = false;
        if (! host.view.flags().quitPending && onResult)
            onResult (result);
        if (safe == nullptr)
            return;
        if (held && ! safe->typeAhead.hasField())
            safe->typeAhead.release();
        safe->view.refresh();
    });
}

std::unique_ptr<juce::AlertWindow> DialogHost::makeAlert (const juce::String& title, const juce::String& message,
                                                          juce::MessageBoxIconType icon)
{
    auto window = std::make_unique<juce::AlertWindow> (title, message, icon, &view);
    window->setLookAndFeel (&theme);
    return window;
}

void DialogHost::dismissDialog()
{
    // Called from the alert window's own modal callback: the window goes after the callback.
    // The X keyboard focus goes back to the main window first (a hidden window passes it to its
    // parent, under a window manager a frame that drops the keys), and the keys the X server sent
    // the dialog before are served before it goes: they go where the next keys go (a dialog
    // asked again).
    if (auto* window = dialog.release())
    {
        if (auto* peer = view.getPeer(); peer != nullptr && window->getPeer() != nullptr && window->getPeer()->isFocused())
            peer->grabFocus();
        window->setVisible (false);
        juce::MessageManager::callAsync ([window]
        {
            platform::serveSentWindowEvents();
            delete window;
        });
    }
    modal = false;
}

void DialogHost::ask (const juce::String& title, const juce::String& message, juce::MessageBoxIconType icon,
                      const std::vector<DialogButton>& buttons, std::function<void (int)> onResult)
{
    if (modal)
        return;
    modal = true;
    dialog = makeAlert (title, message, icon);
    for (const auto& button : buttons)
        dialog->addButton (button.text, button.result, button.key);
    juce::WeakReference<DialogHost> safe (this);
    dialog->enterModalState (true, juce::ModalCallbackFunction::create ([safe, onResult = std::move (onResult)] (int result)
    {
        if (safe == nullptr)
            return;
        auto& view = safe->view;
        safe->dismissDialog();
        if (onResult)
            onResult (result);
        view.refresh();
    }), false);
}

void DialogHost::confirm (const juce::String& text, std::function<void()> onOk)
{
    ask ("Vantrel!", text, juce::MessageBoxIconType::QuestionIcon,
         { { translate ("キャンセル"), 0, juce::KeyPress (juce::KeyPress::escapeKey) }, { translate ("実行"), 1 } },
         [onOk = std::move (onOk)] (int result)
         {
             if (result == 1 && onOk)
                 onOk();
         });
}

void DialogHost::textDialog (const juce::String& title, const juce::String& label, const juce::String& initialText,
                             std::function<void (juce::String)> onText, bool nameRequired, const juce::String& message)
{
    if (modal)
        return;
    modal = true;
    dialog = makeAlert (title, message, juce::MessageBoxIconType::NoIcon);
    dialog->addTextEditor ("value", {}, label);
    auto& field = *dialog->getTextEditor ("value");
    // The name goes in without a change message. With one, the field's text value would post its
    // change, and serving that message later sets the field back to this name: on a busy machine
    // the keys already waiting when the dialog opens are served first, and the first typed key
    // would be put back over (the later ones then go on after the old name).
    field.setText (initialText, false);
    field.setCaretPosition (initialText.length());
    dialog->addButton (translate ("キャンセル"), 0, juce::KeyPress (juce::KeyPress::escapeKey));
    dialog->addButton (translate ("確定"), 1, juce::KeyPress (juce::KeyPress::returnKey));
    // The field is the one place for the keyboard: a window given the focus (by a window
    // manager, before the field has asked for it) gives it to its first child that takes it,
    // which would be the cancel button, and a Return typed ahead would then press it.
    for (auto* child : dialog->getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child))
            button->setWantsKeyboardFocus (false);
    juce::WeakReference<DialogHost> safe (this);
    dialog->enterModalState (true, juce::ModalCallbackFunction::create (
        [safe, title, label, nameRequired, onText = std::move (onText)] (int result)
    {
        if (safe == nullptr)
            return;
        auto& host = *safe;
        const auto text = host.dialog != nullptr ? host.dialog->getTextEditorContents ("value") : juce::String();
        host.typeAhead.fieldClosing();
        host.dismissDialog();
        if (result == 1 && nameRequired && text.trim().isEmpty())
        {
            // A show tool does not close a name dialog with nothing made: it asks again, and the
            // keys typed after the Return go into the dialog asked again.
            host.textDialog (title, label, text, onText, true, translate ("名前を入力してください"));
            return;
        }
        host.typeAhead.release();
        auto& view = host.view;
        if (result == 1 && onText)
            onText (text);
        view.refresh();
    }), false);
    // Keys typed from the press that opened the dialog on go into its field, in order.
    typeAhead.typeInto (*dialog, field);
}

void DialogHost::chooseFiles (bool multiple, std::function<void (juce::Array<juce::File>)> onChosen)
{
    if (modal)
        return;
    if (fileChooser == nullptr)
        fileChooser = std::make_unique<BrowserFileChooser>();
    modal = true;
    juce::WeakReference<DialogHost> safe (this);
    fileChooser->launch (translate ("音源を選択"), multiple, [safe, onChosen = std::move (onChosen)] (juce::Array<juce::File> files)
    {
        if (safe == nullptr)
            return;
        safe->modal = false;
        auto& view = safe->view;
        if (! files.isEmpty() && onChosen && ! view.flags().quitPending)
            onChosen (files);
        view.refresh();
    });
}

void DialogHost::closeForQuit()
{
    if (modal && dialog != nullptr)
        dialog->exitModalState (0);   // its callback runs later and finds the quit pending
    dismissDialog();
}

// ---- the output dialog and the panels' windows ---------------------------------------------------------

void DialogHost::openOutputDialog()
{
    if (! coordinator.canChangeOutput() || modal)
        return;
    modal = true;

    auto panel = std::make_unique<AudioSettingsPanel> (coordinator);
    outputDialog.reset();
    outputPanel.reset();
    outputDialog = std::make_unique<juce::AlertWindow> (translate ("音声出力設定"), translate ("出力方式と機器をVantrel!に保存します"),
                                                        juce::MessageBoxIconType::NoIcon, &view);
    outputDialog->setComponentID ("output-dialog");
    panel->onDone = [this]
    {
        if (outputDialog != nullptr)
            outputDialog->exitModalState (1);
    };
    outputDialog->addCustomComponent (panel.get());
    outputPanel = std::move (panel);
    outputDialog->addButton (translate ("閉じる"), 0, juce::KeyPress (juce::KeyPress::escapeKey));

    juce::WeakReference<DialogHost> safe (this);
    outputDialog->enterModalState (true, juce::ModalCallbackFunction::create ([safe] (int)
    {
        if (safe == nullptr)
            return;
        auto& host = *safe;
        // Called from the window's own modal callback: the window and its panel go after it.
        auto* window = host.outputDialog.release();
        auto* content = host.outputPanel.release();
        juce::MessageManager::callAsync ([window, content] { delete window; delete content; });
        host.modal = false;
        host.view.refresh();
    }), false);
}

juce::Component* DialogHost::window (const juce::String& id) const
{
    for (juce::Component* window : std::initializer_list<juce::Component*> { cdWindow.get(), settingsWindow.get(),
                                                                              vstWindow.get(), eqWindow.get(),
                                                                              outputDialog.get() })
        if (window != nullptr && window->getComponentID() == id)
            return window;
    return nullptr;
}

bool DialogHost::isWindowShown (const juce::String& id) const
{
    const auto* found = window (id);
    return found != nullptr && found->isVisible();
}

void DialogHost::openCdWindow()
{
    if (bringToFront (cdWindow.get()))
        return;
    cdWindow = std::make_unique<ViewWindow> (translate ("Vantrel! - CD取込"), theme);
    cdWindow->setComponentID ("cd-window");
    showInFittedPanel (*cdWindow, std::make_unique<CdImportPanel> (coordinator), view);
}

void DialogHost::openSettingsWindow()
{
    settingsWindow.reset();
    settingsWindow = std::make_unique<ViewWindow> ("Vantrel! - Settings", theme);
    settingsWindow->setComponentID ("settings-window");
    showInFittedPanel (*settingsWindow, std::make_unique<SettingsPanel> (coordinator), view);
}

void DialogHost::openVstWindow()
{
    if (bringToFront (vstWindow.get()))
        return;
    vstWindow = std::make_unique<ViewWindow> ("Vantrel! - MASTER VST", theme);
    vstWindow->setComponentID ("vst-window");
    // Closing hides the window and closes the plug-ins' editors with it.
    vstWindow->onClose = [this]
    {
        vstWindow->setVisible (false);
        coordinator.closeVstEditors();
    };
    showInFittedPanel (*vstWindow, std::make_unique<VstRackPanel> (coordinator), view);
}

void DialogHost::openEqWindow (const std::string& target)
{
    eqWindow.reset();   // at most one EQ window: another target (or the same) replaces it
    eqWindow = std::make_unique<ViewWindow> ("Vantrel! - " + coordinator.eqTitle (target), theme);
    eqWindow->setComponentID ("eq-window");
    eqWindow->onClose = [this]
    {
        // A drag still held by the panel becomes its one history step before the window goes.
        if (auto* panel = dynamic_cast<TrackEqPanel*> (eqWindow->panel()))
            panel->finishDrag();
        eqWindow->setVisible (false);
    };
    showInFittedPanel (*eqWindow, std::make_unique<TrackEqPanel> (coordinator, target), view);
}
} // namespace vantrel
