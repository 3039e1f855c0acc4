#pragma once

#include <cstddef>
#include <cstdint>

// The words and bounds of the worker's line protocol, shared by the worker and by the main
// program's worker client, so that both sides spell every word the same way.
namespace orvane::vsthost::protocol
{
// Command words, compared byte for byte. Field counts include the word.
inline constexpr const char* ping = "PING";
inline constexpr const char* quit = "QUIT";
inline constexpr const char* liveStatus = "LIVE_STATUS";
inline constexpr const char* openEditorAsync = "OPEN_EDITOR_ASYNC";       // exactly 2
inline constexpr const char* closeEditorAsync = "CLOSE_EDITOR_ASYNC";
inline constexpr const char* processBuffer = "PROCESS_F32_BUFFER";       // exactly 5
inline constexpr const char* processFile = "PROCESS_F32_FILE";           // exactly 5
inline constexpr const char* loadVst3 = "LOAD_VST3";                     // exactly 3
inline constexpr const char* scanVst3 = "SCAN_VST3";                     // exactly 2
inline constexpr const char* config = "CONFIG";                          // 4 or 5
inline constexpr const char* bypass = "BYPASS";                          // exactly 2
inline constexpr const char* resetSeek = "RESET_SEEK";
inline constexpr const char* info = "INFO";
inline constexpr const char* params = "PARAMS";
inline constexpr const char* setParam = "SET_PARAM";                     // exactly 3
inline constexpr const char* flushParams = "FLUSH_PARAMS";
inline constexpr const char* serviceControl = "SERVICE_CONTROL";
inline constexpr const char* openEditor = "OPEN_EDITOR";                 // exactly 2
inline constexpr const char* closeEditor = "CLOSE_EDITOR";
inline constexpr const char* editorStatus = "EDITOR_STATUS";
inline constexpr const char* showEditor = "SHOW_EDITOR";                 // exactly 2
inline constexpr const char* saveState = "SAVE_STATE";
inline constexpr const char* loadState = "LOAD_STATE";                   // exactly 2

// Reply words. Every command ends with one final line that begins with `ok` or `err`.
inline constexpr const char* ok = "OK";
inline constexpr const char* err = "ERR";
inline constexpr char fieldSeparator = '\t';
inline constexpr const char* identity = "ORVANE_VST_HOST";
inline constexpr const char* identityVersion = "1";
inline constexpr const char* classLine = "CLASS";
inline constexpr const char* paramLine = "PARAM";
inline constexpr const char* binaryLine = "BINARY";

// The fields of the LIVE_STATUS reply, counted from the reply word ("OK") as field 0.
inline constexpr std::size_t liveEditorOpenField = 1;        // "1" or "0"
inline constexpr std::size_t liveChangeCountField = 2;       // unsigned decimal, never lowered
inline constexpr std::size_t liveLatencyField = 3;           // samples
inline constexpr std::size_t livePendingEditorField = 4;     // editor requests not yet run
inline constexpr std::size_t liveEditorErrorField = 5;       // "" when none
inline constexpr std::size_t liveReloadField = 6;            // `liveReloadRequested` or "0"
inline constexpr const char* liveReloadRequested = "1";      // the plug-in asked to be loaded again

// Bounds.
inline constexpr std::uint64_t maxPayloadBytes = 8388608;           // one PROCESS_F32_BUFFER payload
inline constexpr std::uint64_t maxFloatFileBytes = 8388608;         // one PROCESS_F32_FILE input
inline constexpr std::size_t maxStateTextLength = 134217792;        // LOAD_STATE's hex text
inline constexpr std::size_t maxCommandLineLength = maxStateTextLength + 64;
inline constexpr std::size_t maxSavedStateTextLength = 0x2000000;   // what the main program accepts
inline constexpr std::int32_t maxPendingEditorRequests = 8;
} // namespace orvane::vsthost::protocol
