#include "session/DamagedBundle.h"

#include "platform/DurableFile.h"
#include "platform/RandomName.h"
#include "session/AtomicFileWriter.h"
#include "session/SessionDocuments.h"
#include "session/StoredJson.h"

#include <map>

namespace vantrel
{
namespace
{
juce::var keptText (const juce::File& file)
{
    auto* kept = new juce::DynamicObject();
    const juce::var result (kept);
    const auto size = file.getSize();

    if (size > jsonFileSizeLimit())
    {
        kept->setProperty ("omitted", "too large");
        kept->setProperty ("bytes", size);
        return result;
    }

    std::string bytes;

    if (platform::readWholeFile (file.getFullPathName().toStdString(), bytes, jsonFileSizeLimit()).failed())
    {
        kept->setProperty ("omitted", "unreadable");
        return result;
    }

    if (findTextDamage (bytes).isEmpty())
        return juce::String::fromUTF8 (bytes.data(), static_cast<int> (bytes.size()));

    kept->setProperty ("encoding", "base64");
    kept->setProperty ("data", juce::Base64::toBase64 (bytes.data(), bytes.size()));
    return result;
}
} // namespace

StoreResult writeDamagedBundle (const juce::File& root, juce::File& written)
{
    std::map<juce::String, juce::File> files;

    for (const auto& entry : juce::RangedDirectoryIterator (root, true, "*.json", juce::File::findFiles,
                                                            juce::File::FollowSymlinks::no))
    {
        const auto relative = entry.getFile().getRelativePathFrom (root);

        if (relative.upToFirstOccurrenceOf ("/", false, false) != "recovery")
            files.emplace (relative, entry.getFile());
    }

    auto* bundle = new juce::DynamicObject();
    const juce::var document (bundle);

    for (const auto& [relative, file] : files)
        bundle->setProperty (juce::Identifier (relative), keptText (file));

    auto target = root.getChildFile ("recovery").getChildFile ("damaged-" + juce::String (platform::randomHex32()) + ".json");

    while (target.exists())   // an earlier bundle is never replaced
        target = target.getSiblingFile ("damaged-" + juce::String (platform::randomHex32()) + ".json");

    const auto result = writeFileAtomically (target, sessionJsonText (document), false, noFileSizeLimit);

    if (result.ok)
        written = target;

    return result;
}
} // namespace vantrel
