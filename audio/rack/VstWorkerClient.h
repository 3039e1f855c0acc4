#pragma once

// Threads: one thread at a time per client (the rack's control thread for a slot's worker, the
// scan thread for a scan worker): the thread that started the worker talks to it, which checked
// builds check. The client takes no lock. Every wait ends at the exchange's
// deadline or when the worker process ends.

#include <juce_core/juce_core.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel
{
/** The client's failure texts (shown as they stand; the rack adds the command word). */
namespace workerText
{
inline constexpr const char* executableMissing = "VSTホスト本体がありません";
inline constexpr const char* pipeCreationFailed = "VST pipe creation failed";
inline constexpr const char* couldNotStart = "VST worker could not start";
inline constexpr const char* unexpectedIdentity = "Unexpected VST worker identity";
inline constexpr const char* invalidCommand = "Invalid VST command or stopped worker";
inline constexpr const char* replyExceededBound = "VST reply exceeded bound";
inline constexpr const char* unexpectedResponse = "Unexpected VST response";
inline constexpr const char* timeout = "VST worker timeout";
inline constexpr const char* exited = "VST worker exited";
inline constexpr const char* exitedOrPipeFailed = "VST worker exited or pipe failed";
inline constexpr const char* invalidProcessRequest = "Invalid VST process request";
inline constexpr const char* processPrefix = "PROCESS_F32_BUFFER: ";
inline constexpr const char* headerMismatch = "VST PCM header/sequence mismatch";
inline constexpr const char* trailerMismatch = "VST PCM trailer mismatch";
inline constexpr const char* nonFinite = "VST returned non-finite audio";
} // namespace workerText

/** Bounds the client holds the worker to. */
namespace workerBounds
{
inline constexpr std::size_t maxCommandBytes = 0x2200000;     // UTF-8 bytes, without the LF
inline constexpr std::size_t maxReplyBytes = 0x2200000;       // one line, and all lines of a reply
inline constexpr std::size_t maxDataLines = 16384;            // lines before the final line
inline constexpr int maxBlockFrames = 4096;
inline constexpr int maxCommandTimeoutMs = 15000;
inline constexpr int maxBlockTimeoutMs = 1000;
inline constexpr int maxFieldLength = 32767;
} // namespace workerBounds

/** True when `text` can travel as one protocol field: 1 to 32,767 characters, no TAB, CR or LF. */
bool isValidWorkerField (const juce::String& text);

/** A caller's time-out clamped to what a command (1..15,000 ms) or an audio block (1..1,000 ms)
    may wait. */
int clampCommandTimeout (int timeoutMs);
int clampBlockTimeout (int timeoutMs);

/** The main program's end of one plug-in host worker process: the worker runs in a process group
    of its own with its standard input and output on two pipes, standard error on /dev/null and
    nothing else inherited. It answers text commands (reply lines up to one final "OK" or "ERR"
    line) and exchanges blocks of interleaved float32 stereo. Every exchange has one deadline.

    Any failure other than a refused command or an "ERR" reply ends the worker, so a client is
    either running and in step with its worker or stopped. The one exception keeps it in step too:
    a final "OK"/"ERR" line longer than the reply bound is read to its end and discarded, so the
    command fails with "VST reply exceeded bound" while the worker keeps running (a plug-in state
    larger than the program accepts must not cost the plug-in its worker).

    The worker ends with the thread that started it (it asks for SIGKILL when its parent thread
    goes), so long-lived workers must be started on a thread that outlives them. */
class VstWorkerClient
{
public:
    VstWorkerClient();
    ~VstWorkerClient();   // shuts the worker down

    VstWorkerClient (const VstWorkerClient&) = delete;
    VstWorkerClient& operator= (const VstWorkerClient&) = delete;

    /** Ends any worker this client runs, starts the program at workerPath with "--worker" in the
        program's folder and requires the answer "OK\tORVANE_VST_HOST\t1" to "PING" (3,000 ms). */
    bool start (const juce::File& workerPath, juce::String& error);

    /** Sends one command line (no CR or LF in it) and collects the reply: replyLines receives
        every line in order, the final "OK" line included. False with the worker's text for an
        "ERR" reply (the worker keeps running); false with the client's text otherwise. A worker
        that has ended since the last exchange gives "VST worker exited" (once; after that the
        client is stopped). */
    bool command (const juce::String& commandLine, std::vector<juce::String>& replyLines,
                  juce::String& error, int timeoutMs);

    /** Sends `frames` stereo frames of interleaved float32 and overwrites them with the
        processed frames; `sequence` tags the block. Frames must be 1..4,096. */
    bool processF32 (float* samples, int frames, std::uint64_t sequence, juce::String& error, int timeoutMs);

    /** True while the worker process runs. */
    bool isAlive() const;

    /** Kills the worker's process group, waits at most 1,000 ms for it to end, reaps it and
        forgets everything about it. Safe when nothing runs. Never sends "QUIT". */
    void shutdown();

    /** The worker's process id, 0 while none runs (diagnostics and tests). */
    int processId() const;

private:
    /** A worker that ended on its own since the last exchange is reaped, and the exchange fails
        with "VST worker exited" rather than as a request to a stopped worker. */
    bool reapEndedWorker();

    struct State;
    std::unique_ptr<State> state;
};
} // namespace vantrel
