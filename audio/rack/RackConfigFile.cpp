#include "audio/rack/RackConfigFile.h"

#include "audio/rack/VstPaths.h"
#include "audio/rack/VstWorkerClient.h"
#include "session/AtomicFileWriter.h"

namespace vantrel
{
namespace
{
bool isText (const juce::var& value)
{
    return value.isString() || value.isVoid();
}

bool readSlot (const juce::var& value, VstRackSlot& slot)
{
    if (! value.isObject())
        return false;

    const auto& enabled = value["enabled"];
    const auto& uid = value["uid"];
    const auto& stateHex = value["stateHex"];

    // The identifying texts must be texts: a number or an object would otherwise turn into an
    // empty (and so "valid") id or state.
    if (! enabled.isBool() || ! isText (uid) || ! isText (stateHex))
        return false;

    slot.uid = uid.toString();
    slot.name = value["name"].toString();
    slot.vendor = value["vendor"].toString();
    slot.version = value["version"].toString();
    slot.stateHex = stateHex.toString();
    slot.enabled = static_cast<bool> (enabled);

    if (slot.uid.isNotEmpty() && ! isVstUid (slot.uid))
        return false;

    if (! isVstStateHex (slot.stateHex))
        return false;

    return slot.uid.isNotEmpty() || (! slot.enabled && slot.stateHex.isEmpty());
}

bool isSchemaOne (const juce::var& value)
{
    return (value.isInt() || value.isInt64() || value.isDouble()) && static_cast<double> (value) == 1.0;
}
} // namespace

void removeStaleRackConfigTemporaries (const juce::File& file)
{
    removeStaleTemporaryFiles (file.getParentDirectory(),
                               [name = file.getFileName()] (const juce::String& target) { return target == name; });
}

RackConfigRead readRackConfig (const juce::File& file, RackConfigContents& out)
{
    if (! file.exists())
        return RackConfigRead::missing;

    if (file.getSize() > maxRackConfigBytes)
        return RackConfigRead::damaged;

    juce::var root;

    if (! readJsonFile (file, root, maxRackConfigBytes).ok || ! root.isObject())
        return RackConfigRead::damaged;

    const auto& slots = root["slots"];
    const auto& folders = root["searchFolders"];

    if (! isSchemaOne (root["schema"]) || ! slots.isArray() || slots.size() != 2 || ! folders.isArray()
        || folders.size() > maxRackSearchFolders)
        return RackConfigRead::damaged;

    RackConfigContents read;

    for (int i = 0; i < 2; ++i)
        if (! readSlot (slots[i], read.slots[(size_t) i]))
            return RackConfigRead::damaged;

    for (const auto& folder : *folders.getArray())
    {
        const auto text = folder.toString();

        if (! folder.isString() || ! isAbsoluteVstPath (text) || ! isValidWorkerField (text))
            return RackConfigRead::damaged;

        // Paths are case-sensitive here: only exact duplicates are the same folder.
        read.searchFolders.addIfNotAlreadyThere (text);
    }

    out = read;
    return RackConfigRead::loaded;
}

juce::String rackConfigText (const RackConfigContents& contents)
{
    auto* root = new juce::DynamicObject();
    juce::var rootVar (root);
    root->setProperty ("schema", 1);

    juce::Array<juce::var> folders;

    for (const auto& folder : contents.searchFolders)
        folders.add (folder);

    root->setProperty ("searchFolders", folders);

    juce::Array<juce::var> slots;

    for (const auto& slot : contents.slots)
    {
        auto* object = new juce::DynamicObject();
        juce::var slotVar (object);
        object->setProperty ("uid", slot.uid);
        object->setProperty ("name", slot.name);
        object->setProperty ("vendor", slot.vendor);
        object->setProperty ("version", slot.version);
        object->setProperty ("enabled", slot.enabled);
        object->setProperty ("stateHex", slot.stateHex);
        slots.add (slotVar);
    }

    root->setProperty ("slots", slots);
    return juce::JSON::toString (rootVar, false);
}

StoreResult writeRackConfig (const juce::File& file, const RackConfigContents& contents)
{
    return writeFileAtomically (file, rackConfigText (contents), true, maxRackConfigBytes);
}
} // namespace vantrel
