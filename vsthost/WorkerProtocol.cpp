#include "vsthost/WorkerProtocol.h"

#include "vsthost/AsyncEditorRequest.h"
#include "vsthost/CommandLineReader.h"
#include "vsthost/ProcessInterleaved.h"
#include "vsthost/ProtocolNumbers.h"
#include "vsthost/ProtocolText.h"
#include "vsthost/ProtocolWords.h"
#include "vsthost/UiCommands.h"

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
                   + sanitizeField (liveStatus.lastEditorError);
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

    void processBuffer (const std::vector<std::string>& fields)
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

        const auto& tag = fields[1];
        const auto frames = parseUint32Field (fields[2]);
        const auto channels = parseUint32Field (fields[3]);
        const auto byteLength = parseUint64Field (fields[4]);

        if (byteLength > protocol::maxPayloadBytes)
        {
            writeErr (out, "process buffer too large");
            return;
        }

        payload.resize (static_cast<std::size_t> ((byteLength + 3) / 4));
        in.read (reinterpret_cast<char*> (payload.data()), static_cast<std::streamsize> (byteLength));

        if (static_cast<std::uint64_t> (in.gcount()) != byteLength)
        {
            writeErr (out, "process buffer truncated");
            return;
        }

        const auto samples = static_cast<std::uint64_t> (frames) * channels;

        if (byteLength != samples * 4)
        {
            writeErr (out, "invalid process buffer size");
            return;
        }

        payload.resize (static_cast<std::size_t> (samples));
        const auto result = processInterleaved (*slot, config, payload, frames, channels);

        if (! result.ok)
        {
            writeErr (out, result.message);
            return;
        }

        out << protocol::binaryLine << '\t' << tag << '\t' << byteLength << '\n';
        out.write (reinterpret_cast<const char*> (payload.data()), static_cast<std::streamsize> (byteLength));
        writeOk (out, tag + "\t" + std::to_string (samples));
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

    /** False when the loop ends after this line. */
    bool handle (const std::vector<std::string>& fields)
    {
        const auto& word = fields[0];

        if (word == protocol::ping)
            writeOk (out, std::string (protocol::identity) + "\t" + protocol::identityVersion);
        else if (word == protocol::quit)
        {
            writeOk (out);
            return false;
        }
        else if (word == protocol::liveStatus)
            answerLiveStatus();
        else if (word == protocol::openEditorAsync && fields.size() == 2)
            postEditorRequest (true, fields);
        else if (word == protocol::closeEditorAsync)
            postEditorRequest (false, fields);
        else if (word == protocol::processBuffer)
            processBuffer (fields);
        else if (word == protocol::processFile)
            processFile (fields);
        else
            runOnUiThread (fields);

        return true;
    }
};
} // namespace

int runProtocol (std::istream& in, std::ostream& out, BackendSlot& slot, const UiInvoker& invokeSync,
                 const UiInvoker& postAsync, LiveStatus& liveStatus, const ProtocolServices& services)
{
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
            if (! loop.handle (splitFields (line)))
                return 0;
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
