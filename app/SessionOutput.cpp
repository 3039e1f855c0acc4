// The machine's settings: the output device, the master VST rack and the preferences. Each
// operation guards the change and forwards it; the device and the rack do the work.
#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "audio/output/OutputDeviceSettingsFile.h"
#include "session/PreferencesFile.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"

namespace vantrel
{
bool SessionCoordinator::canChangeOutput() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return ! isLocked (LockScope::audioOutput) && ! audio.rack().isBusy() && ! playback.trackSounding()
           && ! playback.padsSounding();
}

bool SessionCoordinator::restoreOutput (const OutputDeviceSettings& previous, bool previousReopen)
{
    // A choice the adapter did not reopen by itself (read from a damaged device.json) is not
    // opened now either: the output stays off until the operator's choice is applied.
    if (previousReopen && audio.selectOutput (previous).ok)
        return true;
    // A previous choice without an id is refused before anything changes, leaving the rejected
    // choice stored with automatic reopening: close what is open and put the previous back.
    audio.closeDevice();
    audio.restoreSettings (previous, previousReopen);
    return false;
}

bool SessionCoordinator::applyOutputDevice (const OutputDeviceSettings& settings)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    outputApplyMessage.clear();
    tick();
    if (! canChangeOutput())
    {
        outputApplyMessage = translate ("すべての再生を停止し、LIVE LOCKを解除して、VSTの準備が終わってから適用してください。");
        return false;
    }
    // Without audio the engine runs on its offline renderer: a device beside it would render too.
    if (! audioEnabled)
    {
        outputApplyMessage = translate ("音声出力なしで動作しているため、出力先を変更できません");
        return false;
    }

    const auto previous = audio.storedOutputSettings();
    const bool previousReopen = audio.reopensAutomatically();
    const auto noOutputLeft = [] { return translate ("\n元の出力先に戻せませんでした。現在、出力先はありません。"); };

    const auto selected = audio.selectOutput (settings);
    if (! selected.ok)
    {
        const bool restored = restoreOutput (previous, previousReopen);
        outputApplyMessage = translate ("適用できません: ") + selected.message.trim()
                             + translate ("\n選択内容を確認して再度適用してください。保存済み設定は変更していません。");
        if (! restored)
            outputApplyMessage += noOutputLeft();
        setAlert (outputApplyMessage);
        return false;
    }

    const auto written = writeOutputDeviceSettings (outputSettingsFile, settings);
    if (! written.ok)
    {
        const bool restored = restoreOutput (previous, previousReopen);
        outputApplyMessage = translate ("出力設定を保存できません: ") + written.message;
        if (! restored)
            outputApplyMessage += noOutputLeft();
        setAlert (outputApplyMessage);
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
    // A file that could not be read at start is kept as it is for the whole run.
    if (! preferencesValid)
        return StoreResult::failure (translate ("設定ファイルが破損しています。元のファイルを保持しています。"));
    if (liveLock.isOn() && prefs.locks != preferences.locks)
        return StoreResult::failure (translate ("LIVE LOCKを解除してから固定範囲を変更してください"));
    if (eqEditBefore.has_value())
        commitEqEdit();

    const auto saved = savePreferences (preferencesFile(), prefs);
    if (! saved.ok)
        return saved;
    preferences = prefs;
    setUiLanguage (prefs.english);

    if (osApply)
    {
        const auto applied = osApply (prefs);
        if (! applied.ok)
            return StoreResult::failure (translate ("設定は保存済みですが、OSへ適用できません: ") + applied.message);
    }
    return saved;
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
