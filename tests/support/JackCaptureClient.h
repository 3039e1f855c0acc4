#pragma once

#include "support/WaitUntil.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test
{
/** A JACK client of the tests' own on the server that JACK_DEFAULT_SERVER names: it registers
    input ports "in_1".."in_N", listens to another client's outputs (or is itself the output a
    program opens) and records what arrives into storage allocated up front.

    Every method runs on the test's thread; the process callback runs on JACK's thread and only
    copies samples and publishes how many frames it wrote (no allocation, no lock).

    A capture is only sample-exact when no cycle was lost: the client counts the xruns JACK
    reports and the cycles its own process callback did not see (a jump in the cycle's frame
    time), so a test can tell a lost cycle from a fault. */
class JackCaptureClient
{
public:
    /** The client name the program's JACK device opens its client with (the build sets
        JUCE_JACK_CLIENT_NAME); its output ports are "out_1".."out_N". */
    static constexpr const char* programClientName = "Vantrel";

    explicit JackCaptureClient (int numChannels = 2, std::size_t capacityFrames = 8 * 48000)
        : capacity (capacityFrames),
          storage ((std::size_t) std::max (numChannels, 1), std::vector<float> (capacityFrames, 0.0f))
    {
    }

    ~JackCaptureClient()  { close(); }

    JackCaptureClient (const JackCaptureClient&) = delete;
    JackCaptureClient& operator= (const JackCaptureClient&) = delete;

    /** Opens the client (never starting a server), registers its input ports and activates it.
        JACK may give a different name when the requested one is taken: see name(). */
    bool open (const std::string& requestedName)
    {
        close();
        cycleSeen = false;
        stampSequence.store (0);
        jack_status_t status {};
        client = jack_client_open (requestedName.c_str(), JackNoStartServer, &status);
        if (client == nullptr)
            return fail ("cannot open a JACK client, status " + std::to_string ((int) status));
        for (std::size_t c = 0; c < storage.size(); ++c)
        {
            const auto portName = "in_" + std::to_string (c + 1);
            auto* port = jack_port_register (client, portName.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            if (port == nullptr)
                return fail ("cannot register " + portName);
            ports.push_back (port);
        }
        if (jack_set_process_callback (client, &JackCaptureClient::process, this) != 0)
            return fail ("cannot set the process callback");
        if (jack_set_xrun_callback (client, &JackCaptureClient::xrun, this) != 0)
            return fail ("cannot set the xrun callback");
        if (jack_activate (client) != 0)
            return fail ("cannot activate the client");
        return true;
    }

    /** Deactivates and closes the client; the frames captured so far stay readable. */
    void close()
    {
        if (client == nullptr)
            return;
        recording.store (false, std::memory_order_release);
        jack_deactivate (client);
        jack_client_close (client);
        client = nullptr;
        ports.clear();
    }

    const std::string& lastError() const  { return error; }
    std::string name() const  { return client != nullptr ? std::string (jack_get_client_name (client)) : std::string(); }
    int numChannels() const  { return (int) storage.size(); }

    /** The audio output ports of `clientName`, in channel order ("out_2" before "out_10"). */
    std::vector<std::string> outputPortsOf (const std::string& clientName) const
    {
        std::vector<std::string> found;
        if (client == nullptr)
            return found;
        const auto prefix = clientName + ":";
        if (const char** names = jack_get_ports (client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput))
        {
            for (const char** name = names; *name != nullptr; ++name)
                if (std::strncmp (*name, prefix.c_str(), prefix.size()) == 0)
                    found.emplace_back (*name);
            jack_free (names);
        }
        std::sort (found.begin(), found.end(), [] (const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        return found;
    }

    /** The ports that `portName` is connected to, as the server lists them. */
    std::vector<std::string> connectionsOf (const std::string& portName) const
    {
        std::vector<std::string> found;
        jack_port_t* port = client != nullptr ? jack_port_by_name (client, portName.c_str()) : nullptr;
        if (port == nullptr)
            return found;
        if (const char** names = jack_port_get_all_connections (client, port))
        {
            for (const char** name = names; *name != nullptr; ++name)
                found.emplace_back (*name);
            jack_free (names);
        }
        std::sort (found.begin(), found.end());
        return found;
    }

    /** Connects the first outputs of `sourceClient` to in_1..in_N, one to one. False (and
        lastError() says why) when the client has fewer outputs or a connection fails. */
    bool connectFrom (const std::string& sourceClient)
    {
        const auto sources = outputPortsOf (sourceClient);
        if (sources.size() < ports.size())
            return fail (sourceClient + " has " + std::to_string (sources.size()) + " output ports");
        for (std::size_t c = 0; c < ports.size(); ++c)
        {
            const int result = jack_connect (client, sources[c].c_str(), jack_port_name (ports[c]));
            if (result != 0 && result != EEXIST)
                return fail ("cannot connect " + sources[c] + ", error " + std::to_string (result));
        }
        return true;
    }

    /** Records from frame 0 again: what was captured before is dropped, and so are the xruns
        and skipped cycles counted so far. */
    void start()
    {
        written.store (0, std::memory_order_release);
        xrunsAtStart.store (xrunCount.load());
        skippedCycles.store (0);
        lateCycleCount.store (0);
        recording.store (true, std::memory_order_release);
    }

    /** Stops recording; a cycle already running may still finish its frames. */
    void stop()  { recording.store (false, std::memory_order_release); }

    std::size_t framesCaptured() const  { return written.load (std::memory_order_acquire); }

    /** The present moment on the frame clock, as the cycles that ran place it: the start frame of
        the last cycle this client's callback saw, plus the time since that callback began
        (jack_get_time), at most one period on (what comes later, the next cycle takes). Not
        jack_frame_time: that extrapolates from the server's filtered estimate of its cycle
        times, which after one cycle that ran late stays hundreds of frames away from the cycles
        for seconds (measured on the dummy server at 64 frames: up to 1,565 frames, p99 1,322).
        This errs early (a latency measured from it, long) by the time the graph spent before
        this client's callback in that cycle. 0 before the first cycle. */
    jack_nframes_t frameNow() const
    {
        for (;;)
        {
            const auto sequence = stampSequence.load (std::memory_order_acquire);
            if ((sequence & 1) != 0)
                continue;
            // Acquire loads keep the second look at the sequence after them (ThreadSanitizer
            // does not model fences).
            const auto frame = stampFrame.load (std::memory_order_acquire);
            const auto usecs = stampUsecs.load (std::memory_order_acquire);
            const auto frames = stampFrames.load (std::memory_order_acquire);
            if (stampSequence.load (std::memory_order_relaxed) != sequence)
                continue;
            if (client == nullptr || sequence == 0)
                return 0;
            const auto elapsed = (double) (jack_get_time() - usecs) * jack_get_sample_rate (client) / 1.0e6;
            return frame + (jack_nframes_t) std::min (elapsed, (double) frames);
        }
    }

    /** Cycles since start() whose callback began more than one and a half periods after the one
        before: the server (or this client) ran late, and what was heard in them came late. */
    int lateCycles() const  { return lateCycleCount.load(); }

    /** The frame clock of captured frame 0 (the start of the first cycle recorded since start());
        frame i of the capture is at firstFrameTime() + i while skipped() is 0. Valid once a frame
        was captured. */
    jack_nframes_t firstFrameTime() const  { return firstCycleStart.load (std::memory_order_acquire); }

    /** Xruns JACK reported since start() (also after stop(): a report may come late). */
    int xruns() const  { return xrunCount.load() - xrunsAtStart.load(); }

    /** Cycles the process callback did not see while recording: the captured frames are
        consecutive frames of the graph only while this is 0. */
    int skipped() const  { return skippedCycles.load(); }
    bool isFull() const  { return framesCaptured() >= capacity; }

    /** A copy of the frames of one channel captured so far. */
    std::vector<float> channel (int index) const
    {
        const auto frames = framesCaptured();
        const auto& source = storage.at ((std::size_t) index);
        return std::vector<float> (source.begin(), source.begin() + (std::ptrdiff_t) frames);
    }

    /** Appends frames [from, to) of one channel to `out` (to at most what was captured): a test
        that follows a growing capture copies each frame once. */
    void appendFrames (int index, std::size_t from, std::size_t to, std::vector<float>& out) const
    {
        to = std::min (to, framesCaptured());
        const auto& source = storage.at ((std::size_t) index);
        if (from < to)
            out.insert (out.end(), source.begin() + (std::ptrdiff_t) from, source.begin() + (std::ptrdiff_t) to);
    }

    struct StereoFrames
    {
        std::vector<float> left, right;
    };

    /** A copy of channels `firstChannel` and `firstChannel + 1`, both of the same length. */
    StereoFrames stereoFrames (int firstChannel = 0) const
    {
        const auto frames = framesCaptured();
        const auto copy = [&] (int index) {
            const auto& source = storage.at ((std::size_t) index);
            return std::vector<float> (source.begin(), source.begin() + (std::ptrdiff_t) frames);
        };
        return { copy (firstChannel), copy (firstChannel + 1) };
    }

    /** Waits until at least `frames` frames were captured, at most `timeoutMs` milliseconds,
        calling `idle` every few milliseconds meanwhile (a test ticks its adapter there). */
    template <typename Idle>
    bool waitForFrames (std::size_t frames, int timeoutMs, Idle&& idle) const
    {
        vantrel::testing::waitUntil ([&] { return framesCaptured() >= frames || isFull(); },
                                     std::chrono::milliseconds (timeoutMs), std::chrono::milliseconds (5), idle);
        return framesCaptured() >= frames;
    }

    bool waitForFrames (std::size_t frames, int timeoutMs) const
    {
        return waitForFrames (frames, timeoutMs, [] {});
    }

private:
    bool fail (std::string text)
    {
        error = std::move (text);
        return false;
    }

    /** JACK's process thread: copies this cycle's input into the storage and publishes it. A
        start() that reset the count meanwhile wins: the cycle's frames are then not published. */
    static int process (jack_nframes_t frames, void* argument) noexcept
    {
        auto& self = *static_cast<JackCaptureClient*> (argument);
        const auto began = jack_get_time();
        const auto cycleStart = jack_last_frame_time (self.client);
        const bool continuous = ! self.cycleSeen || cycleStart == self.nextCycleStart;
        const bool late = self.cycleSeen
                       && (double) (began - self.lastCallback) > 1.5e6 * frames / jack_get_sample_rate (self.client);
        self.cycleSeen = true;
        self.nextCycleStart = cycleStart + frames;
        self.lastCallback = began;
        const auto sequence = self.stampSequence.load (std::memory_order_relaxed);
        self.stampSequence.store (sequence + 1, std::memory_order_relaxed);
        // Release stores: a reader that sees a new value also sees the odd sequence before it.
        self.stampFrame.store (cycleStart, std::memory_order_release);
        self.stampUsecs.store (began, std::memory_order_release);
        self.stampFrames.store (frames, std::memory_order_release);
        self.stampSequence.store (sequence + 2, std::memory_order_release);
        if (! self.recording.load (std::memory_order_acquire))
            return 0;
        if (! continuous)
            self.skippedCycles.fetch_add (1);
        if (late)
            self.lateCycleCount.fetch_add (1);
        auto index = self.written.load (std::memory_order_acquire);
        const auto count = std::min<std::size_t> (frames, self.capacity - std::min (index, self.capacity));
        if (count == 0)
            return 0;
        if (index == 0)
            self.firstCycleStart.store (cycleStart, std::memory_order_release);
        for (std::size_t c = 0; c < self.ports.size(); ++c)
            if (const auto* in = static_cast<const float*> (jack_port_get_buffer (self.ports[c], frames)))
                std::memcpy (self.storage[c].data() + index, in, count * sizeof (float));
        self.written.compare_exchange_strong (index, index + count, std::memory_order_acq_rel);
        return 0;
    }

    /** JACK's notification thread: some client did not finish its cycle in time. */
    static int xrun (void* argument) noexcept
    {
        static_cast<JackCaptureClient*> (argument)->xrunCount.fetch_add (1);
        return 0;
    }

    const std::size_t capacity;
    std::vector<std::vector<float>> storage;   // one buffer per channel, allocated once
    std::vector<jack_port_t*> ports;           // set before activation, read by the process callback
    jack_client_t* client = nullptr;
    std::atomic<std::size_t> written { 0 };
    std::atomic<bool> recording { false };
    std::atomic<int> xrunCount { 0 };
    std::atomic<int> xrunsAtStart { 0 };
    std::atomic<int> skippedCycles { 0 };
    std::atomic<jack_nframes_t> firstCycleStart { 0 };
    std::atomic<int> lateCycleCount { 0 };
    // The last cycle's start frame, length and callback time, written by the process callback
    // between two steps of the sequence (odd while writing).
    std::atomic<std::uint32_t> stampSequence { 0 };
    std::atomic<jack_nframes_t> stampFrame { 0 }, stampFrames { 0 };
    std::atomic<jack_time_t> stampUsecs { 0 };
    bool cycleSeen = false;                    // process callback only
    jack_nframes_t nextCycleStart = 0;         // process callback only
    jack_time_t lastCallback = 0;              // process callback only
    std::string error;
};
} // namespace vantrel::test
