#include "audio/output/OfflineRenderer.h"

#include "audio/output/DeviceSession.h"
#include "platform/ThreadContract.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <chrono>

namespace vantrel
{
OfflineRenderer::OfflineRenderer (DeviceSession& sessionToRender)
    : session (sessionToRender)
{
}

OfflineRenderer::~OfflineRenderer()
{
    stop();
}

void OfflineRenderer::start (double sampleRate, Pacing pacing)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    stop();
    session.runWithoutDevice (sampleRate, blockFrames, "Offline acceptance renderer");
    scratchLeft.assign (blockFrames, 0.0f);
    scratchRight.assign (blockFrames, 0.0f);
    running.store (true);
    if (pacing == Pacing::realTime)
    {
        quit.store (false);
        thread = std::thread ([this, sampleRate] { platform::nameCurrentThread ("offline render"); loop (sampleRate); });
    }
}

void OfflineRenderer::stop()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (thread.joinable())
    {
        quit.store (true);
        thread.join();
    }
    if (running.exchange (false))
        session.stopRunning();
}

void OfflineRenderer::loop (double sampleRate)
{
    const ThreadRoleScope audioRole (ThreadRole::audio);
    using Clock = std::chrono::steady_clock;
    const auto block = std::chrono::duration<double> (blockFrames / sampleRate);
    auto next = Clock::now();
    while (! quit.load())
    {
        float* channels[] = { scratchLeft.data(), scratchRight.data() };
        session.renderBlock (channels, 2, blockFrames);
        next += std::chrono::duration_cast<Clock::duration> (block);
        std::this_thread::sleep_until (next);
    }
}

void OfflineRenderer::renderFrames (int frames, float* left, float* right)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // Anything else renders already (a device or the renderer thread): a second render at the
    // same time would race it for the engine.
    if (! running.load() || thread.joinable())
        return;
    const ThreadRoleScope audioRole (ThreadRole::audio);
    for (int done = 0; done < frames;)
    {
        const int n = std::min (blockFrames, frames - done);
        float* channels[] = { left != nullptr ? left + done : scratchLeft.data(),
                              right != nullptr ? right + done : scratchRight.data() };
        session.renderBlock (channels, 2, n);
        done += n;
    }
}
} // namespace vantrel
