#pragma once

#include <string>
#include <vector>

namespace vantrel
{
/** What a history operation may touch; built afresh for every commit, undo and redo. */
struct EditGuard
{
    bool readOnly = false;                  // the store awaits recovery: every change is refused
    std::vector<std::string> soundingIds;   // MAIN's row id first, then OUTGOING's
    bool lockEdits = false;                 // LIVE LOCK: playlist / track editing
    bool lockTrackGainEq = false;           // LIVE LOCK: track gain / EQ
    bool lockMasterEq = false;              // LIVE LOCK: master EQ
};
} // namespace vantrel
