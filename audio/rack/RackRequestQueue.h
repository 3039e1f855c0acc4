#pragma once

#include "audio/rack/VstRackRecords.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace vantrel
{
/** The rack's requests from the message thread to its control thread, carried out one at a time
    in posting order. The control thread takes the oldest request in each pass of its loop (the
    rack wakes it after a post). The slot requests and the reload after prepare count as pending operations from
    posting until they have been carried out; while any is pending the rack is busy. */
class RackRequestQueue
{
public:
    static constexpr int maxRequests = 64;

    /** `stopRequested` is the rack's: once it is set, nothing more is queued. */
    explicit RackRequestQueue (const std::atomic<bool>& stopRequested);

    RackRequestQueue (const RackRequestQueue&) = delete;
    RackRequestQueue& operator= (const RackRequestQueue&) = delete;

    /** Message thread: appends the request. False (nothing queued) while the rack stops or when
        64 requests are queued. */
    bool post (VstRackRequest request);

    /** Control thread: the oldest request, off the queue; none when the queue is empty. */
    std::optional<VstRackRequest> take();

    /** Control thread: a request taken has been carried out, however it ended. */
    void finished (const VstRackRequest& request) noexcept;

    /** Any thread: an operation outside the queue (prepare's reload when the queue was full)
        counts as pending from begin to end. */
    void beginOperation() noexcept { ++pending; }
    void endOperation() noexcept { --pending; }

    /** Any thread: operations posted or begun and not yet carried out. */
    std::int32_t pendingOperations() const noexcept { return pending.load(); }

    /** Any thread: requests queued and not yet taken. */
    std::size_t size() const;

    /** Control thread, when the rack stops: every waiting save is answered with failure and
        `text`, and the queue is emptied. */
    void abandonAll (const juce::String& text);

private:
    static bool countsAsPending (VstRackRequest::Kind kind) noexcept;

    const std::atomic<bool>& stopRequested;
    mutable std::mutex mutex;
    std::deque<VstRackRequest> requests;
    std::atomic<std::int32_t> pending { 0 };
};
} // namespace vantrel
