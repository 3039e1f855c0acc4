#include "session/SplitFiles.h"

#include "session/AtomicFileWriter.h"
#include "session/CatalogValidation.h"
#include "session/SessionDocuments.h"
#include "session/SessionJsonText.h"

namespace vantrel
{
namespace
{
    const char* const catalogName = "catalog.json";
    const char* const padsPath = "pad/pads.json";
    const char* const appStateName = "app-state.json";

    StoreResult failure (const char* utf8Message)
    {
        return StoreResult::failure (juce::String::fromUTF8 (utf8Message));
    }

    juce::var object (std::initializer_list<std::pair<const char*, juce::var>> members)
    {
        auto* result = new juce::DynamicObject();
        for (const auto& [name, value] : members)
            result->setProperty (name, value);
        return juce::var (result);
    }
} // namespace

std::vector<juce::String> findSplitFileObstructions (const juce::File& root, const CatalogState& state)
{
    std::vector<juce::String> found;
    auto blockedFolder = [&root, &found] (const juce::String& relative)
    {
        const auto folder = root.getChildFile (relative);

        if ((folder.exists() || folder.isSymbolicLink()) && ! folder.isDirectory())
        {
            found.push_back (relative);
            return true;
        }

        return false;
    };
    auto blockedFiles = [&root, &found] (const juce::String& relative)
    {
        for (const auto& path : { relative, relative + ".bak" })
        {
            const auto file = root.getChildFile (path);

            if (file.isDirectory() && ! file.isSymbolicLink())
                found.push_back (path);
        }
    };

    if (! blockedFolder ("playlists"))
    {
        for (const auto& playlist : state.document.playlists)
        {
            const auto folder = "playlists/" + juce::String::fromUTF8 (playlist.id.c_str());

            if (isValidId (playlist.id) && ! blockedFolder (folder))
                blockedFiles (folder + "/playlist.json");
        }
    }

    blockedFiles (catalogName);

    if (! blockedFolder ("pad"))
        blockedFiles (padsPath);

    blockedFiles (appStateName);
    return found;
}

juce::File playlistFile (const juce::File& root, const juce::String& playlistId)
{
    return root.getChildFile ("playlists").getChildFile (playlistId).getChildFile ("playlist.json");
}

StoreResult writeSplitFiles (const juce::File& root, const CatalogState& state)
{
    return writeSplitFiles (root, state, {});
}

StoreResult writeSplitFiles (const juce::File& root, const CatalogState& state, const std::vector<std::string>& playlistTexts)
{
    // The ids become folder names: refuse any that could leave the root before writing anything.
    for (const auto& playlist : state.document.playlists)
        if (! isValidId (playlist.id))
            return failure ("catalogのplaylist IDが不正です");

    const auto& playlists = state.document.playlists;
    const bool textsGiven = playlistTexts.size() == playlists.size();

    for (size_t i = 0; i < playlists.size(); ++i)
    {
        const auto& playlist = playlists[i];
        const auto file = playlistFile (root, juce::String::fromUTF8 (playlist.id.c_str()));
        const auto result = writeBytesAtomically (file, textsGiven ? playlistTexts[i] : playlistJsonText (playlist), true);
        if (! result.ok)
            return result;
    }

    auto result = writeBytesAtomically (root.getChildFile (catalogName), catalogFileJsonText (state), true);
    if (! result.ok)
        return result;

    result = writeBytesAtomically (root.getChildFile (padsPath), padsJsonText (state.pads), true);
    if (! result.ok)
        return result;

    return writeBytesAtomically (root.getChildFile (appStateName), appStateJsonText (state), true);
}

StoreResult readSplitFiles (const juce::File& root, CatalogState& out)
{
    juce::var catalog;
    auto result = readJsonFile (root.getChildFile (catalogName), catalog);
    if (! result.ok)
        return result;

    const auto* entries = catalog["playlists"].getArray();
    if (! hasSupportedVersion (catalog) || entries == nullptr)
        return failure ("catalogの形式が不正です");

    auto playlists = juce::var (juce::Array<juce::var>());

    for (const auto& entry : *entries)
    {
        // The id names a folder: only a valid id may reach the file system.
        const auto id = entry["id"].toString();
        if (! isValidId (id.toStdString()))
            return failure ("catalogのplaylist IDが不正です");

        juce::var playlist;
        result = readJsonFile (playlistFile (root, id), playlist);
        if (! result.ok)
            return result;

        if (playlist["id"].toString() != id)
            return failure ("catalogとplaylist IDが一致しません");

        playlists.append (playlist);
    }

    juce::var pads;
    result = readJsonFile (root.getChildFile (padsPath), pads);
    if (! result.ok)
        return result;

    juce::var appState;
    result = readJsonFile (root.getChildFile (appStateName), appState);
    if (! result.ok)
        return result;

    if (! hasSupportedVersion (appState))
        return failure ("app-stateのバージョンが不正です");

    const auto document = object ({ { "version", catalog["version"] },
                                    { "folders", catalog["folders"] },
                                    { "current", catalog["current"] },
                                    { "playlists", playlists },
                                    { "pads", pads },
                                    { "ui", appState["ui"] },
                                    { "master", appState["master"] } });

    return readCatalogJson (document, out);
}
} // namespace vantrel
