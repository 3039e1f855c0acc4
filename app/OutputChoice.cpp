#include "app/OutputChoice.h"

#include "audio/output/OutputDeviceSettingsFile.h"
#include "session/UiText.h"

namespace vantrel
{
StoreResult OutputChoice::openAtStart (const juce::File& workerExecutable)
{
    audio.setDiagnosticsPath (settingsFile.getSiblingFile ("audio-diagnostics.json"));
    OutputDeviceSettings settings;
    const auto read = readOutputDeviceSettings (settingsFile, settings);
    audio.setRackFiles (settingsFile.getSiblingFile ("master-vst.json"), workerExecutable);
    return audio.openOutput (settings, read.ok);
}

bool OutputChoice::restore (const OutputDeviceSettings& previous, bool previousReopen)
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

bool OutputChoice::select (const OutputDeviceSettings& settings)
{
    const auto previous = audio.storedOutputSettings();
    const bool previousReopen = audio.reopensAutomatically();
    const auto noOutputLeft = [] { return translate ("\n元の出力先に戻せませんでした。現在、出力先はありません。"); };

    const auto selected = audio.selectOutput (settings);
    if (! selected.ok)
    {
        const bool restored = restore (previous, previousReopen);
        lastMessage = translate ("適用できません: ") + translateMessage (selected.message.trim())
                      + translate ("\n選択内容を確認して再度適用してください。保存済み設定は変更していません。");
        if (! restored)
            lastMessage += noOutputLeft();
        return false;
    }

    const auto written = writeOutputDeviceSettings (settingsFile, settings);
    if (! written.ok)
    {
        const bool restored = restore (previous, previousReopen);
        lastMessage = translate ("出力設定を保存できません: ") + translateMessage (written.message);
        if (! restored)
            lastMessage += noOutputLeft();
        return false;
    }
    return true;
}
} // namespace vantrel
