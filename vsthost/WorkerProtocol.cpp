#include "vsthost/WorkerProtocol.h"

#include "vsthost/AsyncEditorRequest.h"
#include "vsthost/CommandLineReader.h"
#include "vsthost/ProcessInterleaved.h"
#include "vsthost/ProtocolNumbers.h"
#include "vsthost/ProtocolText.h"
#include "vsthost/ProtocolWords.h"
#include "vsthost/UiCommands.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <exception>

namespace orvane::vsthost
{
namespace
{
struct ProtocolLoop
{
    std::istream& in;
    std::ostream& out;
    BackendSlot& slot;
    const UiInvoker& invokeSync;
    const UiInvoker& postAsync;
    LiveStatus& liveStatus;
    const ProtocolServices& services;
    ProcessConfig config;
    std::vector<float> payload;

    void answerLiveStatus()
    {
        std::string fields;

        {
            const std::lock_guard<std::mutex> lock (liveStatus.mutex);
            fields = std::string (liveStatus.editorOpen ? "1" : "0") + "\t" + std::to_string (liveStatus.changeCount) + "\t"
                   + std::to_string (liveStatus.latencySamples) + "\t"
                   + std::to_string (liveStatus.pendingEditorRequests.load()) + "\t"
                   + sanitizeField (liveStatus.lastEditorError) + "\t"
                   + (liveStatus.reloadRequested ? protocol::liveReloadRequested : "0");
        }

        writeOk (out, fields);
    }

    void postEditorRequest (bool open, const std::vector<std::string>& fields)
    {
        if (liveStatus.pendingEditorRequests.load() >= protocol::maxPendingEditorRequests)
        {
            writeErr (out, "editor requests busy");
            return;
        }

        liveStatus.pendingEditorRequests.fetch_add (1);
        AsyncEditorRequest request { open, fields.size() >= 2 ? fields[1] : std::string() };
        auto* slotPointer = &slot;
        auto* statusPointer = &liveStatus;

        try
        {
            postAsync ([request, slotPointer, statusPointer] { runAsyncEditorRequest (request, *slotPointer, *statusPointer); });
        }
        catch (...)
        {
            liveStatus.pendingEditorRequests.fetch_sub (1);
            throw;
        }

        writeOk (out);
    }

    /** Reads and drops `count` bytes, or up to the end of input. (istream::ignore would wait
        for one byte more than it drops.) */
    void discard (std::uint64_t count)
    {
        char chunk[16384];

        while (count > 0 && in.good())
        {
            in.read (chunk, static_cast<std::streamsize> (std::min<std::uint64_t> (count, sizeof (chunk))));
            count -= static_cast<std::uint64_t> (in.gcount());
        }
    }

    /** The reply to a PROCESS_F32_BUFFER line whose payload cannot be skipped: the first field
        that fails, in field order, else the size refusal. */
    std::string unreadablePayloadText (const std::vector<std::string>& fields, const std::string& lengthFailure) const
    {
        if (slot == nullptr)
            return "no plugin loaded";

        try
        {
            parseUint32Field (fields[2]);
            parseUint32Field (fields[3]);
        }
        catch (const std::exception& failure)
        {
            return failure.what();
        }

        return lengthFailure.empty() ? "process buffer too large" : lengthFailure;
    }

    /** False when the payload's length is unknown or above the bound: its bytes cannot be told
        apart from the command lines after it, so the conversation has to end. Every refusal
        that knows the length reads and drops the payload first. */
    bool processBuffer (const std::vector<std::string>& fields)
    {
        if (fields.size() != 5)
        {
            writeErr (out, slot == nullptr ? "no plugin loaded" : "unknown command");
            return true;
        }

        std::uint64_t byteLength = 0;
        std::string lengthFailure;

        try
        {
            byteLength = parseUint64Field (fields[4]);
        }
        catch (const std::exception& failure)
        {
            lengthFailure = failure.what();
        }

        if (! lengthFailure.empty() || byteLength > protocol::maxPayloadBytes)
        {
            writeErr (out, unreadablePayloadText (fields, lengthFailure));
            return false;
        }

        if (slot == nullptr)
        {
            discard (byteLength);
            writeErr (out, "no plugin loaded");
            return true;
        }

        payload.resize (static_cast<std::size_t> ((byteLength + 3) / 4));
        in.read (reinterpret_cast<char*> (payload.data()), static_cast<std::streamsize> (byteLength));
        const auto received = static_cast<std::uint64_t> (in.gcount());

        const auto& tag = fields[1];
        const auto frames = parseUint32Field (fields[2]);
        const auto channels = parseUint32Field (fields[3]);

        if (received != byteLength)
        {
            writeErr (out, "process buffer truncated");
            return true;
        }

        const auto samples = static_cast<std::uint64_t> (frames) * channels;

        if (byteLength != samples * 4)
        {
            writeErr (out, "invalid process buffer size");
            return true;
        }

        payload.resize (static_cast<std::size_t> (samples));
        const auto result = processInterleaved (*slot, config, payload, frames, channels);

        if (! result.ok)
        {
            writeErr (out, result.message);
            return true;
        }

        out << protocol::binaryLine << '\t' << tag << '\t' << byteLength << '\n';
        out.write (reinterpret_cast<const char*> (payload.data()), static_cast<std::streamsize> (byteLength));
        writeOk (out, tag + "\t" + std::to_string (samples));
        return true;
    }

    void processFile (const std::vector<std::string>& fields)
    {
        if (slot == nullptr)
        {
            writeErr (out, "no plugin loaded");
            return;
        }

        if (fields.size() != 5)
        {
            writeErr (out, "unknown command");
            return;
        }

        const auto frames = parseUint32Field (fields[3]);
        const auto channels = parseUint32Field (fields[4]);
        std::vector<float> samples;

        if (! readFloatFile (fields[1], samples))
        {
            writeErr (out, "input read failed");
            return;
        }

        const auto result = processInterleaved (*slot, config, samples, frames, channels);

        if (! result.ok)
        {
            writeErr (out, result.message);
            return;
        }

        if (! writeFloatFile (fields[2], samples))
        {
            writeErr (out, "output write failed");
            return;
        }

        writeOk (out, std::to_string (samples.size()));
    }

    void runOnUiThread (const std::vector<std::string>& fields)
    {
        bool handled = false;
        UiCommandContext context { slot, out, config, services };

        invokeSync ([&]
        {
            handled = executeUiCommand (fields, context);
            updateLiveStatus (liveStatus, slot.get());
        });

        if (! handled)
            writeErr (out, "unknown command");
    }

    /** Whether the loop goes on after this line, and how it ends otherwise. */
    enum class Next
    {
        goOn,
        quit,
        outOfStep
    };

    Next handle (const std::vector<std::string>& fields)
    {
        const auto& word = fields[0];

        if (word == protocol::ping)
            writeOk (out, std::string (protocol::identity) + "\t" + protocol::identityVersion);
        else if (word == protocol::quit)
        {
            writeOk (out);
            return Next::quit;
        }
        else if (word == protocol::liveStatus)
            answerLiveStatus();
        else if (word == protocol::openEditorAsync && fields.size() == 2)
            postEditorRequest (true, fields);
        else if (word == protocol::closeEditorAsync)
            postEditorRequest (false, fields);
        else if (word == protocol::processBuffer)
        {
            if (! processBuffer (fields))
                return Next::outOfStep;
        }
        else if (word == protocol::processFile)
            processFile (fields);
        else
            runOnUiThread (fields);

        return Next::goOn;
    }
};
} // namespace

int runProtocol (std::istream& in, std::ostream& out, BackendSlot& slot, const UiInvoker& invokeSync,
                 const UiInvoker& postAsync, LiveStatus& liveStatus, const ProtocolServices& services)
{
    VANTREL_ASSERT_PROTOCOL_THREAD;
    ProtocolLoop loop { in, out, slot, invokeSync, postAsync, liveStatus, services, {}, {} };
    std::string line;

    for (;;)
    {
        const auto status = readCommandLine (in, line, protocol::maxCommandLineLength);

        if (status == LineStatus::end)
            return 0;

        if (status == LineStatus::tooLong)
        {
            writeErr (out, "command line too long");
            continue;
        }

        try
        {
            const auto next = loop.handle (splitFields (line));

            if (next == ProtocolLoop::Next::quit)
                return 0;

            if (next == ProtocolLoop::Next::outOfStep)
                return exitOutOfStep;
        }
        catch (const std::exception& failure)
        {
            writeErr (out, failure.what());
        }
        catch (...)
        {
            writeErr (out, "VST worker command failed");
        }
    }
}
} // namespace orvane::vsthost
