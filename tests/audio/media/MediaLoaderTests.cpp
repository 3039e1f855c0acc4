// The media loader's queue (one request per key, priorities), its thread, the hand-over of
// results and cancellation by destruction.

#include "MediaTestSupport.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaLoader.h"
#include "audio/media/MediaTexts.h"
#include "platform/BelowNormalPriority.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vantrel
{
namespace
{
using orvane::audio::testing::TempFolder;
using namespace vantrel::testing;

MediaLoadRequest keyed (const std::string& key, std::int64_t serial = 1)
{
    MediaLoadRequest request;
    request.key = key;
    request.path = juce::File ("/nonexistent/" + key + ".wav");
    request.serial = serial;
    return request;
}

/** A stand-in load: records the keys in the order they are loaded, the nice value and cancel
    flag of the loading thread, and holds the load of the key "gate" until released. */
class RecordingLoads
{
public:
    MediaLoader::LoadFunction function()
    {
        return [this] (const MediaLoadRequest& request, CancelFlag cancel)
        {
            std::unique_lock<std::mutex> lock (mutex);
            keys.push_back (request.key);
            nice = platform::currentThreadNice();
            cancelFlag = cancel;
            changed.notify_all();
            changed.wait (lock, [&] { return request.key != "gate" || released; });
            auto media = std::make_shared<LoadedMedia>();
            media->fileName = juce::String (request.key);
            return media;
        };
    }

    void waitForLoads (std::size_t count)
    {
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait (lock, [&] { return keys.size() >= count; });
    }

    void release()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        released = true;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> keys;
    int nice = -100;
    CancelFlag cancelFlag = nullptr;
    bool released = false;
};

/** Takes results until count have arrived. */
std::vector<MediaLoadResult> collect (MediaLoader& loader, std::size_t count)
{
    std::vector<MediaLoadResult> all;
    while (all.size() < count)
    {
        auto more = loader.takeResults();
        for (auto& result : more)
            all.push_back (std::move (result));
        std::this_thread::yield();
    }
    return all;
}

std::vector<std::string> keysOf (const std::vector<MediaLoadResult>& results)
{
    std::vector<std::string> keys;
    for (const auto& result : results)
        keys.push_back (result.request.key);
    return keys;
}

TEST (MediaLoaderQueue, LaterRequestForAKeyReplacesTheQueuedOneAtTheBack)
{
    RecordingLoads loads;
    MediaLoader loader (loads.function());
    loader.enqueue (keyed ("gate"));
    loads.waitForLoads (1);

    loader.enqueue (keyed ("a", 1));
    loader.enqueue (keyed ("b", 2));
    loader.enqueue (keyed ("a", 3));
    loads.release();

    const auto results = collect (loader, 3);
    EXPECT_EQ (keysOf (results), (std::vector<std::string> { "gate", "b", "a" }));
    EXPECT_EQ (results[2].request.serial, 3);
    for (const auto& result : results)
    {
        ASSERT_NE (result.media, nullptr);
        EXPECT_EQ (result.media->fileName, juce::String (result.request.key));
    }
}

TEST (MediaLoaderQueue, PrioritizeMovesTheKeyToTheFrontAndKeepsTheRestInOrder)
{
    RecordingLoads loads;
    MediaLoader loader (loads.function());
    loader.enqueue (keyed ("gate"));
    loads.waitForLoads (1);

    for (const char* key : { "a", "b", "c", "d" })
        loader.enqueue (keyed (key));
    loader.prioritize ("c");
    loader.prioritize ("c");         // already first: nothing changes
    loader.prioritize ("unknown");   // nothing changes
    loader.prioritize ("gate");      // being loaded, not queued: nothing changes
    loads.release();

    EXPECT_EQ (keysOf (collect (loader, 5)), (std::vector<std::string> { "gate", "c", "a", "b", "d" }));
}

TEST (MediaLoaderQueue, FrontKeyStaysWhereItIs)
{
    RecordingLoads loads;
    MediaLoader loader (loads.function());
    loader.enqueue (keyed ("gate"));
    loads.waitForLoads (1);
    for (const char* key : { "a", "b", "c" })
        loader.enqueue (keyed (key));
    loader.prioritize ("a");
    loads.release();
    EXPECT_EQ (keysOf (collect (loader, 4)), (std::vector<std::string> { "gate", "a", "b", "c" }));
}

TEST (MediaLoaderQueue, ResultsAreHandedOverOnce)
{
    RecordingLoads loads;
    loads.released = true;
    MediaLoader loader (loads.function());
    loader.enqueue (keyed ("x"));
    loader.enqueue (keyed ("y"));
    const auto results = collect (loader, 2);
    EXPECT_EQ (keysOf (results), (std::vector<std::string> { "x", "y" }));
    EXPECT_TRUE (loader.takeResults().empty());
}

TEST (MediaLoaderThread, LoadsBelowNormalPriorityWithTheStopFlagAsCancelFlag)
{
    RecordingLoads loads;
    loads.released = true;
    const int expectedNice = std::min (19, platform::currentThreadNice() + platform::belowNormalNiceOffset);
    {
        MediaLoader loader (loads.function());
        loader.enqueue (keyed ("x"));
        collect (loader, 1);
        EXPECT_EQ (loads.nice, expectedNice);
        ASSERT_NE (loads.cancelFlag, nullptr);
        EXPECT_FALSE (loads.cancelFlag->load());
        loader.stop();
        loader.stop();   // a second stop is harmless

        // After stop nothing is loaded any more.
        loader.enqueue (keyed ("late"));
        EXPECT_TRUE (loader.takeResults().empty());
    }
    EXPECT_EQ (loads.keys, (std::vector<std::string> { "x" }));
}

TEST (MediaLoaderThread, FailingLoadFunctionStillGivesAResult)
{
    MediaLoader loader ([] (const MediaLoadRequest&, CancelFlag) -> std::shared_ptr<LoadedMedia>
                        { throw std::runtime_error ("broken"); });
    loader.enqueue (keyed ("x"));
    const auto results = collect (loader, 1);
    ASSERT_NE (results[0].media, nullptr);
    EXPECT_EQ (results[0].media->error, juce::String::fromUTF8 (mediatext::loadFailed));
}

TEST (MediaLoaderThread, PreparesRealFilesAndReportsFailuresInTheResult)
{
    TempFolder folder;
    const auto good = folder / "good.flac";
    ASSERT_TRUE (soxSynth (good, 44100, 2, PcmEncoding::int16, toneEffects (2, 1.0, 0.5)));
    const auto gone = folder / "gone.wav";
    ASSERT_TRUE (soxSynth (gone, 44100, 2, PcmEncoding::int16, toneEffects (2, 1.0)));
    const auto goneRequest = requestFor (gone, 48000.0);
    ASSERT_TRUE (gone.deleteFile());

    MediaLoader loader;
    auto request = requestFor (good, 48000.0, folder / "good-v2.bin");
    request.serial = 17;
    loader.enqueue (request);
    loader.enqueue (goneRequest);
    const auto results = collect (loader, 2);

    EXPECT_EQ (results[0].request.serial, 17);
    const auto& media = *results[0].media;
    ASSERT_TRUE (media.error.isEmpty()) << media.error;
    EXPECT_EQ (media.format, "FLAC");
    EXPECT_EQ (media.pcm->left.size(), 72000u);
    EXPECT_EQ (media.pcm->cueFrame, (std::int64_t) (22051.0 / 44100.0 * 48000.0));
    EXPECT_TRUE ((folder / "good-v2.bin").existsAsFile());

    EXPECT_EQ (results[1].media->error, juce::String::fromUTF8 (mediatext::fileMissing));
    EXPECT_EQ (results[1].media->pcm, nullptr);
    EXPECT_EQ (results[1].media->peaks, nullptr);
}

TEST (MediaLoaderThread, DestroyingTheLoaderCancelsTheLoadInProgress)
{
    TempFolder folder;
    const auto file = folder / "long.wav";
    ASSERT_TRUE (soxSynth (file, 44100, 2, PcmEncoding::int16, toneEffects (2, 30.0)));

    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    juce::String outcome = "unset";
    {
        MediaLoader loader ([&] (const MediaLoadRequest& request, CancelFlag cancel)
        {
            {
                const std::lock_guard<std::mutex> lock (mutex);
                started = true;
                changed.notify_all();
            }
            // The load is in progress when the destructor sets the flag, however the threads
            // are scheduled: it then ends at its first cancellation point.
            while (! cancel->load())
                std::this_thread::yield();
            auto media = loadMedia (request, cancel);
            const std::lock_guard<std::mutex> lock (mutex);
            outcome = media->error;
            return media;
        });
        loader.enqueue (requestFor (file, 48000.0));
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait (lock, [&] { return started; });
    }   // the destructor stops the thread and waits for the load to end

    EXPECT_EQ (outcome, juce::String::fromUTF8 (mediatext::cancelled));
}
} // namespace
} // namespace vantrel
