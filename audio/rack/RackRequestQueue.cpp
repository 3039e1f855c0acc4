#include "audio/rack/RackRequestQueue.h"

#include "platform/ThreadContract.h"

namespace vantrel
{
RackRequestQueue::RackRequestQueue (const std::atomic<bool>& stopRequestedToWatch)
    : stopRequested (stopRequestedToWatch)
{
}

bool RackRequestQueue::countsAsPending (VstRackRequest::Kind kind) noexcept
{
    using Kind = VstRackRequest::Kind;
    return kind == Kind::choosePlugin || kind == Kind::setSlotEnabled || kind == Kind::openEditor
        || kind == Kind::reloadAfterPrepare;
}

bool RackRequestQueue::post (VstRackRequest request)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    // The stop flag is read under the mutex: a request is either queued before the control
    // thread abandons the queue, or refused.
    const std::lock_guard<std::mutex> lock (mutex);

    if (stopRequested.load() || requests.size() >= (std::size_t) maxRequests)
        return false;

    if (countsAsPending (request.kind))
        ++pending;

    requests.push_back (std::move (request));
    return true;
}

std::optional<VstRackRequest> RackRequestQueue::take()
{
    VANTREL_ASSERT_CONTROL_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);

    if (requests.empty())
        return std::nullopt;

    auto oldest = std::move (requests.front());
    requests.pop_front();
    return oldest;
}

void RackRequestQueue::finished (const VstRackRequest& request) noexcept
{
    VANTREL_ASSERT_CONTROL_THREAD;

    if (countsAsPending (request.kind))
        --pending;
}

std::size_t RackRequestQueue::size() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return requests.size();
}

void RackRequestQueue::abandonAll (const juce::String& text)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);

    for (auto& request : requests)
    {
        if (request.promise != nullptr)
            request.promise->set_value (StoreResult::failure (text));

        if (countsAsPending (request.kind))
            --pending;
    }

    requests.clear();
}
} // namespace vantrel
