#pragma once

#include "vsthost/ProcessTypes.h"
#include "vsthost/Vst3Backend.h"
#include "vsthost/Vst3Module.h"

#include <memory>
#include <string>
#include <vector>

namespace orvane::vsthost
{
class UiDispatcher;

/** The classes the worker hosts: category exactly "Audio Module Class", sub-categories (split
    on "|", empty pieces dropped) containing "Fx" and none of "OnlyARA", "OnlyOfflineProcess",
    "OnlyRT". Case-sensitive. */
bool isAcceptedEffectClass (const ModuleClassInfo& info);

/** UI thread. Opens the module, picks the accepted class whose id the text names, and builds
    and initialises its backend. Null with `error` set on any failure. */
std::unique_ptr<Vst3Backend> loadVst3Backend (const std::string& modulePath, const std::string& classIdText,
                                              std::string& error, UiDispatcher* uiDispatcher = nullptr);

/** UI thread. The accepted classes of a module, in factory order; empty with `error` set when
    the module cannot be opened or has none. */
std::vector<ClassRecord> scanVst3Module (const std::string& modulePath, std::string& error);
} // namespace orvane::vsthost
