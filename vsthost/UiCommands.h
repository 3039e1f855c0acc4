#pragma once

#include "vsthost/WorkerProtocol.h"

namespace orvane::vsthost
{
/** What a UI-thread command works on; the protocol thread waits while one runs. */
struct UiCommandContext
{
    BackendSlot& slot;
    std::ostream& out;
    ProcessConfig& config;
    const ProtocolServices& services;
};

/** UI thread, inside one synchronous job. Answers the words that touch the plug-in (loading,
    scanning, configuration, parameters, state, editor). Returns false for a line that matches no
    word while a plug-in is loaded (the caller answers "unknown command"). */
bool executeUiCommand (const std::vector<std::string>& fields, UiCommandContext& context);
} // namespace orvane::vsthost
