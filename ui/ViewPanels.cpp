// The main view's windows: the CD import, settings, master VST and EQ windows, each holding its
// panel fitted to the screen, and the output dialog.
#include "ui/ViewImpl.h"

#include "session/UiLanguage.h"
#include "session/UiText.h"
#include "ui/AudioSettingsPanel.h"
#include "ui/CdImportPanel.h"
#include "ui/SettingsPanel.h"
#include "ui/TrackEqPanel.h"
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

juce::Component* VantrelView::window (const juce::String& id) const
{
    const auto& m = *impl;
    for (juce::Component* window : std::initializer_list<juce::Component*> { m.cdWindow.get(), m.settingsWindow.get(),
                                                                              m.vstWindow.get(), m.eqWindow.get(),
                                                                              m.outputDialog.get() })
        if (window != nullptr && window->getComponentID() == id)
            return window;
    return nullptr;
}

void VantrelView::Impl::openCdWindow()
{
    if (bringToFront (cdWindow.get()))
        return;
    cdWindow = std::make_unique<ViewWindow> (translate ("Vantrel! - CD取込"), theme);
    cdWindow->setComponentID ("cd-window");
    showInFittedPanel (*cdWindow, std::make_unique<CdImportPanel> (coordinator), view);
}

void VantrelView::Impl::openSettingsWindow()
{
    view.commitPendingEdits();
    settingsWindow.reset();
    settingsWindow = std::make_unique<ViewWindow> ("Vantrel! - Settings", theme);
    settingsWindow->setComponentID ("settings-window");
    showInFittedPanel (*settingsWindow, std::make_unique<SettingsPanel> (coordinator), view);
}

void VantrelView::openMasterVst()
{
    auto& m = *impl;
    if (m.flags.dialogOpen)
        return;
    commitPendingEdits();
    if (bringToFront (m.vstWindow.get()))
        return;
    m.vstWindow = std::make_unique<ViewWindow> ("Vantrel! - MASTER VST", m.theme);
    m.vstWindow->setComponentID ("vst-window");
    // Closing hides the window and closes the plug-ins' editors with it.
    m.vstWindow->onClose = [this]
    {
        impl->vstWindow->setVisible (false);
        coordinator.closeVstEditors();
    };
    showInFittedPanel (*m.vstWindow, std::make_unique<VstRackPanel> (coordinator), *this);
}

void VantrelView::openEq (const juce::String& target)
{
    auto& m = *impl;
    m.eqTarget = target;
    commitPendingEdits();
    m.eqWindow.reset();   // at most one EQ window: another target (or the same) replaces it

    const auto key = target.toStdString();
    m.eqWindow = std::make_unique<ViewWindow> ("Vantrel! - " + coordinator.eqTitle (key), m.theme);
    m.eqWindow->setComponentID ("eq-window");
    m.eqWindow->onClose = [this]
    {
        // A drag still held by the panel becomes its one history step before the window goes.
        if (auto* panel = dynamic_cast<TrackEqPanel*> (impl->eqWindow->panel()))
            panel->finishDrag();
        impl->eqWindow->setVisible (false);
    };
    showInFittedPanel (*m.eqWindow, std::make_unique<TrackEqPanel> (coordinator, key), *this);
}

void VantrelView::Impl::deviceMenu()
{
    if (! coordinator.canChangeOutput() || flags.dialogOpen)
        return;
    flags.dialogOpen = true;

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

    juce::Component::SafePointer<VantrelView> safe (&view);
    outputDialog->enterModalState (true, juce::ModalCallbackFunction::create ([safe] (int)
    {
        if (safe == nullptr)
            return;
        auto& m = *safe->impl;
        // Called from the window's own modal callback: the window and its panel go after it.
        auto* window = m.outputDialog.release();
        auto* content = m.outputPanel.release();
        juce::MessageManager::callAsync ([window, content] { delete window; delete content; });
        m.flags.dialogOpen = false;
        safe->refresh();
    }), false);
}
} // namespace vantrel
