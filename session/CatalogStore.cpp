#include "session/CatalogStore.h"

#include "platform/DurableFile.h"
#include "platform/RandomName.h"
#include "session/AtomicFileWriter.h"
#include "session/CatalogValidation.h"
#include "session/DamagedBundle.h"
#include "session/SessionDocuments.h"
#include "session/SplitFiles.h"

namespace vantrel
{
namespace
{
juce::String utf8 (const char* text)  { return juce::String::fromUTF8 (text); }

StoreResult failure (const char* utf8Message)  { return StoreResult::failure (utf8 (utf8Message)); }

std::string pathOf (const juce::File& file)  { return file.getFullPathName().toStdString(); }

/** Reads a JSON file and checks it as a whole-state document. */
StoreResult readWholeStateFile (const juce::File& file, juce::var& document, CatalogState& state)
{
    const auto read = readJsonFile (file, document);

    if (! read.ok)
        return read;

    return readCatalogJson (document, state);
}
} // namespace

CatalogStore::CatalogStore (const juce::File& dataRoot)
    : root (dataRoot)
{
}

juce::File CatalogStore::journalFile() const   { return root.getChildFile ("recovery").getChildFile ("pending.json"); }
juce::File CatalogStore::lastGoodFile() const  { return root.getChildFile ("recovery").getChildFile ("last-good.json"); }

StoreResult CatalogStore::writeSplitFiles (const CatalogState& state)
{
    return vantrel::writeSplitFiles (root, state);
}

StoreResult CatalogStore::save (const CatalogState& state)
{
    if (recoveryRequired.load())
        return failure ("復旧待ちのため自動保存を保留しています");

    // A state that could not be read back is never saved.
    const auto document = catalogToJson (state);
    CatalogState readBack;

    if (const auto check = readCatalogJson (document, readBack); ! check.ok)
        return check;

    // The journal first: from here on an interrupted save is finished at the next start-up.
    const auto text = sessionJsonText (document);

    if (const auto journal = writeFileAtomically (journalFile(), text, false); ! journal.ok)
        return journal;

    if (const auto split = writeSplitFiles (state); ! split.ok)
        return StoreResult::failure (split.message + utf8 ("（中断journalを保持しました）"));

    if (const auto snapshot = writeFileAtomically (lastGoodFile(), text, true); ! snapshot.ok)
        return snapshot;

    if (platform::removeDurably (pathOf (journalFile())).failed())
        return failure ("復旧journalを確定できませんでした");

    return StoreResult::success (utf8 ("自動保存済み"));
}

StoreResult CatalogStore::readSavedFiles (CatalogState& state)
{
    const auto journal = journalFile();

    if (journal.existsAsFile())
    {
        juce::var document;
        CatalogState journalState;

        if (const auto read = readWholeStateFile (journal, document, journalState); ! read.ok)
            return read;

        if (const auto split = writeSplitFiles (journalState); ! split.ok)
            return split;

        if (const auto snapshot = writeFileAtomically (lastGoodFile(), sessionJsonText (document), true); ! snapshot.ok)
            return snapshot;

        if (platform::removeDurably (pathOf (journal)).failed())
            return failure ("中断保存の復旧を確定できません");
    }

    // Anything at the catalog's name is read (and a folder there fails), so that a damaged root
    // is never taken for an empty one.
    if (root.getChildFile ("catalog.json").exists())
        return readSplitFiles (root, state);

    if (root.getChildFile ("playlists").isDirectory() || root.getChildFile ("pad").getChildFile ("pads.json").existsAsFile())
        return failure ("catalogがありません。既存保存データを保護します");

    state = CatalogState();
    return StoreResult::success();
}

StoreResult CatalogStore::load (CatalogState& state)
{
    const auto first = readSavedFiles (state);

    if (first.ok)
        return first;

    recoveryRequired.store (true);

    juce::var document;
    CatalogState snapshot;

    if (! readWholeStateFile (lastGoodFile(), document, snapshot).ok)
        return first;

    state = std::move (snapshot);
    return StoreResult::failure (first.message + utf8 ("。直前のバックアップを読み取りました。復旧確認が必要です。"));
}

StoreResult CatalogStore::recoverFromBackup()
{
    juce::var document;
    CatalogState snapshot;

    if (const auto read = readWholeStateFile (lastGoodFile(), document, snapshot); ! read.ok)
        return read;

    juce::File bundle;

    if (const auto kept = writeDamagedBundle (root, bundle); ! kept.ok)
        return kept;

    if (const auto split = writeSplitFiles (snapshot); ! split.ok)
        return split;

    // The journal may hold a newer state than the snapshot (a save whose completion failed):
    // it is kept under a unique name instead of being deleted.
    const auto journal = journalFile();

    if (journal.exists())
    {
        auto kept = journal.getSiblingFile ("pending-" + juce::String (platform::randomHex32()) + ".json");

        while (kept.exists())
            kept = journal.getSiblingFile ("pending-" + juce::String (platform::randomHex32()) + ".json");

        if (platform::renameDurably (pathOf (journal), pathOf (kept)).failed())
            return failure ("中断journalを除去できません");
    }

    recoveryRequired.store (false);
    return StoreResult::success (utf8 ("バックアップから復旧しました"));
}

juce::File waveformCacheFolder (const juce::File& root, const std::string& playlistId)
{
    if (! isValidId (playlistId))
        return {};

    return root.getChildFile ("playlists").getChildFile (juce::String (playlistId)).getChildFile ("waveforms");
}
} // namespace vantrel
