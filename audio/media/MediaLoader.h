#pragma once

#include "audio/media/MediaLimits.h"
#include "audio/media/MediaRecords.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel
{
/** Prepares queued media on a thread of its own (below-normal priority), one request at a
    time from the front of its queue, so that neither the message thread nor the audio thread
    ever decodes a file. One request per key: a newer request for a key replaces the queued
    one. Finished results wait until the owner takes them; the loader never touches a result
    again once it is in the list. All public operations are for the owner's (message) thread;
    the loader thread has the background role, so that a message-thread entry point it reached
    would stop a checked build.
    Destruction stops the thread: the load in progress ends at its next cancellation point and
    its result, the queue and untaken results are dropped. */
class MediaLoader
{
public:
    /** What one load does; loadMedia unless a caller supplies another. */
    using LoadFunction = std::function<std::shared_ptr<LoadedMedia> (const MediaLoadRequest&, CancelFlag)>;

    /** Starts the loader thread; throws std::system_error when it cannot be created. */
    MediaLoader();
    explicit MediaLoader (LoadFunction load);
    ~MediaLoader();

    MediaLoader (const MediaLoader&) = delete;
    MediaLoader& operator= (const MediaLoader&) = delete;

    /** Sets the stop flag (which also cancels the load in progress), wakes the thread and joins
        it. Queued requests are left unprocessed. Safe to call more than once. */
    void stop();

    /** Removes every queued request with the same key (the others keep their order) and
        appends this one at the back. */
    void enqueue (MediaLoadRequest request);

    /** Moves the first queued request with this key to the front; an unknown key, or the key
        already at the front, changes nothing. */
    void prioritize (const std::string& key);

    /** Hands over every finished result, in completion order; the list is empty afterwards. */
    std::vector<MediaLoadResult> takeResults();

private:
    void run();

    std::mutex mutex;                      // guards queue and results
    std::condition_variable wake;          // waited on by the loader thread only
    std::deque<MediaLoadRequest> queue;    // the front is taken next
    std::vector<MediaLoadResult> results;  // completion order
    std::atomic<bool> stopping { false };  // also the cancel flag of the load in progress
    LoadFunction load;
    std::thread thread;
};
} // namespace vantrel
