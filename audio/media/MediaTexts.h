#pragma once

// The operator-facing reasons a media load fails (UTF-8). A load raises them as
// std::runtime_error and stores what() as the media's error.

namespace vantrel::mediatext
{
// Load sequence.
inline constexpr const char* fileMissing = "音源が見つかりません。再リンクが必要です";
inline constexpr const char* changedSinceRegistration = "音源が登録時から変更されています。再リンクが必要です";
inline constexpr const char* changedWhileLoading = "解析中に音源が変更されました。再リンクが必要です";
inline constexpr const char* cancelled = "準備を終了しました";
inline constexpr const char* loadFailed = "音源準備に失敗しました";

// Opening, decoding and resampling.
inline constexpr const char* targetRateUnusable = "出力サンプリング周波数を処理できません";
inline constexpr const char* channelsOrLengthUnusable = "音源のチャンネル数または長さを処理できません（mono/stereo対応）";
inline constexpr const char* memoryLimit = "音源が準備可能なメモリ上限を超えています";
inline constexpr const char* decodeFailed = "音源のデコードに失敗しました";
inline constexpr const char* unsupportedOrDamaged = "未対応形式または破損した音源です";
inline constexpr const char* noPlayablePcm = "音源に再生可能なPCMがありません";
inline constexpr const char* nonFiniteSamples = "音源PCMに非数値が含まれています";

// The stream decoder (M4A/AAC and the MP3 fallback).
inline constexpr const char* decoderStartFailed = "Media Foundationを初期化できません";
inline constexpr const char* pcmConversionFailed = "音源のPCM変換に失敗しました";
inline constexpr const char* wholeDecodeFailed = "音源全体のデコードに失敗しました";
inline constexpr const char* pcmReadFailed = "音源PCMの読込に失敗しました";
inline constexpr const char* sizeOrBoundaryInvalid = "音源のサイズまたはPCM境界が不正です";
inline constexpr const char* decoderStalled = "音源デコーダーが進行しません";
} // namespace vantrel::mediatext
