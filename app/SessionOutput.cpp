// The machine's settings: the output device, the master VST rack and the preferences. Each
// operation guards the change and forwards it; the device and the rack do the work.
#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "session/UiText.h"

namespace vantrel
{
bool SessionCoordinator::canChangeOutput() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return ! isLocked (LockScope::audioOutput) && ! audio.rack().isBusy() && ! playback.trackSounding()
           && ! playback.padsSounding();
}

bool SessionCoordinator::applyOutputDevice (const OutputDeviceSettings& settings)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    outputChoice.clearMessage();
    tick();
    if (! canChangeOutput())
    {
        outputChoice.refuse (translate ("すべての再生を停止し、LIVE LOCKを解除して、VSTの準備が終わってから適用してください。"));
        return false;
    }
    // Without audio the engine runs on its offline renderer: a device beside it would render too.
    if (! audioEnabled)
    {
        outputChoice.refuse (translate ("音声出力なしで動作しているため、出力先を変更できません"));
        return false;
    }
    if (! outputChoice.select (settings))
    {
        setAlert (outputChoice.message());
        return false;
    }

    // The media are prepared again at the new device's rate.
    registerMedia (false);
    preloadMedia();
    setStatus (translate ("出力先を変更しました"));
    return true;
}

// ---- the master VST rack ---------------------------------------------------------------------------
// Search folders and scans follow the output's guard; plug-in choice, slots and editors the VST
// scope. Refusals are silent: the rack panel shows the rack's own state.

bool SessionCoordinator::addVstSearchFolder (const juce::File& folder)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    return canChangeOutput() && audio.rack().addSearchFolder (folder);
}

bool SessionCoordinator::removeVstSearchFolder (const juce::String& folder)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    return canChangeOutput() && audio.rack().removeSearchFolder (folder);
}

void SessionCoordinator::rescanVst()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (canChangeOutput())
        audio.rack().requestRescan();
}

bool SessionCoordinator::chooseVstPlugin (int slot, const juce::String& classId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (isLocked (LockScope::vst) || audio.rack().isBusy())
        return false;
    return audio.rack().choosePlugin (slot, classId);
}

bool SessionCoordinator::setVstSlotEnabled (int slot, bool enabled)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    return ! isLocked (LockScope::vst) && audio.rack().setSlotEnabled (slot, enabled);
}

bool SessionCoordinator::openVstEditor (int slot)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return ! isLocked (LockScope::vst) && audio.rack().openEditor (slot);
}

// ---- preferences -----------------------------------------------------------------------------------

StoreResult SessionCoordinator::applyPreferences (const Preferences& prefs)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! preferences.isValid())
        return StoreResult::failure (translate ("設定ファイルが破損しています。元のファイルを保持しています。"));
    if (liveLock.isOn() && prefs.locks != preferences.current().locks)
        return StoreResult::failure (translate ("LIVE LOCKを解除してから固定範囲を変更してください"));
    if (mix.isDragging())
        commitEqEdit();
    return preferences.apply (prefs);
}

void SessionCoordinator::closeVstEditors()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    audio.rack().closeEditors();
}

bool SessionCoordinator::showDriverControlPanel()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return audio.showDriverControlPanel();
}

} // namespace vantrel
