#include "audio/media/MediaLoader.h"

#include "audio/media/MediaLoad.h"
#include "audio/media/MediaTexts.h"
#include "platform/BelowNormalPriority.h"
#include "platform/ThreadContract.h"
#include "platform/ThreadName.h"

#include <algorithm>

namespace vantrel
{
MediaLoader::MediaLoader()
    : MediaLoader ([] (const MediaLoadRequest& request, CancelFlag cancel) { return loadMedia (request, cancel); })
{
}

MediaLoader::MediaLoader (LoadFunction loadFunction)
    : load (std::move (loadFunction)),
      thread ([this] { platform::nameCurrentThread ("media loader"); run(); })
{
}

MediaLoader::~MediaLoader()
{
    stop();
}

void MediaLoader::stop()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    {
        const std::lock_guard<std::mutex> lock (mutex);
        stopping.store (true);
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

void MediaLoader::enqueue (MediaLoadRequest request)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    {
        const std::lock_guard<std::mutex> lock (mutex);
        queue.erase (std::remove_if (queue.begin(), queue.end(),
                                     [&request] (const MediaLoadRequest& queued) { return queued.key == request.key; }),
                     queue.end());
        queue.push_back (std::move (request));
    }
    wake.notify_all();
}

void MediaLoader::prioritize (const std::string& key)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);
    const auto found = std::find_if (queue.begin(), queue.end(),
                                     [&key] (const MediaLoadRequest& queued) { return queued.key == key; });
    if (found == queue.end() || found == queue.begin())
        return;

    auto request = std::move (*found);
    queue.erase (found);
    queue.push_front (std::move (request));
}

std::vector<MediaLoadResult> MediaLoader::takeResults()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);
    std::vector<MediaLoadResult> taken;
    taken.swap (results);
    return taken;
}

void MediaLoader::run()
{
    const ThreadRoleScope backgroundRole (ThreadRole::background);
    platform::setBelowNormalPriority();

    std::unique_lock<std::mutex> lock (mutex);
    for (;;)
    {
        wake.wait (lock, [this] { return stopping.load() || ! queue.empty(); });
        if (stopping.load())
            return;

        MediaLoadRequest request = std::move (queue.front());
        queue.pop_front();
        lock.unlock();

        std::shared_ptr<LoadedMedia> media;
        try
        {
            media = load (request, &stopping);
        }
        catch (...)
        {
            media = nullptr;
        }
        if (media == nullptr)
        {
            media = std::make_shared<LoadedMedia>();
            media->fileName = request.path.getFileName();
            media->signature = request.signature;
            media->error = juce::String::fromUTF8 (mediatext::loadFailed);
        }

        lock.lock();
        results.push_back (MediaLoadResult { std::move (request), std::move (media) });
    }
}
} // namespace vantrel
