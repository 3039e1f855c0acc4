#include "audio/rack/VstWorkerClient.h"

#include "vsthost/ProtocolWords.h"

#include "platform/PipedProcess.h"
#include "platform/ThreadContract.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

namespace vantrel
{
namespace
{
using Clock = std::chrono::steady_clock;
using platform::PipedProcess;
using IoOutcome = PipedProcess::IoOutcome;

namespace protocol = orvane::vsthost::protocol;
const std::string identityLine = std::string (protocol::ok) + protocol::fieldSeparator + protocol::identity
                                 + protocol::fieldSeparator + protocol::identityVersion;
constexpr std::size_t lineReadBytes = 8192;
constexpr std::size_t transferBytes = 65536;
constexpr int pingTimeoutMs = 3000;
constexpr int shutdownWaitMs = 1000;
constexpr int endCheckMs = 50;

// An oversized final line is read to its end only up to this many bytes; the worker never
// writes a line this long (its own state limit is 64 MiB, 128 MiB as hex).
constexpr std::size_t maxDrainedBytes = std::size_t { 1 } << 28;

static_assert (sizeof (float) == 4, "the protocol carries IEEE float32");

bool startsWith (const std::string& text, const std::string& prefix)
{
    return text.compare (0, prefix.size(), prefix) == 0;
}

/** The start of a reply line of the given word: the word and the field separator. */
std::string wordPrefix (const char* word)
{
    return std::string (word) + protocol::fieldSeparator;
}

bool isOkLine (const std::string& line)
{
    return line == protocol::ok || startsWith (line, wordPrefix (protocol::ok));
}

bool isFinalLine (const std::string& line)
{
    return isOkLine (line) || startsWith (line, wordPrefix (protocol::err));
}

int millisecondsLeft (Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return static_cast<int> (std::max<long long> (0, left));
}

juce::String fromUtf8 (const char* data, std::size_t size)
{
    return juce::String::fromUTF8 (data, static_cast<int> (size));
}

bool allFinite (const float* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
    {
        std::uint32_t bits;
        std::memcpy (&bits, samples + i, sizeof (bits));

        if ((bits & 0x7f800000u) == 0x7f800000u)
            return false;
    }

    return true;
}

enum class LineResult
{
    line,
    bound,    // the buffer outgrew the bound without an end of line
    failed
};
} // namespace

bool isValidWorkerField (const juce::String& text)
{
    return text.isNotEmpty() && text.length() <= workerBounds::maxFieldLength && ! text.containsAnyOf ("\t\r\n");
}

int clampCommandTimeout (int timeoutMs)
{
    return std::clamp (timeoutMs, 1, workerBounds::maxCommandTimeoutMs);
}

int clampBlockTimeout (int timeoutMs)
{
    return std::clamp (timeoutMs, 1, workerBounds::maxBlockTimeoutMs);
}

struct VstWorkerClient::State
{
    std::unique_ptr<PipedProcess> process;
    std::string buffer;             // received and not yet consumed; always starts at a line start
    std::size_t searchedUpTo = 0;   // the buffer holds no LF before this offset
    ThreadOwnerCheck owner;         // the thread that started the worker talks to it

    /** The text for a pipe that failed or reached its end: the worker's end when it has ended
        (or ends at once), else a plain pipe failure. */
    juce::String endText (Clock::time_point deadline) const
    {
        if (process != nullptr && process->waitForEnd (std::min (endCheckMs, millisecondsLeft (deadline))))
            return workerText::exited;

        return workerText::exitedOrPipeFailed;
    }

    juce::String textFor (IoOutcome outcome, Clock::time_point deadline) const
    {
        switch (outcome)
        {
            case IoOutcome::timedOut: return workerText::timeout;
            case IoOutcome::ended:    return workerText::exited;
            case IoOutcome::done:
            case IoOutcome::failed:   break;
        }

        return endText (deadline);
    }

    /** Moves bytes one way: a write of `size` bytes, or a read of exactly `size` bytes. */
    bool transfer (char* data, std::size_t size, bool write, Clock::time_point deadline, juce::String& error)
    {
        while (size > 0)
        {
            if (Clock::now() >= deadline)
            {
                error = workerText::timeout;
                return false;
            }

            const auto request = std::min (size, transferBytes);
            const auto result = write ? process->writeUntil (data, request, deadline)
                                      : process->readUntil (data, request, deadline);

            if (result.outcome != IoOutcome::done || result.bytes == 0)
            {
                error = textFor (result.outcome, deadline);
                return false;
            }

            data += result.bytes;
            size -= result.bytes;
        }

        return true;
    }

    /** Reads more bytes into the buffer; false with the error text when nothing came. */
    bool receive (Clock::time_point deadline, juce::String& error)
    {
        const auto old = buffer.size();
        buffer.resize (old + lineReadBytes);
        const auto result = process->readUntil (buffer.data() + old, lineReadBytes, deadline);
        buffer.resize (old + result.bytes);

        if (result.outcome != IoOutcome::done || result.bytes == 0)
        {
            error = textFor (result.outcome, deadline);
            return false;
        }

        return true;
    }

    LineResult readLine (std::string& line, Clock::time_point deadline, juce::String& error)
    {
        for (;;)
        {
            const auto lf = buffer.find ('\n', searchedUpTo);

            if (lf != std::string::npos)
            {
                const auto length = lf > 0 && buffer[lf - 1] == '\r' ? lf - 1 : lf;
                line.assign (buffer, 0, length);
                buffer.erase (0, lf + 1);
                searchedUpTo = 0;
                return LineResult::line;
            }

            searchedUpTo = buffer.size();

            if (buffer.size() > workerBounds::maxReplyBytes)
            {
                error = workerText::replyExceededBound;
                return LineResult::bound;
            }

            if (Clock::now() >= deadline)
            {
                error = workerText::timeout;
                return LineResult::failed;
            }

            if (! receive (deadline, error))
                return LineResult::failed;
        }
    }

    /** Discards the rest of the line the buffer starts with; false when it does not end in time
        or within maxDrainedBytes. */
    bool drainLine (Clock::time_point deadline)
    {
        std::size_t drained = 0;
        juce::String ignored;

        for (;;)
        {
            const auto lf = buffer.find ('\n');

            if (lf != std::string::npos)
            {
                buffer.erase (0, lf + 1);
                searchedUpTo = 0;
                return true;
            }

            drained += buffer.size();
            buffer.clear();
            searchedUpTo = 0;

            if (drained > maxDrainedBytes || Clock::now() >= deadline || ! receive (deadline, ignored))
                return false;
        }
    }
};

VstWorkerClient::VstWorkerClient()
    : state (std::make_unique<State>())
{
}

VstWorkerClient::~VstWorkerClient()
{
    shutdown();
}

bool VstWorkerClient::start (const juce::File& workerPath, juce::String& error)
{
    state->owner.release();
    VANTREL_ASSERT_OWNER_THREAD (state->owner, "thread that started the worker");
    shutdown();
    error.clear();

    if (! workerPath.existsAsFile())
    {
        error = juce::String::fromUTF8 (workerText::executableMissing);
        return false;
    }

    PipedProcess::Options options;
    options.program = workerPath.getFullPathName().toStdString();
    options.arguments = { "--worker" };
    options.workingDirectory = workerPath.getParentDirectory().getFullPathName().toStdString();
    options.ownProcessGroup = true;
    options.inheritNothingElse = true;

    state->process = std::make_unique<PipedProcess>();
    std::string startError;
    auto failure = PipedProcess::StartFailure::none;

    if (! state->process->start (options, startError, failure))
    {
        shutdown();
        error = failure == PipedProcess::StartFailure::pipes ? workerText::pipeCreationFailed : workerText::couldNotStart;
        return false;
    }

    std::vector<juce::String> reply;

    if (! command (protocol::ping, reply, error, pingTimeoutMs))
    {
        shutdown();
        return false;
    }

    if (reply.size() != 1 || reply.front() != juce::String (identityLine))
    {
        shutdown();
        error = workerText::unexpectedIdentity;
        return false;
    }

    return true;
}

bool VstWorkerClient::command (const juce::String& commandLine, std::vector<juce::String>& replyLines,
                               juce::String& error, int timeoutMs)
{
    VANTREL_ASSERT_OWNER_THREAD (state->owner, "thread that started the worker");
    replyLines.clear();
    error.clear();

    if (reapEndedWorker())
    {
        error = workerText::exited;
        return false;
    }

    auto text = commandLine.toStdString();

    if (! isAlive() || text.find_first_of ("\r\n") != std::string::npos || text.size() > workerBounds::maxCommandBytes)
    {
        error = workerText::invalidCommand;
        return false;
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds (clampCommandTimeout (timeoutMs));
    text += '\n';

    if (! state->transfer (text.data(), text.size(), true, deadline, error))
    {
        shutdown();
        return false;
    }

    std::size_t replyBytes = 0;
    std::string line;

    for (;;)
    {
        const auto result = state->readLine (line, deadline, error);

        if (result == LineResult::bound)
        {
            // A final line too long to hold: read it to its end, and the worker stays in step.
            if (! (isFinalLine (state->buffer) && state->drainLine (deadline)))
                shutdown();

            error = workerText::replyExceededBound;
            return false;
        }

        if (result == LineResult::failed)
        {
            shutdown();
            return false;
        }

        replyBytes += line.size();

        if (replyLines.size() > workerBounds::maxDataLines || replyBytes > workerBounds::maxReplyBytes)
        {
            // Only a final line that took the reply over its size leaves the worker in step.
            if (replyLines.size() > workerBounds::maxDataLines || ! isFinalLine (line))
                shutdown();

            error = workerText::replyExceededBound;
            return false;
        }

        if (startsWith (line, wordPrefix (protocol::err)))
        {
            error = fromUtf8 (line.data() + 4, line.size() - 4);
            return false;
        }

        replyLines.push_back (fromUtf8 (line.data(), line.size()));

        if (isOkLine (line))
            return true;

        if (startsWith (line, wordPrefix (protocol::classLine))
            || startsWith (line, wordPrefix (protocol::paramLine)))
            continue;

        shutdown();
        error = workerText::unexpectedResponse;
        return false;
    }
}

bool VstWorkerClient::processF32 (float* samples, int frames, std::uint64_t sequence, juce::String& error, int timeoutMs)
{
    VANTREL_ASSERT_OWNER_THREAD (state->owner, "thread that started the worker");
    error.clear();

    if (reapEndedWorker())
    {
        error = juce::String (workerText::processPrefix) + workerText::exited;
        return false;
    }

    if (samples == nullptr || ! isAlive() || frames < 1 || frames > workerBounds::maxBlockFrames)
    {
        error = workerText::invalidProcessRequest;
        return false;
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds (clampBlockTimeout (timeoutMs));
    const auto byteCount = static_cast<std::size_t> (frames) * 8;
    const auto tag = std::to_string (sequence);
    auto* bytes = reinterpret_cast<char*> (samples);

    const auto fail = [&] (const juce::String& text)
    {
        shutdown();
        error = workerText::processPrefix + text;
        return false;
    };

    auto header = std::string (protocol::processBuffer) + "\t" + tag + "\t" + std::to_string (frames) + "\t2\t" + std::to_string (byteCount) + "\n";
    juce::String text;

    if (! state->transfer (header.data(), header.size(), true, deadline, text)
        || ! state->transfer (bytes, byteCount, true, deadline, text))
        return fail (text);

    std::string line;

    if (state->readLine (line, deadline, text) != LineResult::line)
        return fail (text);

    if (line != std::string (protocol::binaryLine) + "\t" + tag + "\t" + std::to_string (byteCount))
        return fail (workerText::headerMismatch);

    // Payload bytes that came with the header line are used first, the rest is read in place.
    auto& buffer = state->buffer;
    const auto buffered = std::min (byteCount, buffer.size());
    std::memcpy (bytes, buffer.data(), buffered);
    buffer.erase (0, buffered);
    state->searchedUpTo = 0;

    if (! state->transfer (bytes + buffered, byteCount - buffered, false, deadline, text))
        return fail (text);

    if (state->readLine (line, deadline, text) != LineResult::line)
        return fail (text);

    if (line != std::string (protocol::ok) + "\t" + tag + "\t" + std::to_string (frames * 2))
        return fail (workerText::trailerMismatch);

    if (! allFinite (samples, static_cast<std::size_t> (frames) * 2))
        return fail (workerText::nonFinite);

    return true;
}

bool VstWorkerClient::reapEndedWorker()
{
    if (state->process == nullptr || ! state->process->isRunning() || ! state->process->hasEnded())
        return false;

    shutdown();
    return true;
}

bool VstWorkerClient::isAlive() const
{
    return state->process != nullptr && state->process->isRunning() && ! state->process->hasEnded();
}

void VstWorkerClient::shutdown()
{
    if (state->process != nullptr)
    {
        state->process->killGroup();
        state->process->wait (shutdownWaitMs);
        state->process.reset();   // closes our pipe ends
    }

    state->buffer.clear();
    state->searchedUpTo = 0;
}

int VstWorkerClient::processId() const
{
    return state->process != nullptr && state->process->isRunning() ? state->process->processId() : 0;
}
} // namespace vantrel
