#include "session/AtomicFileWriter.h"
#include "session/StoredJson.h"

#include "platform/DurableFile.h"
#include "platform/FileFaults.h"
#include "support/ForkedCall.h"
#include "support/ToolRun.h"
#include "StoreFixtures.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace vantrel;
using namespace vantrel::testing;
using platform::FileFault;
using platform::FileFaults;
using platform::FileOp;

namespace
{
const char* const oldText = "{\"v\": 1}";
const char* const oldBackup = "{\"v\": 0}";
const char* const newText = "{\"v\": 2, \"title\": \"\xe6\x96\xb0\"}";

int countOps (const std::vector<platform::FileOperation>& ops, FileOp kind)
{
    return static_cast<int> (std::count_if (ops.begin(), ops.end(), [kind] (const auto& o) { return o.op == kind; }));
}
} // namespace

TEST (AtomicFileWriter, UnchangedTextWritesNothingAndLeavesTheBackupAlone)
{
    TempFolder folder;
    const auto target = folder / "catalog.json";
    platform::ScopedFileFaults seam;

    ASSERT_TRUE (writeFileAtomically (target, oldText, true).ok);
    ASSERT_TRUE (writeFileAtomically (target, juce::String::fromUTF8 (newText), true).ok);
    const auto backupBefore = readBytes (folder / "catalog.json.bak");

    FileFaults::startRecording();
    const auto result = writeFileAtomically (target, juce::String::fromUTF8 (newText), true);
    const auto ops = FileFaults::recorded();

    EXPECT_EQ (result, StoreResult::success());
    ASSERT_EQ (ops.size(), 1u);   // the one read of the unchanged check
    EXPECT_EQ (ops[0].op, FileOp::readFile);
    EXPECT_EQ (readBytes (folder / "catalog.json.bak"), backupBefore);
    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (AtomicFileWriter, BackupHoldsThePreviousTextOfTheLastWriteThatAskedForOne)
{
    TempFolder folder;

    ASSERT_TRUE (writeFileAtomically (folder / "pad/pads.json", "[1]", true).ok);
    EXPECT_FALSE ((folder / "pad/pads.json.bak").exists());

    ASSERT_TRUE (writeFileAtomically (folder / "pad/pads.json", "[2]", true).ok);
    EXPECT_EQ (readBytes (folder / "pad/pads.json.bak"), "[1]");

    ASSERT_TRUE (writeFileAtomically (folder / "pad/pads.json", "[3]", false).ok);
    EXPECT_EQ (readBytes (folder / "pad/pads.json.bak"), "[1]");
    EXPECT_EQ (readBytes (folder / "pad/pads.json"), "[3]");

    ASSERT_TRUE (writeFileAtomically (folder / "pad/pads.json", "[4]", true).ok);
    EXPECT_EQ (readBytes (folder / "pad/pads.json.bak"), "[3]");
    EXPECT_EQ (readBytes (folder / "pad/pads.json"), "[4]");
    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (AtomicFileWriter, JsonCheckGoesByNameNotByContent)
{
    TempFolder folder;
    writeBytes (folder / "x.json", oldText);
    writeBytes (folder / "x.json.bak", oldBackup);

    const auto refusal = ja ("保存JSON自己検証に失敗しました");

    for (const char* text : { "not json", "\"a string\"", "42", "{\"a\": 1", "[18446744073709551622]", "[1e999]" })
    {
        EXPECT_EQ (writeFileAtomically (folder / "x.json", text, true), StoreResult::failure (refusal)) << text;
        EXPECT_EQ (writeFileAtomically (folder / "notes.txt", text, false), StoreResult::failure (refusal)) << text;
    }

    EXPECT_EQ (readBytes (folder / "x.json"), oldText);
    EXPECT_EQ (readBytes (folder / "x.json.bak"), oldBackup);
    EXPECT_FALSE ((folder / "notes.txt").exists());

    for (const char* name : { "x.bak", "x.BAK", "x.json.Bak" })
    {
        EXPECT_TRUE (writeFileAtomically (folder / name, "not json", false).ok) << name;
        EXPECT_EQ (readBytes (folder / name), "not json");
    }

    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (AtomicFileWriter, CreatesTheFolderChainAndForcesEachNewFolderToDisk)
{
    TempFolder folder;
    platform::ScopedFileFaults seam;
    FileFaults::startRecording();

    ASSERT_TRUE (writeFileAtomically (folder / "playlists/p1/deep/playlist.json", "{}", true).ok);
    const auto ops = FileFaults::recorded();

    EXPECT_EQ (readBytes (folder / "playlists/p1/deep/playlist.json"), "{}");
    EXPECT_EQ (countOps (ops, FileOp::createFolder), 3);

    // Each created folder is followed by a sync of its parent.
    for (size_t i = 0; i < ops.size(); ++i)
    {
        if (ops[i].op != FileOp::createFolder)
            continue;

        ASSERT_LT (i + 1, ops.size());
        EXPECT_EQ (ops[i + 1].op, FileOp::syncFolder);
        EXPECT_EQ (ops[i + 1].path, juce::File (ops[i].path).getParentDirectory().getFullPathName().toStdString());
    }
}

TEST (AtomicFileWriter, DurabilityOrderAndTemporaryName)
{
    TempFolder folder;
    writeBytes (folder / "app-state.json", oldText);
    platform::ScopedFileFaults seam;
    FileFaults::startRecording();

    ASSERT_TRUE (writeFileAtomically (folder / "app-state.json", juce::String::fromUTF8 (newText), true).ok);
    const auto ops = FileFaults::recorded();

    std::vector<std::string> sequence;
    for (const auto& op : ops)
        sequence.push_back (std::string (platform::fileOpName (op.op)) + " " + juce::File (op.path).getFileName().toStdString());

    // Temporary names are the target's name, ".tmp-" and 32 lower-case hex digits.
    ASSERT_EQ (sequence.size(), 11u);
    ASSERT_TRUE (isUuidName (juce::File (ops[0].path).getFileName(), "app-state.json.tmp-", ""));
    ASSERT_TRUE (isUuidName (juce::File (ops[5].path).getFileName(), "app-state.json.bak.tmp-", ""));

    // The backup is the previous file under a second name, committed before the new text is.
    const auto temp = juce::File (ops[0].path).getFileName().toStdString();
    const auto backupTemp = juce::File (ops[5].path).getFileName().toStdString();
    const auto parent = folder.path().getFileName().toStdString();
    const std::vector<std::string> expected {
        "createFile " + temp, "writeFile " + temp, "syncFile " + temp, "closeFile " + temp, "readFile " + temp,
        "linkFile " + backupTemp, "renameFile app-state.json.bak", "syncFolder " + parent,
        "renameFile app-state.json", "syncFolder " + parent, "readFile app-state.json" };
    EXPECT_EQ (sequence, expected);
    EXPECT_EQ (readBytes (folder / "app-state.json.bak"), oldText);
}

TEST (AtomicFileWriter, TextLargerThanTheReaderAcceptsIsRefused)
{
    TempFolder folder;
    writeBytes (folder / "big.json", oldText);
    const ScopedJsonFileSizeLimit limit (100);

    const auto exactly = "[\"" + std::string (96, 'a') + "\"]";
    const auto oneMore = "[\"" + std::string (97, 'a') + "\"]";

    EXPECT_EQ (writeFileAtomically (folder / "big.json", oneMore, true),
               StoreResult::failure (ja ("保存データが大きすぎるため保存できません: big.json")));
    EXPECT_EQ (readBytes (folder / "big.json"), oldText);
    EXPECT_FALSE ((folder / "big.json.bak").exists());

    ASSERT_TRUE (writeFileAtomically (folder / "big.json", exactly, true).ok);
    juce::var value;
    EXPECT_TRUE (readJsonFile (folder / "big.json", value).ok);

    // A file that nothing reads back with a limit may be larger.
    EXPECT_TRUE (writeFileAtomically (folder / "bundle.json", oneMore, false, noFileSizeLimit).ok);
    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (AtomicFileWriter, UnchangedAndBackupCompareBytesNotDecodedText)
{
    TempFolder folder;
    const auto target = folder / "catalog.json";

    // The framework's reader stops at a NUL and would take this file as already holding the text.
    writeBytes (target, std::string (oldText) + std::string ("\0junk", 5));
    ASSERT_TRUE (writeFileAtomically (target, oldText, true).ok);
    EXPECT_EQ (readBytes (target), oldText);
    EXPECT_EQ (readBytes (folder / "catalog.json.bak"), std::string (oldText) + std::string ("\0junk", 5));

    // A damaged (non-UTF-8) target is kept byte for byte in the backup.
    const std::string damaged = "{\"title\": \"\xe6\x96\x20\xff\"}";
    writeBytes (target, damaged);
    ASSERT_TRUE (writeFileAtomically (target, juce::String::fromUTF8 (newText), true).ok);
    EXPECT_EQ (readBytes (folder / "catalog.json.bak"), damaged);
    EXPECT_EQ (readBytes (target), newText);
}

TEST (AtomicFileWriter, EveryInjectedFailureGivesItsMessageAndLeavesNoTemporaryFile)
{
    enum class After { old, fresh };
    enum class Backup { secondName, copy };
    struct Case
    {
        Backup way;
        FileOp op;
        int nth;
        int error;
        const char* message;
        After target;
        After backup;   // "fresh" = the backup renewed with the target's previous text
    };

    const auto eio = platform::FileError::fromCode (EIO).text;
    // With an existing target of another size and a backup of another size, a write with a backup
    // performs: one create, the temporary's read-back (read 1), the backup's second name and its
    // rename, the target's rename, a folder sync after each rename (the backup's first) and the
    // target's re-read (read 2). A target that is a symbolic link has its backup copied: the
    // previous text (read 2), the backup's create, read-back (read 3) and re-read (read 4), the
    // target's re-read (read 5).
    const std::vector<Case> cases {
        { Backup::secondName, FileOp::createFile, 1, EIO, "一時保存に失敗しました", After::old, After::old },
        { Backup::secondName, FileOp::writeFile, 1, ENOSPC, "一時保存に失敗しました", After::old, After::old },
        { Backup::secondName, FileOp::syncFile, 1, EIO, "一時保存のflush/readbackに失敗しました", After::old, After::old },
        { Backup::secondName, FileOp::closeFile, 1, EIO, nullptr, After::old, After::old },
        { Backup::secondName, FileOp::readFile, 1, EIO, "一時保存のflush/readbackに失敗しました", After::old, After::old },
        { Backup::secondName, FileOp::renameFile, 1, EIO, "保存の確定に失敗しました: target.json.bak", After::old, After::old },
        { Backup::secondName, FileOp::syncFolder, 1, EIO, "保存の確定に失敗しました: target.json.bak", After::old, After::fresh },
        { Backup::secondName, FileOp::renameFile, 2, EXDEV, "保存の確定に失敗しました: target.json", After::old, After::fresh },
        { Backup::secondName, FileOp::syncFolder, 2, EIO, "保存の確定に失敗しました: target.json", After::fresh, After::fresh },
        { Backup::secondName, FileOp::readFile, 2, EIO, "確定後の再読込に失敗しました", After::fresh, After::fresh },
        { Backup::copy, FileOp::readFile, 2, EIO, "保存データを読めません: target.json", After::old, After::old },
        { Backup::copy, FileOp::createFile, 2, ENOSPC, "一時保存に失敗しました", After::old, After::old },
        { Backup::copy, FileOp::writeFile, 2, ENOSPC, "一時保存に失敗しました", After::old, After::old },
        { Backup::copy, FileOp::readFile, 3, EIO, "一時保存のflush/readbackに失敗しました", After::old, After::old },
        { Backup::copy, FileOp::renameFile, 1, EIO, "保存の確定に失敗しました: target.json.bak", After::old, After::old },
        { Backup::copy, FileOp::syncFolder, 1, EIO, "保存の確定に失敗しました: target.json.bak", After::old, After::fresh },
        { Backup::copy, FileOp::readFile, 4, EIO, "確定後の再読込に失敗しました", After::old, After::fresh },
        { Backup::copy, FileOp::renameFile, 2, EXDEV, "保存の確定に失敗しました: target.json", After::old, After::fresh },
        { Backup::copy, FileOp::syncFolder, 2, EIO, "保存の確定に失敗しました: target.json", After::fresh, After::fresh },
        { Backup::copy, FileOp::readFile, 5, EIO, "確定後の再読込に失敗しました", After::fresh, After::fresh },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (c.way == Backup::copy ? "copied backup, " : "") + platform::fileOpName (c.op) + " #"
                      + std::to_string (c.nth));
        TempFolder folder;
        const auto target = folder / "target.json";

        if (c.way == Backup::copy)
        {
            writeBytes (folder / "real/target.json", oldText);
            std::filesystem::create_symlink ((folder / "real/target.json").getFullPathName().toStdString(),
                                             target.getFullPathName().toStdString());
        }
        else
        {
            writeBytes (target, oldText);
        }

        writeBytes (folder / "target.json.bak", std::string (oldBackup) + "  ");

        platform::ScopedFileFaults seam;
        FileFaults::arm (FileFault { c.nth, c.error, c.op, {}, {} });
        const auto result = writeFileAtomically (target, juce::String::fromUTF8 (newText), true);

        EXPECT_TRUE (FileFaults::fired());
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, c.message != nullptr ? ja (c.message) : juce::String (eio));
        EXPECT_EQ (readBytes (target), c.target == After::old ? std::string (oldText) : std::string (newText));
        EXPECT_EQ (readBytes (folder / "target.json.bak"), c.backup == After::old ? std::string (oldBackup) + "  " : std::string (oldText));
        EXPECT_TRUE (temporaryFiles (folder.path()).empty());
    }
}

TEST (AtomicFileWriter, RealFailuresAsRoot)
{
    TempFolder folder;

    // A file where a folder is expected: the folder chain cannot be made.
    writeBytes (folder / "recovery", "a file");
    const auto blocked = writeFileAtomically (folder / "recovery/pending.json", "{}", false);
    EXPECT_EQ (blocked, StoreResult::failure (platform::FileError::fromCode (ENOTDIR).text));
    EXPECT_EQ (readBytes (folder / "recovery"), "a file");

    // A non-empty folder where the target file is expected: the commit fails.
    writeBytes (folder / "catalog.json/keep.txt", "keep");
    EXPECT_EQ (writeFileAtomically (folder / "catalog.json", "{}", true),
               StoreResult::failure (ja ("保存の確定に失敗しました: catalog.json")));
    EXPECT_EQ (readBytes (folder / "catalog.json/keep.txt"), "keep");

    // An empty folder is not replaced either.
    (folder / "app-state.json").createDirectory();
    EXPECT_FALSE (writeFileAtomically (folder / "app-state.json", "{}", true).ok);
    EXPECT_TRUE ((folder / "app-state.json").isDirectory());
    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (AtomicFileWriter, AFifoAtTheTargetIsRefusedWithoutHanging)
{
    TempFolder folder;
    const auto fifo = folder / "catalog.json";
    ASSERT_TRUE (vantrel::test::runTool ({ "mkfifo", fifo.getFullPathName().toStdString() }));
    ASSERT_TRUE (fifo.exists());

    juce::var value;
    EXPECT_EQ (readJsonFile (fifo, value), StoreResult::failure (ja ("保存データを読めません: catalog.json")));
    EXPECT_EQ (writeFileAtomically (fifo, "{}", true), StoreResult::failure (ja ("保存データを読めません: catalog.json")));
    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (AtomicFileWriter, DiskFullInAChildProcessLeavesTheTargetAndNoTemporaryFile)
{
    TempFolder folder;
    writeBytes (folder / "playlist.json", oldText);
    const auto bigText = "[\"" + std::string (64 * 1024, 'x') + "\"]";

    const auto child = platform::runInForkedChild ([&] (std::string& output)
    {
        const auto result = writeFileAtomically (folder / "playlist.json", bigText, true);
        output = result.message.toStdString();
        return result.ok ? 0 : 1;
    }, 16 * 1024);

    ASSERT_TRUE (child.exited);
    EXPECT_EQ (child.exitCode, 1);
    EXPECT_EQ (juce::String::fromUTF8 (child.output.c_str()), ja ("一時保存に失敗しました"));
    EXPECT_EQ (readBytes (folder / "playlist.json"), oldText);
    EXPECT_FALSE ((folder / "playlist.json.bak").exists());
    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (ReadJsonFile, MissingFolderAndOversizedFilesAreUnreadable)
{
    TempFolder folder;
    (folder / "playlists").createDirectory();
    juce::var value ("untouched");

    EXPECT_EQ (readJsonFile (folder / "missing.json", value), StoreResult::failure (ja ("保存データを読めません: missing.json")));
    EXPECT_EQ (readJsonFile (folder / "playlists", value), StoreResult::failure (ja ("保存データを読めません: playlists")));

    const ScopedJsonFileSizeLimit limit (64);
    const std::string exactly = "[" + std::string (62, ' ') + "]";
    writeBytes (folder / "exact.json", exactly);
    writeBytes (folder / "over.json", exactly + " ");

    EXPECT_EQ (readJsonFile (folder / "over.json", value), StoreResult::failure (ja ("保存データを読めません: over.json")));
    EXPECT_EQ (value, juce::var ("untouched"));
    EXPECT_TRUE (readJsonFile (folder / "exact.json", value).ok);
    EXPECT_TRUE (value.isArray());
}

TEST (ReadJsonFile, TheDefaultLimitIs64MiB)
{
    TempFolder folder;
    const int64_t mebibytes64 = int64_t { 64 } * 1024 * 1024;
    EXPECT_EQ (jsonFileSizeLimit(), mebibytes64);

    {
        juce::FileOutputStream out (folder / "exact.json");
        ASSERT_TRUE (out.openedOk());
        out.writeByte ('[');
        out.writeRepeatedByte (' ', static_cast<size_t> (mebibytes64 - 2));
        out.writeByte (']');
    }
    ASSERT_EQ ((folder / "exact.json").getSize(), mebibytes64);

    juce::var value;
    EXPECT_TRUE (readJsonFile (folder / "exact.json", value).ok);

    {
        juce::FileOutputStream out (folder / "exact.json");
        out.writeByte (' ');
    }
    EXPECT_EQ (readJsonFile (folder / "exact.json", value), StoreResult::failure (ja ("保存データを読めません: exact.json")));
}

TEST (ReadJsonFile, DamagedBytesAreReportedNotDecoded)
{
    struct Case
    {
        std::string bytes;
        const char* detail;   // nullptr: accepted
    };

    const std::vector<Case> cases {
        { std::string ("{\"a\": 1}\0junk", 13), "NUL at byte 8" },
        { "{\"t\": \"\xe3\x81\"}", "invalid UTF-8 at byte 7" },            // truncated sequence
        { "{\"t\": \"\xc0\xaf\"}", "invalid UTF-8 at byte 7" },            // overlong '/'
        { "{\"t\": \"\xed\xa0\x80\"}", "invalid UTF-8 at byte 7" },        // surrogate
        { "{\"t\": \"\xf4\x90\x80\x80\"}", "invalid UTF-8 at byte 7" },    // above U+10FFFF
        { "{\"t\": \"caf\xe9\"}", "invalid UTF-8 at byte 10" },            // Windows-1252
        { std::string ("\xff\xfe{\0}\0", 6), "invalid UTF-8 at byte 0" },    // UTF-16 with its mark
        { "{\"a\": 1", "1:8: error: Expected ',' or '}'" },
        { "\"text\"", "1:1: error: Expected '{' or '['" },
        { "{\"zoom\": 18446744073709551631}", "number out of range at byte 9" },
        { "[9223372036854775808]", "number out of range at byte 1" },
        { "[-9223372036854775808]", "number out of range at byte 2" },
        { "[1.5e999]", "number out of range" },
        { "[\"\\ud83c\"]", "unpaired surrogate escape" },
        { "[\"\\udfb5\\ud83c\"]", "unpaired surrogate escape" },
        { "[\"a\\ud83cb\"]", "unpaired surrogate escape" },
        { "{\"t\": \"\xe3\x81\x82\", \"n\": 9223372036854775807, \"m\": -9223372036854775807}", nullptr },
        { "\xef\xbb\xbf{\"bom\": true}", nullptr },
        { "[\"\\ud83c\\udfb5 \\u65b0\"]", nullptr },
        { "{\"s\": \"18446744073709551622\", \"f\": 123456789012345678901234.5}", "number out of range at byte 35" },
        { "[1e9999999999]", "number out of range at byte 1" },
        { "[1e999999999]", "number out of range" },
        { "{\"s\": \"18446744073709551622\", \"f\": 1.2345678901234567e+23, \"t\": 1.5e-400, \"u\": 0.0000000000000000000000001}", nullptr },
        { "{\"a\": 1} trailing junk", nullptr },                             // as the framework's parser does
        { "", nullptr },                                                     // empty: a void value
        { "  \n", nullptr },
        { std::string (200000, '['), "nesting too deep at byte 64" },        // would exhaust the parser's stack
        { "{\"a\": " + std::string (40, '[') + std::string (40, ']') + "}", nullptr },
        { "[\"" + std::string (100, '[') + "\"]", nullptr },                  // brackets inside a string do not nest
    };

    TempFolder folder;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.bytes);
        writeBytes (folder / "pads.json", c.bytes);
        juce::var value ("untouched");
        const auto result = readJsonFile (folder / "pads.json", value);

        if (c.detail == nullptr)
        {
            EXPECT_EQ (result, StoreResult::success());
            EXPECT_NE (value, juce::var ("untouched"));
        }
        else
        {
            EXPECT_EQ (result, StoreResult::failure (ja ("JSON破損: pads.json / ") + c.detail));
            EXPECT_EQ (value, juce::var ("untouched"));
        }
    }
}

TEST (ReadJsonFile, ReadsBackWhatTheWriterWrote)
{
    TempFolder folder;
    auto* object = new juce::DynamicObject();
    object->setProperty ("title", juce::String::fromUTF8 ("\xe6\x9c\x9d\xe3\x81\xae\xe6\x9b\xb2 \xf0\x9f\x8e\xb5"));
    object->setProperty ("bytes", juce::var (juce::int64 { 1 } << 40));
    object->setProperty ("gain", -3.5);
    const juce::var document (object);

    ASSERT_TRUE (writeFileAtomically (folder / "doc.json", juce::JSON::toString (document), true).ok);
    juce::var value;
    ASSERT_TRUE (readJsonFile (folder / "doc.json", value).ok);
    EXPECT_EQ (value["bytes"], juce::var (juce::int64 { 1 } << 40));
    EXPECT_EQ (value["gain"], juce::var (-3.5));
    // Characters beyond U+FFFF come back as themselves, not as two surrogates.
    EXPECT_EQ (value["title"].toString(), object->getProperty ("title").toString());
    EXPECT_EQ (findTextDamage (value["title"].toString().toStdString()), juce::String());
}

// A file already written durably takes a target's place the way a write with a backup would have
// left it, without its bytes being written again.
TEST (AtomicFileWriter, AWrittenFileMovesIntoPlaceAsAWriteWithBackupWould)
{
    enum class Start { oldTargetAndBackup, noTarget, targetHoldsTheBytes, noSecondNames, targetIsALink };
    struct Case
    {
        const char* name;
        Start start;
        std::string backupAfter;
        bool writtenStays;
    };

    const std::vector<Case> cases {
        { "an old target and backup", Start::oldTargetAndBackup, oldText, false },
        { "no target yet", Start::noTarget, "", false },
        { "a target that holds the bytes already", Start::targetHoldsTheBytes, oldBackup, true },
        { "a file system without second names", Start::noSecondNames, oldText, false },
        { "a target that is a link to a file elsewhere", Start::targetIsALink, oldText, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TempFolder folder;
        const auto target = folder / "recovery/last-good.json";
        const auto written = folder / "recovery/pending.json";
        const auto elsewhere = folder / "elsewhere/kept.json";
        ASSERT_TRUE (writeFileAtomically (written, juce::String::fromUTF8 (newText), false).ok);

        if (c.start != Start::noTarget)
            writeBytes (folder / "recovery/last-good.json.bak", oldBackup);

        if (c.start == Start::targetIsALink)
        {
            writeBytes (elsewhere, oldText);
            std::filesystem::create_symlink (elsewhere.getFullPathName().toStdString(), target.getFullPathName().toStdString());
        }
        else if (c.start != Start::noTarget)
        {
            writeBytes (target, c.start == Start::targetHoldsTheBytes ? newText : oldText);
        }

        platform::ScopedFileFaults seam;
        FileFaults::startRecording();

        if (c.start == Start::noSecondNames)
            FileFaults::arm (FileFault { 1, EPERM, FileOp::linkFile, {}, {} });

        EXPECT_EQ (moveWrittenFileAtomically (written, target, newText), StoreResult::success());
        const auto ops = FileFaults::recorded();

        EXPECT_EQ (readBytes (target), newText);
        EXPECT_EQ (readBytes (folder / "recovery/last-good.json.bak"), c.backupAfter);
        EXPECT_EQ (written.existsAsFile(), c.writtenStays);
        EXPECT_TRUE (temporaryFiles (folder.path()).empty());

        // Only a backup that cannot be a second name is copied; the moved bytes are never written.
        const bool copied = c.start == Start::noSecondNames || c.start == Start::targetIsALink;
        EXPECT_EQ (countOps (ops, FileOp::writeFile), copied ? 1 : 0);

        if (c.start == Start::targetIsALink)
        {
            EXPECT_EQ (readBytes (elsewhere), oldText);
            EXPECT_FALSE (std::filesystem::is_symlink (target.getFullPathName().toStdString()));
        }
    }
}

TEST (AtomicFileWriter, AMoveThatFailsLeavesTheTargetOrTheBytesAndTheWrittenFile)
{
    enum class After { old, fresh };
    struct Case
    {
        FileOp op;
        int nth;
        const char* message;
        After target;
        After backup;
        bool writtenStays;
    };

    const std::vector<Case> cases {
        { FileOp::renameFile, 1, "保存の確定に失敗しました: last-good.json.bak", After::old, After::old, true },
        { FileOp::syncFolder, 1, "保存の確定に失敗しました: last-good.json.bak", After::old, After::fresh, true },
        { FileOp::renameFile, 2, "保存の確定に失敗しました: last-good.json", After::old, After::fresh, true },
        { FileOp::syncFolder, 2, "保存の確定に失敗しました: last-good.json", After::fresh, After::fresh, false },
        { FileOp::readFile, 1, "確定後の再読込に失敗しました", After::fresh, After::fresh, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (platform::fileOpName (c.op)) + " #" + std::to_string (c.nth));
        TempFolder folder;
        const auto target = folder / "last-good.json";
        const auto written = folder / "pending.json";
        writeBytes (target, oldText);
        writeBytes (folder / "last-good.json.bak", oldBackup);
        writeBytes (written, newText);

        platform::ScopedFileFaults seam;
        FileFaults::arm (FileFault { c.nth, EIO, c.op, {}, {} });
        EXPECT_EQ (moveWrittenFileAtomically (written, target, newText), StoreResult::failure (ja (c.message)));

        EXPECT_TRUE (FileFaults::fired());
        EXPECT_EQ (readBytes (target), c.target == After::old ? oldText : newText);
        EXPECT_EQ (readBytes (folder / "last-good.json.bak"), c.backup == After::old ? oldBackup : oldText);
        EXPECT_EQ (written.existsAsFile(), c.writtenStays);
        EXPECT_TRUE (temporaryFiles (folder.path()).empty());
    }
}

// A large write that a newer text makes needless stops at the next piece or step it reaches.
TEST (AtomicFileWriter, AWriteGivenUpStopsAtItsNextStepAndLeavesTheTargetAsItWas)
{
    const auto pieces = 3;
    const auto bigText = "[\"" + std::string (givenUpCheckBytes * (pieces - 1) + givenUpCheckBytes / 2, 'x') + "\"]";
    // Asked before each of the three pieces, before forcing to the disk, before the read-back and
    // before the backup; an answer that never turns true lets the write through.
    const int never = 0;

    for (const int givenUpAtAsk : { 1, 2, 3, 4, 5, 6, never })
    {
        SCOPED_TRACE ("given up at ask " + std::to_string (givenUpAtAsk));
        TempFolder folder;
        const auto target = folder / "recovery/pending.json";
        writeBytes (target, oldText);
        writeBytes (folder / "recovery/pending.json.bak", oldBackup);

        int asks = 0;
        platform::ScopedFileFaults seam;
        FileFaults::startRecording();
        const auto result = writeBytesAtomicallyUnlessGivenUp (target, bigText, true, [&] { return ++asks == givenUpAtAsk; });
        const auto written = countOps (FileFaults::recorded(), FileOp::writeFile);

        if (givenUpAtAsk == never)
        {
            EXPECT_EQ (result, StoreResult::success());
            EXPECT_EQ (readBytes (target), bigText);
            EXPECT_EQ (readBytes (folder / "recovery/pending.json.bak"), oldText);
            EXPECT_EQ (written, pieces);
        }
        else
        {
            EXPECT_EQ (result, StoreResult::failure (ja ("保存を中止しました")));
            EXPECT_EQ (asks, givenUpAtAsk);
            EXPECT_EQ (readBytes (target), oldText);
            EXPECT_EQ (readBytes (folder / "recovery/pending.json.bak"), oldBackup);
            EXPECT_EQ (written, std::min (givenUpAtAsk - 1, pieces));
        }

        EXPECT_TRUE (temporaryFiles (folder.path()).empty());
    }
}
