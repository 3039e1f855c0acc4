#include "vsthost/LiveStatus.h"

#include "vsthost/PluginBackend.h"

#include "platform/ThreadContract.h"

namespace orvane::vsthost
{
void updateLiveStatus (LiveStatus& status, PluginBackend* backend)
{
    VANTREL_ASSERT_UI_THREAD;
    if (backend == nullptr)
        return;

    const auto editorOpen = backend->isEditorOpen();
    const auto changeCount = backend->changeCount();
    const auto latency = backend->info().latencySamples;
    const auto reload = backend->reloadRequested();

    const std::lock_guard<std::mutex> lock (status.mutex);
    status.editorOpen = editorOpen;
    status.changeCount = changeCount;
    status.latencySamples = latency;
    status.reloadRequested = reload;
}
} // namespace orvane::vsthost
