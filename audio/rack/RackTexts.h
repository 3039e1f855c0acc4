#pragma once

#include "audio/rack/VstRackRecords.h"

#include <juce_core/juce_core.h>

#include <cstdint>

namespace vantrel::rackText
{
// The rack's own texts (UTF-8; shown through the text table by the user interface).
inline constexpr const char* configCorrupt = "VST設定が破損しています。自動読込を止め、元ファイルを保持しました";
inline constexpr const char* saveRefusedCorrupt = "VST設定が破損しています。元の設定を保持しています";
inline constexpr const char* stateNotSaved = "VST状態を保存できません: ";
inline constexpr const char* stateTooLarge = "VST状態が保存上限を超えています";
inline constexpr const char* saveFailed = "VST設定の保存に失敗: ";
inline constexpr const char* scanning = "VST3を検索中";
inline constexpr const char* notUnique = "プラグインを一意に選べません";
inline constexpr const char* missingOrDuplicate = "プラグインが不在、または同じIDが複数あります。保存設定は保持します";
// Followed by the bundle's file name, ": " and the failure (several joined with " / ").
inline constexpr const char* failedInScan = "VST3の検索でこのプラグインの読込に失敗しました。保存設定は保持します: ";
inline constexpr const char* missingAfterScanFailures = "プラグインが見つかりません。検索で読込に失敗したVST3: ";
inline constexpr const char* latencyTooLong = "プラグイン遅延が2秒の上限を超えています";
inline constexpr const char* warmupTimeout = "VSTの初期準備が時間内に完了しませんでした";
inline constexpr const char* loaded = "VSTを読み込みました";
inline constexpr const char* initFailed = "VST初期化に失敗しました";
inline constexpr const char* changeFailed = "VST変更を適用できません: ";
inline constexpr const char* latencyOverLimit = "VST遅延が上限を超えました";
inline constexpr const char* editorMessage = "VST編集画面: ";
inline constexpr const char* editorFailed = "VST編集画面を開けません: ";
inline constexpr const char* saveTimeout = "VST状態の保存が時間内に完了しませんでした";
inline constexpr const char* saveQueueFull = "VST保存要求が混雑しています";
inline constexpr const char* stopped = "VST処理を終了しました";

/** The worker's refusal of a state larger than the program takes (its "ERR" text). */
inline constexpr const char* workerStateBound = "VST3 state exceeds the 16 MiB transfer bound";

inline juce::String text (const char* utf8)  { return juce::String::fromUTF8 (utf8); }

/** "VST " + slot number from 1 + " をバイパス: " + reason. */
inline juce::String bypassed (int slot, const juce::String& reason)
{
    return "VST " + juce::String (slot + 1) + text (" をバイパス: ") + reason;
}

/** "VST3 " + n + "件", and " / 除外・失敗 " + m + "件" when something was excluded. */
inline juce::String scanSummary (std::size_t found, int excluded)
{
    auto summary = "VST3 " + juce::String ((juce::int64) found) + text ("件");

    if (excluded > 0)
        summary += text (" / 除外・失敗 ") + juce::String (excluded) + text ("件");

    return summary;
}

/** The text of a fault, as the status and the diagnostics show it; empty for none. */
inline juce::String faultText (RackFault fault)
{
    switch (fault)
    {
        case RackFault::inputQueueOverflow:    return "VST input queue overflow";
        case RackFault::sequenceDiscontinuity: return "VST sequence discontinuity";
        case RackFault::missedDeadlines:       return "VST processing missed three block deadlines";
        case RackFault::outputQueueOverflow:   return "VST output queue overflow";
        case RackFault::none:                  break;
    }

    return {};
}
} // namespace vantrel::rackText
