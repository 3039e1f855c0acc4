#pragma once

#include "../ProbeClasses.h"

#include "pluginterfaces/base/funknown.h"

namespace probe
{
enum class StateMode
{
    normal,
    bigComponent,
    bigController,
    seekBack
};

/** The editor a probe class offers. */
enum class EditorMode
{
    none,            // createView answers null
    x11,
    refusesX11,
    zeroSize,
    slowAttach,
    attachFails,
    setFrameFails
};

/** How one probe class behaves. */
struct Behaviour
{
    Kind kind = Kind::fxStereo;
    const char* name = "";
    const char* category = "Audio Module Class";
    const char* subCategories = "Fx";
    bool hasController = true;
    int inputBuses = 1;
    bool mono = false;
    bool acceptsArrangement = false;   // a mono class: answer setBusArrangements with kResultOk
    int prefetchState = -1;            // -1: no IPrefetchableSupport
    bool setProcessingNotImplemented = false;
    bool processFails = false;
    bool crashInProcess = false;
    bool printsToStdout = false;
    bool failsInitialize = false;
    int plainParameters = -1;          // -1: FxStereo's four parameters; else that many plain ones
    StateMode stateMode = StateMode::normal;
    Steinberg::tresult setComponentStateResult = Steinberg::kResultOk;
    EditorMode editor = EditorMode::none;
    bool skipsEmptyProcess = false;    // a call without frames returns before reading its changes
    bool reloadsWhenLoud = false;      // a meter value of loudMeter or more asks for a reload, once
};

Behaviour behaviourFor (Kind kind);

/** The component's class id of a kind, and the id of its controller class. */
void componentClassId (Kind kind, Steinberg::TUID id);
void controllerClassId (Kind kind, Steinberg::TUID id);

/** The kind a class id names and whether it is the controller's; false for an unknown id. */
bool kindOfClassId (const Steinberg::TUID id, Kind& kind, bool& isController);
} // namespace probe
