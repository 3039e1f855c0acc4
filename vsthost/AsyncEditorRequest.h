#pragma once

#include "vsthost/LiveStatus.h"
#include "vsthost/WorkerProtocol.h"

#include <string>

namespace orvane::vsthost
{
/** An OPEN_EDITOR_ASYNC (open = true, with its title) or CLOSE_EDITOR_ASYNC request. */
struct AsyncEditorRequest
{
    bool open = false;
    std::string title;
};

/** The posted UI-thread job of an asynchronous editor request: opens or closes the editor of
    the plug-in held at the time the job runs ("no plugin loaded" without one), records the
    outcome as the last editor error, refreshes the live status and only then lowers the count
    of pending requests. Writes nothing to the protocol's output. */
void runAsyncEditorRequest (const AsyncEditorRequest& request, BackendSlot& slot, LiveStatus& liveStatus);
} // namespace orvane::vsthost
