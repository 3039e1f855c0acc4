#include "session/LibraryNames.h"

#include "session/AtomicFileWriter.h"

namespace vantrel
{
const char* const libraryNamesFileName = "library-names.json";

namespace
{
bool isJsonInteger (const juce::var& value)
{
    return value.isInt() || value.isInt64();
}

bool isSafeKey (const juce::String& key)
{
    return key.isNotEmpty() && ! key.startsWithChar ('/') && ! key.contains ("..") && ! key.containsChar (':');
}
} // namespace

bool readLibraryNames (const juce::File& file, LibraryNameMap& names, int64_t maxBytes)
{
    if (! file.exists())
        return true;

    juce::var json;

    if (! readJsonFile (file, json, maxBytes).ok)
        return false;

    // The schema must be the integer 1: 1.0, true or "1" are not what the writer writes.
    const auto schema = json.getProperty ("schema", {});

    if (! json.isObject() || ! isJsonInteger (schema) || static_cast<juce::int64> (schema) != 1)
        return false;

    const auto namesValue = json.getProperty ("names", {});
    auto* object = namesValue.getDynamicObject();

    if (object == nullptr || namesValue.isArray())
        return false;

    LibraryNameMap read;

    for (const auto& member : object->getProperties())
    {
        const auto key = member.name.toString();

        if (isSafeKey (key))
            read[key] = member.value.toString();
    }

    names = std::move (read);
    return true;
}

juce::String libraryNamesText (const LibraryNameMap& names)
{
    auto* namesObject = new juce::DynamicObject();
    juce::var namesValue (namesObject);

    for (const auto& [key, name] : names)
        namesObject->setProperty (juce::Identifier (key), name);

    auto* document = new juce::DynamicObject();
    juce::var documentValue (document);
    document->setProperty ("schema", 1);
    document->setProperty ("names", namesValue);
    return juce::JSON::toString (documentValue, false, 15);
}

StoreResult writeLibraryNames (const juce::File& file, const LibraryNameMap& names, int64_t maxBytes)
{
    return writeFileAtomically (file, libraryNamesText (names), true, maxBytes);
}
} // namespace vantrel
