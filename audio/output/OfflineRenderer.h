#pragma once

#include <atomic>
#include <thread>
#include <vector>

namespace vantrel
{
class DeviceSession;

/** The output without a device: the device session runs at a given rate with no device, and a
    thread of this renderer paces its render path at real time into silent scratch buffers
    (the program built without audio output), or a test renders by hand with renderFrames.
    Message thread only (checked in debug builds), but for isRunning; the renderer thread takes
    the audio role. */
class OfflineRenderer
{
public:
    enum class Pacing { realTime, manual };
    static constexpr int blockFrames = 512;

    /** `session` renders the blocks and must outlive the renderer. */
    explicit OfflineRenderer (DeviceSession& session);
    ~OfflineRenderer();   // stops

    OfflineRenderer (const OfflineRenderer&) = delete;
    OfflineRenderer& operator= (const OfflineRenderer&) = delete;

    /** Stops a run before, then runs the session without a device at `sampleRate` in blocks of
        512 frames; with real-time pacing a thread renders them. */
    void start (double sampleRate, Pacing pacing);
    /** Ends the run: the thread is joined and the session stops running (its ring drained). */
    void stop();
    /** Any thread. */
    bool isRunning() const  { return running.load(); }

    /** Renders `frames` frames (in blocks of at most 512) into `left`/`right` when given, else
        into the scratch buffers, in the audio role. Only during a run with manual pacing: else
        something renders already and this does nothing. */
    void renderFrames (int frames, float* left, float* right);

private:
    void loop (double sampleRate);

    DeviceSession& session;
    std::atomic<bool> running { false };
    std::atomic<bool> quit { false };
    std::thread thread;
    std::vector<float> scratchLeft, scratchRight;
};
} // namespace vantrel
