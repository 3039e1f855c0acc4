// The main view's input: key shortcuts with held keys, the mouse-wheel binding and the view's
// confirmation and text dialogs.

#include "ui/ViewImpl.h"

#include "session/CatalogValidation.h"
#include "session/UiText.h"

#include <algorithm>
#include <cmath>

namespace vantrel
{
namespace
{
/** The number at the end of an action name ("PAD 7" gives 7; a '-' before the digits makes it
    negative); 0 without trailing digits. */
int trailingNumber (const juce::String& action)
{
    int start = action.length();
    while (start > 0 && juce::CharacterFunctions::isDigit (action[start - 1]))
        --start;
    if (start == action.length())
        return 0;
    const int value = action.substring (start).getIntValue();
    return start > 0 && action[start - 1] == '-' ? -value : value;
}

bool isRepeatable (const juce::String& action)
{
    return action == "SEEK BACK" || action == "SEEK FORWARD" || action == "PREVIOUS ROW" || action == "NEXT ROW";
}
} // namespace

// ---- shortcuts ----------------------------------------------------------------------------------

bool VantrelView::acceptsShortcuts() const
{
    if (impl->dialogs.isOpen() || impl->flags.quitPending)
        return false;
    if (juce::Component::getCurrentlyModalComponent() != nullptr)
        return false;
    return ! textInputActive();
}

bool VantrelView::handleShortcut (int virtualKey, bool isRepeat, bool ctrl, bool shift)
{
    if (! acceptsShortcuts())
    {
        heldKeys.clear();
        return false;
    }
    auto& c = coordinator;
    const KeyBinding* binding = nullptr;
    for (const auto& entry : c.currentPreferences().keys)
        if (entry.key != 0 && entry.key == virtualKey && entry.ctrl == ctrl && entry.shift == shift)
        {
            binding = &entry;
            break;
        }
    if (binding == nullptr)
        return false;
    const auto action = binding->action;
    if (impl->flags.libraryShown && (action == "GO" || action == "PREVIOUS ROW" || action == "NEXT ROW"))
        return false;

    const bool held = std::find (heldKeys.begin(), heldKeys.end(), virtualKey) != heldKeys.end();
    if (isRepeat)
    {
        if (! held || ! isRepeatable (action))
        {
            ++swallowedRepeats;
            return true;
        }
    }
    else if (! held)
    {
        heldKeys.push_back (virtualKey);
    }

    const auto openPlaylist = c.catalogState().document.current;
    if (action == "GO")                 c.go();
    else if (action == "PAUSE")         c.togglePause();
    else if (action == "PAD STOP")      c.stopAllPads();
    else if (action.startsWith ("PAD ") && action != "PAD MUTE" && action != "PAD PANEL")
                                        c.triggerPad (trailingNumber (action));
    else if (action.startsWith ("DELETE")) impl->rowsColumn.deleteSelected();
    else if (action == "UNDO")          c.undoRedo (false);
    else if (action.startsWith ("REDO")) c.undoRedo (true);
    else if (action == "PREVIOUS ROW")  c.moveReady (-1);
    else if (action == "NEXT ROW")      c.moveReady (1);
    else if (action == "SEEK BACK")     c.seekMain (-5.0, false);
    else if (action == "SEEK FORWARD")  c.seekMain (5.0, false);
    else if (action == "MAIN STOP")     c.stop (true);
    else if (action == "OUT STOP")      c.stop (false);
    else if (action == "AUTO CUE")      c.toggleAutoCue();
    else if (action == "AUTO READY")    c.toggleAutoReady();
    else if (action == "REPEAT")        c.cycleRepeat();
    else if (action == "LIVE LOCK")     impl->transport.clickLiveLock();
    else if (action == "MASTER EQ")     openEq ("@master");
    else if (action == "PLAYLIST EQ")
    {
        if (! openPlaylist.empty())
            openEq ("@playlist:" + juce::String::fromUTF8 (openPlaylist.c_str()));
    }
    else if (action == "VST")           openMasterVst();
    else if (action == "ZOOM IN")       c.setZoom (c.catalogState().ui.zoom - 1);
    else if (action == "ZOOM OUT")      c.setZoom (c.catalogState().ui.zoom + 1);
    else if (action == "PAD MUTE")      c.setPadMute (! c.isPadMuteOn());
    else if (action == "PLAYLIST PANEL") c.togglePlaylistPanel();
    else if (action == "PAD PANEL")     c.togglePadPanel();
    else if (action == "MEMO PANEL")    c.toggleMemoPanel();
    else if (action == "LIMITER")       c.setLimiterEnabled (! c.isLimiterOn());
    refresh();
    return true;
}

void VantrelView::releaseHeldKey (int virtualKey)
{
    if (virtualKey == 16 || virtualKey == 17 || virtualKey == 18 || virtualKey == 229)
    {
        heldKeys.clear();
        return;
    }
    heldKeys.erase (std::remove (heldKeys.begin(), heldKeys.end(), virtualKey), heldKeys.end());
}

void VantrelView::clearHeldKeys() { heldKeys.clear(); }

bool VantrelView::holdTypedKey (const juce::KeyPress& key)
{
    auto& m = *impl;
    if (m.dialogs.keepTypedKey (key))
        return true;
    if (m.dialogs.isOpen() || m.flags.quitPending)
        m.refusedTyping.disarm();
    return m.refusedTyping.keep (key);
}

void VantrelView::windowLostKeyboard() { impl->refusedTyping.disarm(); }

void VantrelView::Impl::refuseTyping (juce::Component& box, const juce::String& reason)
{
    refusedTyping.arm (box, [this, reason]
    {
        coordinator.setStatus (reason);
        view.refresh();
    });
}

bool VantrelView::Impl::refuseEditAt (juce::Component* pressed)
{
    if (pressed == nullptr)
        return false;
    juce::String reason;
    for (auto* section : sections())
        if (reason.isEmpty())
            reason = section->editRefusal (*pressed);
    if (reason.isEmpty())
        return false;
    refuseTyping (*pressed, reason);
    return true;
}

// ---- the wheel ----------------------------------------------------------------------------------

juce::Component* VantrelView::wheelTarget() const { return impl->wheelTarget.getComponent(); }

bool VantrelView::wheelStepsReady() const { return impl->readyWheel; }

void VantrelView::bindWheelTarget (juce::Component* pressed)
{
    auto& m = *impl;
    for (auto* c = pressed; c != nullptr; c = c->getParentComponent())
    {
        if (c == this)
            break;
        if (dynamic_cast<juce::TextEditor*> (c) != nullptr)
            break;
        if (auto* gain = dynamic_cast<GainControl*> (c))
        {
            releaseWheelTarget();
            if (! gain->isEnabled() || ! gain->isVisible())
                return;
            m.wheelTarget = gain;
            m.wheelBinding = gain->getProperties()["wheel-binding"];
            gain->setWheelActive (true);
            return;
        }
        if (m.rowsColumn.isRowsList (c))
        {
            releaseWheelTarget();
            if (m.flags.libraryShown)
                return;
            m.readyWheel = true;
            m.rowsColumn.markReadyWheel (true);
            return;
        }
    }
    releaseWheelTarget();
}

void VantrelView::releaseWheelTarget()
{
    auto& m = *impl;
    if (auto* target = m.wheelTarget.getComponent())
        target->setWheelActive (false);
    m.wheelTarget = nullptr;
    m.readyWheel = false;
    m.wheelBinding = juce::var();
    m.wheelResidual = 0.0;
    m.rowsColumn.markReadyWheel (false);
}

void VantrelView::validateWheelTarget()
{
    auto& m = *impl;
    if (auto* target = m.wheelTarget.getComponent())
    {
        // Any text field with the focus takes the wheel's binding away, not only the control's own.
        if (! target->isShowing() || ! target->isEnabled() || textInputActive()
            || target->getProperties()["wheel-binding"] != m.wheelBinding)
            releaseWheelTarget();
    }
    else if (m.readyWheel && (! m.rowsColumn.rowsListShowing() || m.flags.libraryShown || textInputActive()))
    {
        releaseWheelTarget();
    }
}

bool VantrelView::handleWheel (double notches)
{
    auto& m = *impl;
    validateWheelTarget();
    if (! m.readyWheel && m.wheelTarget == nullptr)
        return false;
    if (! isShowing() || isCurrentlyBlockedByAnotherModalComponent())
    {
        releaseWheelTarget();
        return false;
    }
    if (! std::isfinite (notches) || notches == 0.0)
        return true;
    const bool opposite = (m.wheelResidual < 0.0 && notches > 0.0) || (m.wheelResidual > 0.0 && notches < 0.0);
    const double residual = juce::jlimit (-20.0, 20.0, (opposite ? 0.0 : m.wheelResidual) + notches);
    const int steps = (int) residual;   // toward zero
    if (steps == 0)
    {
        m.wheelResidual = residual;
        return true;
    }
    m.wheelResidual = residual - steps;
    if (auto* target = m.wheelTarget.getComponent())
        target->applyWheelStep ((float) steps);
    else
        coordinator.moveReady (-steps);
    refresh();
    return true;
}

// ---- dialogs and windows: all opened by the dialog host ---------------------------------------

void VantrelView::confirm (const juce::String& text, std::function<void()> onOk)
{
    impl->dialogs.confirm (text, std::move (onOk));
}

void VantrelView::textDialog (const juce::String& title, const juce::String& label, const juce::String& initialText,
                              std::function<void (juce::String)> onText, bool nameRequired, const juce::String& message)
{
    impl->dialogs.textDialog (title, label, initialText, std::move (onText), nameRequired, message);
}

void VantrelView::chooseFiles (bool multiple, std::function<void (juce::Array<juce::File>)> onChosen)
{
    impl->dialogs.chooseFiles (multiple, std::move (onChosen));
}

juce::Component* VantrelView::window (const juce::String& id) const { return impl->dialogs.window (id); }

void VantrelView::openSettingsWindow()
{
    commitPendingEdits();
    impl->dialogs.openSettingsWindow();
}

void VantrelView::openMasterVst()
{
    if (impl->dialogs.isOpen())
        return;
    commitPendingEdits();
    impl->dialogs.openVstWindow();
}

void VantrelView::openEq (const juce::String& target)
{
    impl->eqTarget = target;
    commitPendingEdits();
    impl->dialogs.openEqWindow (target.toStdString());
}
} // namespace vantrel
