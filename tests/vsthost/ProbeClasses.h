#pragma once

// The classes of the probe test module (tests/vsthost/plugins), shared by the module and the
// tests. The class id of a kind is 4F525650 524F4245 00000000 followed by the kind's number.

#include <cstdint>
#include <cstdio>
#include <string>

namespace probe
{
enum class Kind : std::uint32_t
{
    fxStereo = 1,           // the reference: separate controller, 4 parameters, latency 64, tail 32
    noController,           // component only
    sideChain,              // a second input bus
    monoRefuses,            // stays mono, setBusArrangements answers kResultFalse
    monoLiar,               // stays mono, setBusArrangements answers kResultOk
    instrument,             // "Instrument|Synth": not accepted
    fxOnlyRt,               // "Fx|OnlyRT": not accepted
    fxEmptyPieces,          // "Fx||Dynamics": accepted
    notPrefetchable,        // IPrefetchableSupport state 2
    neverPrefetchable,      // IPrefetchableSupport state 0
    setProcessingNotImpl,   // setProcessing answers kNotImplemented
    processFails,           // process answers kResultFalse
    params16384,
    params16385,
    bigComponent,           // the component writes 64 MiB + 1 bytes of state
    bigController,          // the controller writes 64 MiB + 1 bytes of state
    seekBack,               // writes 100 bytes, seeks to 0, writes 10
    ctrlStateError,         // setComponentState answers kInternalError
    ctrlStateNotImpl,       // setComponentState answers kNotImplemented
    failsInit,              // the component's initialize fails
    printsStdout,           // prints to standard output on every call
    crashInProcess,         // aborts in process
    fxOtherCategory,        // sub-category "Fx" in a category other than "Audio Module Class"
    editorView,             // an X11 editor of 320 x 200 that asks for 360 x 240 once attached
    editorNoX11,            // an editor that refuses the X11 platform type
    editorZeroSize,         // an editor that reports 0 x 300
    editorSlowAttach,       // an editor whose attached waits for the gate file
    editorAttachFails,      // an editor whose attached answers kResultFalse
    editorSetFrameFails,    // an editor whose setFrame answers kResultFalse
    skipsEmptyProcess,      // FxStereo whose process returns at once from a call without frames
    reloadsWhenLoud,        // FxStereo that asks for a reload once its meter reaches loudMeter
    last = reloadsWhenLoud
};

inline std::string classIdText (Kind kind)
{
    char text[40];
    std::snprintf (text, sizeof (text), "4F525650524F424500000000%08X", static_cast<unsigned> (kind));
    return text;
}

// The editor view's sizes: as created, and what it asks its frame for once attached.
inline constexpr int editorWidth = 320;
inline constexpr int editorHeight = 200;
inline constexpr int editorResizedWidth = 360;
inline constexpr int editorResizedHeight = 240;

// FxStereo's parameters.
inline constexpr std::uint32_t gainParameter = 0;      // gain = 2 x value (0.5 is unity)
inline constexpr std::uint32_t paddingParameter = 1;   // state padding = value x 32 MiB bytes
inline constexpr std::uint32_t meterParameter = 2;     // read-only; the processor reports its peak
inline constexpr std::uint32_t actionParameter = 3;    // the controller acts on value x 4096

inline constexpr double paddingUnit = 33554432.0;
inline constexpr double loudMeter = 0.9;   // ReloadsWhenLoud's threshold (output peak)

// Action codes of the action parameter (value = code / 4096).
inline constexpr int actionSetDirty = 2000;
inline constexpr int actionClearDirty = 2001;
inline constexpr int actionPerformEdit = 3000;          // performEdit (gain, 0.75)
inline constexpr int actionPerformEditOutOfRange = 3001; // performEdit (gain, 2.0)
inline constexpr int actionBlockNextMeter = 3500;       // the next meter delivery waits for the gate file
inline constexpr int actionGrowParameters = 3600;       // 64 more parameters, then kParamTitlesChanged
inline constexpr int actionGrowParametersValues = 3601; // 64 more parameters, then kParamValuesChanged
// Codes 1..1023 call restartComponent with the code as flags.

inline double actionValue (int code)
{
    return code / 4096.0;
}

// Environment of the module: where it logs, and the file that releases a blocked call.
inline constexpr const char* logVariable = "ORVANE_PROBE_LOG";
inline constexpr const char* gateVariable = "ORVANE_PROBE_GATE";
} // namespace probe
