#include "session/UiTextExtra.h"

namespace vantrel
{
const std::array<UiTextPair, numUiTextExtraPairs> uiTextExtraPairs {{
    // The media loader.
    { "準備を終了しました", "Preparation stopped" },
    { "音源が見つかりません。再リンクが必要です", "Audio not found. Relink required." },
    { "音源が登録時から変更されています。再リンクが必要です", "Audio has changed since it was added. Relink required." },
    { "解析中に音源が変更されました。再リンクが必要です", "Audio changed during analysis. Relink required." },
    { "音源準備に失敗しました", "Audio preparation failed" },
    { "出力サンプリング周波数を処理できません", "Cannot handle the output sample rate" },
    { "音源のチャンネル数または長さを処理できません（mono/stereo対応）", "Cannot handle the audio's channel count or length (mono/stereo supported)" },
    { "音源が準備可能なメモリ上限を超えています", "Audio exceeds the memory limit for preparation" },
    { "音源のデコードに失敗しました", "Audio decoding failed" },
    { "未対応形式または破損した音源です", "Unsupported format or damaged audio" },
    { "音源に再生可能なPCMがありません", "Audio contains no playable PCM" },
    { "音源PCMに非数値が含まれています", "Audio PCM contains non-numeric values" },
    { "Media Foundationを初期化できません", "Cannot initialize Media Foundation" },
    { "音源のPCM変換に失敗しました", "Audio PCM conversion failed" },
    { "音源全体のデコードに失敗しました", "Decoding the whole audio file failed" },
    { "音源PCMの読込に失敗しました", "Reading audio PCM failed" },
    { "音源のサイズまたはPCM境界が不正です", "Invalid audio size or PCM boundary" },
    { "音源デコーダーが進行しません", "Audio decoder is not making progress" },

    // The VST worker client.
    { "VSTホスト本体がありません", "VST host program is missing" },

    // The output settings file.
    { "出力設定が上限を超えています", "Output settings exceed the size limit" },
    { "出力先設定が破損しています。自動出力を止めました", "Output settings are damaged. Automatic output stopped." },
    { "出力設定の識別子が不正です", "Invalid identifier in output settings" },
    { "出力設定の数値形式が不正です", "Invalid number format in output settings" },
    { "出力設定の数値が不正です", "Invalid number in output settings" },
    { "出力先設定の識別子がありません", "Output settings have no identifier" },
    { "出力設定を保存できません。選択内容を確認してください", "Cannot save output settings. Check your selection." },
    { "以前の出力設定を保全できませんでした", "Could not preserve the previous output settings" },

    // The audio adapter: refused starts.
    { "VSTを準備中です。READYを保持しています", "Preparing VST. READY retained." },
    { "音源の登録がありません", "Audio is not registered" },
    { "音源参照が変わりました。再リンクが必要です", "Audio reference changed. Relink required." },
    { "再生用メモリ上限のため開始を保留しました", "Start held back by the playback memory limit" },
    { "VST設定を保存中です。READYを保持しています", "Saving VST settings. READY retained." },
    { "音声命令が混雑しています", "Audio command queue is busy" },

    // The audio adapter: opening, losing and rate changes of the output.
    { "出力先設定エラー。出力先を明示選択してください", "Output settings error. Select an output explicitly." },
    { "保存した出力方式に対応していません", "The saved output mode is not supported" },
    { "出力先を選択してください", "Select an output" },
    { "指定された出力先がありません", "The selected output is not available" },
    { "出力先を作成できません", "Cannot create the output" },
    { "JACKを初期化できません: ", "Cannot initialize JACK: " },
    { "出力情報を取得できません", "Cannot get output information" },
    { "選択したサンプルレートに対応していません: ", "Selected sample rate not supported: " },
    { "保持中のサンプルレートで出力先を復帰できません", "Cannot restore the output at the retained sample rate" },
    { "選択した出力チャンネルがありません", "Selected output channels not found" },
    { "出力チャンネルがありません", "No output channels" },
    { "選択したバッファーサイズに対応していません", "Selected buffer size not supported" },
    { "出力先が開始しませんでした", "Output did not start" },
    { "出力チャンネルを接続できませんでした", "Could not connect the output channels" },
    { "JACKが出力チャンネルを接続するのを待っています", "Waiting for JACK to connect the output channels" },
    { "サンプルレートが変化したため一時停止しました。元の出力レートで復帰を確認してください", "Paused because the sample rate changed. Check that the output returns at its original rate." },
    { "出力先が切断されました。プレイリストは一時停止、PADは停止しました", "Output disconnected. Playlist paused, PADs stopped." },
    { "ALSAの出力先を開けません: ", "The ALSA device could not be opened: " },
    { "JACKサーバーが応答しません。", "No JACK server answered. " },
    { "ALSAの既定の出力先を開けません: ", "ALSA's default device could not be opened: " },
    { "ALSAに既定の出力先がありません", "ALSA has no default device" },

    // Reading the session documents.
    { "登録行の型・音源参照情報が不正です", "Invalid row types or audio reference" },
    { "登録行不正", "Invalid row" },
    { "トラックEQ保存形式が不正です", "Invalid track EQ format" },
    { "トラックEQの型が不正です", "Invalid track EQ types" },
    { "トラックEQの値が範囲外です", "Track EQ values out of range" },
    { "音源参照は絶対パスが必要です", "Audio reference must be an absolute path" },
    { "playlistバージョン不正", "Invalid playlist version" },
    { "登録行配列がありません", "Row list is missing" },
    { "PAD保存データ不正", "Invalid saved PAD data" },
    { "PAD項目の型が不正です", "Invalid PAD entry types" },
    { "PAD音量の型・範囲が不正です", "Invalid PAD gain type or range" },
    { "PAD asset参照不正", "Invalid PAD asset reference" },
    { "UI保存状態の型・範囲が不正です", "Invalid saved UI state type or range" },
    { "行の表示密度が不正です", "Invalid row density" },
    { "未対応の保存バージョンです。元データは変更しません。", "Unsupported saved version. Original data left unchanged." },
    { "playlist配列がありません", "Playlist list is missing" },
    { "currentの型が不正です", "Invalid type of current playlist" },
    { "登録ID・選択・Gainの整合性エラー", "IDs, selection and gain are inconsistent" },

    // The atomic writer and the JSON reader (a file name follows the texts that end in ": ").
    { "保存データが大きすぎるため保存できません: ", "Cannot save, data too large: " },
    { "一時保存に失敗しました", "Temporary save failed" },
    { "一時保存のflush/readbackに失敗しました", "Temporary save flush/readback failed" },
    { "保存JSON自己検証に失敗しました", "Saved JSON self-check failed" },
    { "保存データを読めません: ", "Cannot read saved data: " },
    { "保存の確定に失敗しました: ", "Cannot commit the save: " },
    { "確定後の再読込に失敗しました", "Re-reading after commit failed" },
    { "JSON破損: ", "Damaged JSON: " },

    // The save worker.
    { "保存処理に失敗しました", "Saving failed" },

    // The catalog store; its two appended texts follow another message directly.
    { "復旧待ちのため自動保存を保留しています", "Autosave on hold until recovery" },
    { "（中断journalを保持しました）", " (interrupted save journal kept)" },
    { "復旧journalを確定できませんでした", "Could not finalize the recovery journal" },
    { "中断保存の復旧を確定できません", "Cannot complete recovery of the interrupted save" },
    { "catalogがありません。既存保存データを保護します", "Catalog missing. Existing saved data protected." },
    { "。直前のバックアップを読み取りました。復旧確認が必要です。", ". The previous backup was read. Recovery must be confirmed." },
    { "中断journalを除去できません", "Cannot remove the interrupted save journal" },
    { "バックアップから復旧しました", "Recovered from backup" },
    { "復旧フォルダの壊れた項目を移動しました: ", "Moved a damaged entry of the recovery folder aside: " },
    { "復旧フォルダの壊れた項目を移動できません: ", "Cannot move a damaged entry of the recovery folder aside: " },
    { "復旧用スナップショットを書けません（中断journalを保持しました）: ", "Cannot write the recovery snapshot (interrupted save journal kept): " },

    // The split files.
    { "catalogのplaylist IDが不正です", "Invalid playlist ID in catalog" },
    { "catalogの形式が不正です", "Invalid catalog format" },
    { "catalogとplaylist IDが一致しません", "Catalog and playlist IDs do not match" },
    { "app-stateのバージョンが不正です", "Invalid app-state version" },

    // Setting a damaged bundle aside.
    { "復旧の妨げになっている項目を移動できません: ", "Cannot move an item blocking recovery: " },

    // The session coordinator.
    { "保存データを読めず、読み取れるバックアップもありません。ファイルはそのまま残し、自動保存を保留しています。壊れたファイルを直すか移してから起動し直してください。",
      "Saved data cannot be read, and no backup can be read either. The files are left as they are and autosave is on hold. Repair or move the damaged files, then start again. " },
    { " · 終了を中止し、出力先を再開しました", " · Exit cancelled; output restarted" },
    { " · 終了を中止しました。出力先を再開できません: ", " · Exit cancelled. Cannot restart output: " },
    { "音源を開始できません", "Cannot start audio" },
    { "PAD ", "PAD " },
    { "音声出力なしで動作しているため、出力先を変更できません", "Running without audio output; the output cannot be changed" },
    { "\n元の出力先に戻せませんでした。現在、出力先はありません。", "\nCould not return to the previous output. There is no output now." },
    { "フォルダーを自分の中へは移動できません", "A folder cannot be moved into itself" },

    // The VST rack panel: a slot's line while the whole rack plays dry (the fault's text follows).
    { "ラック全体をドライ再生中: ", "Whole rack playing dry: " },

    // Clicks on value boxes that refuse editing while LIVE LOCK is on.
    { "LIVE LOCK中はトラックゲインを変更できません", "Track gain is protected by LIVE LOCK" },
    { "LIVE LOCK中はマスターゲインを変更できません", "Master gain is protected by LIVE LOCK" },
    { "LIVE LOCK中はリミッターを変更できません", "The limiter is protected by LIVE LOCK" },

    // Texts too long for their box: shown cut and read-only.
    { "長すぎるため、ここでは編集できません", "Too long to edit here" },
    { "［メモが長すぎるため、先頭だけを表示しています。ここでは編集できません。保存されたメモはそのまま残ります。］",
      "[This memo is too long: only its beginning is shown, and it cannot be edited here. The saved memo is kept whole.]" },

    // The library panel.
    { "保存場所を開けませんでした", "Could not open the file's location" },
    { "表示名を変更しました", "Display name changed" },

    // The rows list.
    { "備考を編集…", "Edit note…" },

    // The audio CD import.
    { "このトラックはVantrelの音源メモリ上限を超えます", "This track exceeds Vantrel's audio memory limit" },
    { "CD音源の保存先を作成できません", "Cannot create the file for the CD audio" },
    { "CDの読込結果が一致しません。ディスク・接続を確認してください", "CD reads do not match. Check the disc and the connection." },
    { "CD音源を書き込めません。空き容量を確認してください", "Cannot write the CD audio. Check the free space." },
    { "CD音源の保存が完了しませんでした", "Saving the CD audio did not complete" },
    { "CD取込先を作成できません", "Cannot create the CD import folder" },
    { "音楽CDが入れ替わりました", "The audio CD was changed" },
    { "CDトラック番号が不正です", "Invalid CD track number" },
    { "CD取込に必要な空き容量を確認できません", "Cannot confirm the free space the CD import needs" },
    { "取込音源の長さ・再読込を確認できません", "Cannot confirm the length or the re-reading of the imported audio" },
    { "取込用の一時WAVを片付けられません", "Cannot remove the temporary WAV of the import" },
    { "取込中に音楽CDが変わりました", "The audio CD changed during the import" },
    { "CD取込の復旧記録を保存できません", "Cannot save the CD import's recovery record" },
    { "CD取込音源の保存を確定できません", "Cannot finalize saving the CD import's audio" },
    { "MP3エンコーダー（LAME）を初期化できません", "Cannot initialize the MP3 encoder (LAME)" },
    { "MP3変換に失敗しました: LAMEのエラー ", "MP3 conversion failed: LAME error " },
    { "MP3ファイルを書き込めません。空き容量を確認してください", "Cannot write the MP3 file. Check the free space." },
    { "CD取込のプレイリストを追加できません。整理後に再度取り込みます", "Cannot add the imported CD playlist. It is added again after the next change." },

    // The CD import panel. Where the session has no importer the status line says why in this
    // system's own terms: data awaiting recovery, a start without audio, or a restart needed.
    { "音楽CD", "Audio CD" },
    { "新しいプレイリスト名", "New playlist name" },
    { "形式", "Format" },
    { "サンプリング周波数", "Sample rate" },
    { "MP3 ビットレート", "MP3 bitrate" },
    { "曲名は取込後に変更できます。音源はPCに保存され、CDを取り出しても再生できます。", "Track names can be changed after the import. The audio is saved on this computer and plays after the CD is ejected." },
    { "保存データの復旧確認が終わるまでCD取込は使えません", "CD import is unavailable until the saved data is recovered" },
    { "音声なしで起動しているためCD取込は使えません", "CD import is unavailable: Vantrel! started without audio" },
    { "CD取込はVantrel!の再起動後に使えます", "CD import is available after restarting Vantrel!" },

    // The name dialogs.
    { "名前を入力してください", "Enter a name" },

    // The output dialog: its rows, choices, hints and the system sounds' line.
    { "出力方式", "Output mode" },
    { "出力デバイス", "Output device" },
    { "サンプルレート", "Sample rate" },
    { "バッファー", "Buffer size" },
    { "出力チャンネル", "Output channels" },
    { "出力デバイスを選択", "Select an output device" },
    { "ALSA（機器・システム出力）", "ALSA (devices and system output)" },
    { "自動（対応レート）", "Automatic (supported rate)" },
    { "ドライバー既定", "Driver default" },
    { "（保存値・未確認）", " (saved, unconfirmed)" },
    { "1 / 2（機器接続時に確認）", "1 / 2 (checked when the device connects)" },
    { "JACKサーバーのレートとバッファーで動作します。バッファーを大きくすると処理に余裕ができます。",
      "Runs at the JACK server's rate and buffer size. A larger buffer gives processing more headroom." },
    { "機器名の出力はシステムのミキサーを通しません。default・pulseはシステムの音量に従います。",
      "A device chosen by name bypasses the system mixer. The default and pulse devices follow the system volume." },
    { "システム音: Vantrel起動中は自動ミュート／終了時に復元", "System sounds: muted while Vantrel runs, restored on exit" },
    { "システム音: 自動ミュートを確認できません", "System sounds: automatic muting cannot be confirmed" },
    { "システム音: ミュート中（Vantrel終了時に元へ戻します）", "System sounds: muted (restored when Vantrel exits)" },
    { "システム音: 対象を監視中（終了時に元へ戻します）", "System sounds: monitoring (restored on exit)" },
    { "デスクトップのイベント音（システム音）が対象です。各アプリ独自の通知音は、そのアプリ側で設定してください。",
      "Applies to the desktop's event sounds (system sounds). Set each app's own notification sounds in that app." },
    { "出力デバイスを選択してください。設定はまだ変更していません。", "Select an output device. No settings have been changed yet." },
    { "出力設定を適用しました", "Output settings applied" },

    // The system sounds' stored problems, shown in the settings and output dialogs.
    { "システム音の制御を開始できません。復元記録を保持しています。", "System sound control cannot start. The restore record is kept." },
    { "未復元のシステム音設定を次回起動用に保持しています。", "System sound settings not yet restored are kept for the next start." },
    { "元のシステム音設定を保存できないため、ミュートを変更しません。", "The original system sound settings cannot be saved, so no mute is changed." },
    { "一部のシステム音をミュートできません。", "Some system sounds cannot be muted." },

    // The VST rack: a configured plug-in that the scan could not list (bundles and failures follow).
    { "VST3の検索でこのプラグインの読込に失敗しました。保存設定は保持します: ", "This plug-in failed to load in the VST3 scan. Saved settings retained: " },
    { "プラグインが見つかりません。検索で読込に失敗したVST3: ", "Plug-in not found. VST3 bundles that failed to load in the scan: " },
    { "（検索で読込失敗）", " (failed to load in the scan)" },
}};
} // namespace vantrel
