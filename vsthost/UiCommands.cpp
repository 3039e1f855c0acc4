#include "vsthost/UiCommands.h"

#include "vsthost/ProtocolNumbers.h"
#include "vsthost/ProtocolText.h"
#include "vsthost/ProtocolWords.h"

#include "platform/ThreadContract.h"

namespace orvane::vsthost
{
namespace
{
void answer (std::ostream& out, const ProcessResult& result)
{
    if (result.ok)
        writeOk (out);
    else
        writeErr (out, result.message);
}

void loadPlugin (const std::vector<std::string>& fields, UiCommandContext& context)
{
    std::string error;
    auto loaded = context.services.loadBackend (fields[1], fields[2], error);

    // The new plug-in replaces the old one in every case; a failed load leaves none.
    context.slot = std::move (loaded);

    if (context.slot == nullptr)
    {
        writeErr (context.out, error.empty() ? "VST3 load failed" : error);
        return;
    }

    writeOk (context.out, context.slot->info().classId);
}

void scanModule (const std::vector<std::string>& fields, UiCommandContext& context)
{
    std::string error;
    const auto classes = context.services.scanModule (fields[1], error);

    if (classes.empty())
    {
        writeErr (context.out, error.empty() ? "no VST3 audio effects" : error);
        return;
    }

    for (const auto& record : classes)
        writeDataLine (context.out, protocol::classLine,
                       joinFields ({ record.classId, sanitizeField (record.name), sanitizeField (record.vendor),
                                     sanitizeField (record.version), sanitizeField (record.subCategories) }));

    writeOk (context.out, std::to_string (classes.size()));
}

void configurePlugin (const std::vector<std::string>& fields, UiCommandContext& context, PluginBackend& backend)
{
    // Each value is stored as soon as it is read; a bad number leaves the earlier ones stored.
    auto& config = context.config;
    config.sampleRate = parseDoubleField (fields[1]);
    config.channels = parseUint32Field (fields[2]);
    config.maxBlockFrames = parseUint32Field (fields[3]);
    config.processMode = 1;

    if (fields.size() == 5)
    {
        if (fields[4] == "realtime")
            config.processMode = 0;
        else if (fields[4] == "offline")
            config.processMode = 2;
    }

    answer (context.out, backend.configure (config));
}

void writeInfo (std::ostream& out, PluginBackend& backend)
{
    const auto info = backend.info();
    writeOk (out, joinFields ({ info.classId, sanitizeField (info.name), sanitizeField (info.vendor),
                                sanitizeField (info.version), std::to_string (info.latencySamples),
                                std::to_string (info.tailSamples), info.editorVerified ? "1" : "0" }));
}

void writeParameters (std::ostream& out, PluginBackend& backend)
{
    const auto records = backend.parameters();

    for (const auto& record : records)
        writeDataLine (out, protocol::paramLine,
                       joinFields ({ std::to_string (record.id), sanitizeField (record.title),
                                     sanitizeField (record.shortTitle), std::to_string (record.stepCount),
                                     formatDefaultDouble (record.defaultNormalized),
                                     std::to_string (static_cast<std::uint32_t> (record.flags)) }));

    writeOk (out, std::to_string (records.size()));
}

void saveState (std::ostream& out, PluginBackend& backend)
{
    auto flushed = backend.flushParameters();

    // A reload request is no reason to lose the state: it is what the client loads the new
    // instance with. The flush that reported it is run again for the rest of its work.
    if (! flushed.ok && backend.reloadRequested())
        flushed = backend.flushParameters();

    if (! flushed.ok)
    {
        writeErr (out, flushed.message);
        return;
    }

    const auto text = backend.saveState();

    if (text.empty())
        writeErr (out, "state save failed");
    else if (text.size() > protocol::maxSavedStateTextLength)
        writeErr (out, "VST3 state exceeds the 16 MiB transfer bound");
    else
        writeOk (out, text);
}
} // namespace

bool executeUiCommand (const std::vector<std::string>& fields, UiCommandContext& context)
{
    VANTREL_ASSERT_UI_THREAD;
    const auto& word = fields[0];
    const auto count = fields.size();
    auto& out = context.out;

    if (word == protocol::loadVst3 && count == 3)
    {
        loadPlugin (fields, context);
        return true;
    }

    if (word == protocol::scanVst3 && count == 2)
    {
        scanModule (fields, context);
        return true;
    }

    if (context.slot == nullptr)
    {
        writeErr (out, "no plugin loaded");
        return true;
    }

    auto& backend = *context.slot;

    if (word == protocol::config && (count == 4 || count == 5))
        configurePlugin (fields, context, backend);
    else if (word == protocol::bypass && count == 2)
        answer (out, backend.setBypass (fields[1] == "1"));
    else if (word == protocol::resetSeek)
        answer (out, backend.resetSeek());
    else if (word == protocol::info)
        writeInfo (out, backend);
    else if (word == protocol::params)
        writeParameters (out, backend);
    else if (word == protocol::setParam && count == 3)
    {
        const auto value = parseDoubleField (fields[2]);
        const auto id = parseUint32Field (fields[1]);
        answer (out, backend.setParameter (id, value));
    }
    else if (word == protocol::flushParams)
        answer (out, backend.flushParameters());
    else if (word == protocol::serviceControl)
        answer (out, backend.serviceControl());
    else if (word == protocol::openEditor && count == 2)
        answer (out, backend.openNativeEditor (fields[1]));
    else if (word == protocol::closeEditor)
        answer (out, backend.closeNativeEditor());
    else if (word == protocol::editorStatus)
    {
        const auto serviced = backend.serviceEditor();

        if (serviced.ok)
            writeOk (out, std::string (backend.isEditorOpen() ? "1" : "0") + "\t" + std::to_string (backend.changeCount()));
        else
            writeErr (out, serviced.message);
    }
    else if (word == protocol::showEditor && count == 2)
        answer (out, backend.showNativeEditor (fields[1]));
    else if (word == protocol::saveState)
        saveState (out, backend);
    else if (word == protocol::loadState && count == 2)
        answer (out, backend.loadState (fields[1]));
    else
        return false;

    return true;
}
} // namespace orvane::vsthost
