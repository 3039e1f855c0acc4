#include "vsthost/AsyncEditorRequest.h"

#include "platform/ThreadContract.h"

#include <exception>

namespace orvane::vsthost
{
void runAsyncEditorRequest (const AsyncEditorRequest& request, BackendSlot& slot, LiveStatus& liveStatus)
{
    VANTREL_ASSERT_UI_THREAD;
    auto result = ProcessResult::failure ("no plugin loaded");

    if (slot != nullptr)
    {
        try
        {
            result = request.open ? slot->openNativeEditor (request.title) : slot->closeNativeEditor();
        }
        catch (const std::exception& failure)
        {
            result = ProcessResult::failure (failure.what());
        }
    }

    {
        const std::lock_guard<std::mutex> lock (liveStatus.mutex);
        liveStatus.lastEditorError = result.ok ? std::string() : result.message;
    }

    updateLiveStatus (liveStatus, slot.get());
    liveStatus.pendingEditorRequests.fetch_sub (1);
}
} // namespace orvane::vsthost
