#include "ProbeBehaviour.h"

#include <cstring>

namespace probe
{
using namespace Steinberg;

Behaviour behaviourFor (Kind kind)
{
    Behaviour b;
    b.kind = kind;

    switch (kind)
    {
        case Kind::fxStereo: b.name = "Probe FxStereo"; b.subCategories = "Fx|Dynamics"; break;
        case Kind::noController: b.name = "Probe NoController"; b.hasController = false; break;
        case Kind::sideChain: b.name = "Probe SideChain"; b.inputBuses = 2; break;
        case Kind::monoRefuses: b.name = "Probe MonoRefuses"; b.mono = true; break;
        case Kind::monoLiar: b.name = "Probe MonoLiar"; b.mono = true; b.acceptsArrangement = true; break;
        case Kind::instrument: b.name = "Probe Instrument"; b.subCategories = "Instrument|Synth"; break;
        case Kind::fxOnlyRt: b.name = "Probe FxOnlyRT"; b.subCategories = "Fx|OnlyRT"; break;
        case Kind::fxEmptyPieces: b.name = "Probe FxEmptyPieces"; b.subCategories = "Fx||Dynamics"; break;
        case Kind::notPrefetchable: b.name = "Probe NotPrefetchable"; b.prefetchState = 2; break;
        case Kind::neverPrefetchable: b.name = "Probe NeverPrefetchable"; b.prefetchState = 0; break;
        case Kind::setProcessingNotImpl: b.name = "Probe SetProcessingNotImpl"; b.setProcessingNotImplemented = true; break;
        case Kind::processFails: b.name = "Probe ProcessFails"; b.processFails = true; break;
        case Kind::params16384: b.name = "Probe Params16384"; b.plainParameters = 16384; break;
        case Kind::params16385: b.name = "Probe Params16385"; b.plainParameters = 16385; break;
        case Kind::bigComponent: b.name = "Probe BigComponent"; b.stateMode = StateMode::bigComponent; break;
        case Kind::bigController: b.name = "Probe BigController"; b.stateMode = StateMode::bigController; break;
        case Kind::seekBack: b.name = "Probe SeekBack"; b.stateMode = StateMode::seekBack; break;
        case Kind::ctrlStateError: b.name = "Probe CtrlStateError"; b.setComponentStateResult = kInternalError; break;
        case Kind::ctrlStateNotImpl: b.name = "Probe CtrlStateNotImpl"; b.setComponentStateResult = kNotImplemented; break;
        case Kind::failsInit: b.name = "Probe FailsInit"; b.failsInitialize = true; break;
        case Kind::printsStdout: b.name = "Probe PrintsStdout"; b.printsToStdout = true; break;
        case Kind::crashInProcess: b.name = "Probe CrashInProcess"; b.crashInProcess = true; break;
        case Kind::fxOtherCategory: b.name = "Probe FxOtherCategory"; b.category = "Probe Other Class"; break;
        case Kind::editorView: b.name = "Probe EditorView"; b.editor = EditorMode::x11; break;
        case Kind::editorNoX11: b.name = "Probe EditorNoX11"; b.editor = EditorMode::refusesX11; break;
        case Kind::editorZeroSize: b.name = "Probe EditorZeroSize"; b.editor = EditorMode::zeroSize; break;
        case Kind::editorSlowAttach: b.name = "Probe EditorSlowAttach"; b.editor = EditorMode::slowAttach; break;
        case Kind::editorAttachFails: b.name = "Probe EditorAttachFails"; b.editor = EditorMode::attachFails; break;
        case Kind::editorSetFrameFails: b.name = "Probe EditorSetFrameFails"; b.editor = EditorMode::setFrameFails; break;
        case Kind::skipsEmptyProcess: b.name = "Probe SkipsEmptyProcess"; b.skipsEmptyProcess = true; break;
        case Kind::reloadsWhenLoud: b.name = "Probe ReloadsWhenLoud"; b.reloadsWhenLoud = true; break;
    }

    return b;
}

namespace
{
void writeId (TUID id, std::uint32_t second, Kind kind)
{
    const std::uint32_t words[4] = { 0x4F525650u, second, 0u, static_cast<std::uint32_t> (kind) };

    for (int w = 0; w < 4; ++w)
        for (int b = 0; b < 4; ++b)
            id[4 * w + b] = static_cast<char> (words[w] >> (24 - 8 * b));
}
} // namespace

void componentClassId (Kind kind, TUID id)
{
    writeId (id, 0x524F4245u, kind);
}

void controllerClassId (Kind kind, TUID id)
{
    writeId (id, 0x43545231u, kind);
}

bool kindOfClassId (const TUID id, Kind& kind, bool& isController)
{
    for (auto k = 1u; k <= static_cast<unsigned> (Kind::last); ++k)
    {
        TUID candidate {};
        componentClassId (static_cast<Kind> (k), candidate);

        if (std::memcmp (candidate, id, sizeof (TUID)) == 0)
        {
            kind = static_cast<Kind> (k);
            isController = false;
            return true;
        }

        controllerClassId (static_cast<Kind> (k), candidate);

        if (std::memcmp (candidate, id, sizeof (TUID)) == 0)
        {
            kind = static_cast<Kind> (k);
            isController = true;
            return true;
        }
    }

    return false;
}
} // namespace probe
