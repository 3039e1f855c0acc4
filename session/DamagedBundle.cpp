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

/** The earlier bundle's members, or none when there is no earlier bundle or it cannot be read
    (a new bundle is written then). */
juce::DynamicObject* earlierBundle (const juce::File& bundle, juce::var& document)
{
    if (bundle == juce::File() || ! bundle.existsAsFile() || ! readJsonFile (bundle, document, noFileSizeLimit).ok)
        return nullptr;

    return document.isArray() ? nullptr : document.getDynamicObject();
}

juce::File freshBundleFile (const juce::File& root)
{
    const auto recovery = root.getChildFile ("recovery");
    juce::File target;

    do   // an earlier bundle is never replaced
        target = recovery.getChildFile ("damaged-" + juce::String (platform::randomHex32()) + ".json");
    while (target.exists() || target.getSiblingFile (target.getFileNameWithoutExtension()).exists());

    return target;
}

/** Anything at the path, a dangling link included. */
bool somethingAt (const juce::File& file)
{
    return file.exists() || file.isSymbolicLink();
}

/** Where an obstruction goes: its relative path inside the bundle's folder, made unique. */
juce::File movedPlace (const juce::File& bundle, const juce::String& relative)
{
    auto place = bundle.getSiblingFile (bundle.getFileNameWithoutExtension()).getChildFile (relative);

    while (somethingAt (place))
        place = place.getSiblingFile (place.getFileName() + "." + juce::String (platform::randomHex32()));

    return place;
}
} // namespace

StoreResult keepDamagedFiles (const juce::File& root, const std::vector<juce::String>& obstructions, juce::File& bundle)
{
    std::map<juce::String, juce::File> files;

    for (const auto& entry : juce::RangedDirectoryIterator (root, true, "*.json", juce::File::findFiles,
                                                            juce::File::FollowSymlinks::no))
    {
        const auto relative = entry.getFile().getRelativePathFrom (root);

        if (relative.upToFirstOccurrenceOf ("/", false, false) != "recovery")
            files.emplace (relative, entry.getFile());
    }

    juce::var document;
    auto* members = earlierBundle (bundle, document);
    const auto target = members != nullptr ? bundle : freshBundleFile (root);

    if (members == nullptr)
    {
        members = new juce::DynamicObject();
        document = juce::var (members);
    }

    // An earlier try's member keeps the text it kept: the recovery may have rewritten that file since.
    for (const auto& [relative, file] : files)
        if (! members->hasProperty (juce::Identifier (relative)))
            members->setProperty (juce::Identifier (relative), keptText (file));

    std::vector<std::pair<juce::File, juce::File>> moves;

    for (const auto& relative : obstructions)
    {
        const auto from = root.getChildFile (relative);

        if (! somethingAt (from))
            continue;

        const auto to = movedPlace (target, relative);
        auto* moved = new juce::DynamicObject();
        const juce::var entry (moved);
        moved->setProperty ("movedTo", to.getRelativePathFrom (root));

        if (members->hasProperty (juce::Identifier (relative)))
            moved->setProperty ("kept", members->getProperty (juce::Identifier (relative)));

        members->setProperty (juce::Identifier (relative), entry);
        moves.emplace_back (from, to);
    }

    if (const auto result = writeFileAtomically (target, sessionJsonText (document), false, noFileSizeLimit); ! result.ok)
        return result;

    bundle = target;

    for (const auto& [from, to] : moves)
    {
        const auto relative = from.getRelativePathFrom (root);

        if (platform::createFolderChain (to.getParentDirectory().getFullPathName().toStdString()).failed()
            || platform::renameDurably (from.getFullPathName().toStdString(), to.getFullPathName().toStdString()).failed())
            return StoreResult::failure (juce::String::fromUTF8 ("復旧の妨げになっている項目を移動できません: ") + relative);
    }

    return StoreResult::success();
}
} // namespace vantrel
