#include "audio/output/OutputDeviceSettingsFile.h"
#include "platform/FileFaults.h"

#include <gtest/gtest.h>

#include <cerrno>

using vantrel::OutputDeviceSettings;

namespace
{
const juce::String damaged = juce::String::fromUTF8 ("出力先設定が破損しています。自動出力を止めました");
const juce::String badId = juce::String::fromUTF8 ("出力設定の識別子が不正です");
const juce::String badNumType = juce::String::fromUTF8 ("出力設定の数値形式が不正です");
const juce::String badNumber = juce::String::fromUTF8 ("出力設定の数値が不正です");
const juce::String noId = juce::String::fromUTF8 ("出力先設定の識別子がありません");

class OutputDeviceSettingsFile : public ::testing::Test
{
protected:
    juce::File folder = juce::File::createTempFile ("device-settings");
    juce::File file = folder.getChildFile ("device.json");
    juce::File previous = folder.getChildFile ("device-before-independent-output.json");

    void SetUp() override     { ASSERT_TRUE (folder.createDirectory()); }
    void TearDown() override  { folder.deleteRecursively(); }

    static OutputDeviceSettings jackSystem()  { return { "JACK", "system", "JACK:system", 48000.0, 512, 1 }; }

    static juce::String v2 (const juce::String& numbers)
    {
        return R"({"version": 2, "type": "JACK", "name": "system", "id": "JACK:system", )" + numbers + "}";
    }
};

TEST_F (OutputDeviceSettingsFile, MissingFileReadsAsEmptyAndOk)
{
    OutputDeviceSettings settings = jackSystem();
    const auto result = vantrel::readOutputDeviceSettings (file, settings);
    EXPECT_TRUE (result.ok);
    EXPECT_TRUE (result.message.isEmpty());
    EXPECT_EQ (settings, OutputDeviceSettings {});
}

TEST_F (OutputDeviceSettingsFile, ReadsEveryVersionAndRefusesBadContentWithItsMessage)
{
    struct Case { juce::String text; bool ok; juce::String message; bool filled; OutputDeviceSettings expected; };
    const OutputDeviceSettings v1Read { "ALSA", "HDA Intel", "hw:PCH,0", 0.0, 0, 0 };
    const Case cases[] = {
        { R"({"version": 1, "type": "ALSA", "name": "HDA Intel", "id": "hw:PCH,0", "sampleRate": "x"})", true, {}, true, v1Read },
        { v2 (R"("sampleRate": 48000, "bufferSize": 512, "outputPair": 1)"), true, {}, true, jackSystem() },
        { v2 (R"("sampleRate": 44100.5, "bufferSize": 65536, "outputPair": 127)"), true, {}, true,
          { "JACK", "system", "JACK:system", 44100.5, 65536, 127 } },
        { v2 (R"("sampleRate": 0, "bufferSize": 0, "outputPair": 0)"), true, {}, true,
          { "JACK", "system", "JACK:system", 0.0, 0, 0 } },
        { "not json", false, damaged, false, {} },
        { "[1, 2]", false, damaged, false, {} },
        { R"({"version": 3, "type": "JACK", "name": "system", "id": "JACK:system"})", false, damaged, false, {} },
        { R"({"version": "2", "type": "JACK", "name": "system", "id": "JACK:system"})", false, damaged, false, {} },
        { R"({"version": 1.0, "type": "JACK", "name": "system", "id": "JACK:system"})", false, damaged, false, {} },
        { R"({"version": 1, "type": "JACK", "name": "system"})", false, badId, false, {} },
        { R"({"version": 1, "type": "JACK", "name": 5, "id": "JACK:system"})", false, badId, false, {} },
        { v2 (R"("sampleRate": "48000", "bufferSize": 512, "outputPair": 0)"), false, badNumType, false, {} },
        { v2 (R"("sampleRate": 48000, "bufferSize": 512.5, "outputPair": 0)"), false, badNumType, false, {} },
        { v2 (R"("sampleRate": 48000, "bufferSize": 512)"), false, badNumType, false, {} },
        { v2 (R"("sampleRate": 48000, "bufferSize": -1, "outputPair": 0)"), false, badNumber, true,
          { "JACK", "system", "JACK:system", 48000.0, -1, 0 } },
        { v2 (R"("sampleRate": 48000, "bufferSize": 65537, "outputPair": 0)"), false, badNumber, true,
          { "JACK", "system", "JACK:system", 48000.0, 65537, 0 } },
        { v2 (R"("sampleRate": 48000, "bufferSize": 512, "outputPair": 128)"), false, badNumber, true,
          { "JACK", "system", "JACK:system", 48000.0, 512, 128 } },
        { v2 (R"("sampleRate": 7999, "bufferSize": 512, "outputPair": 0)"), false, badNumber, true,
          { "JACK", "system", "JACK:system", 7999.0, 512, 0 } },
        { v2 (R"("sampleRate": 384001, "bufferSize": 512, "outputPair": 0)"), false, badNumber, true,
          { "JACK", "system", "JACK:system", 384001.0, 512, 0 } },
        { R"({"version": 1, "type": "JACK", "name": "", "id": "JACK:system"})", false, noId, true,
          { "JACK", "", "JACK:system", 0.0, 0, 0 } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        ASSERT_TRUE (file.replaceWithText (c.text));
        const OutputDeviceSettings before { "ALSA", "before", "before-id", 96000.0, 64, 3 };
        OutputDeviceSettings settings = before;
        const auto result = vantrel::readOutputDeviceSettings (file, settings);
        EXPECT_EQ (result.ok, c.ok);
        EXPECT_EQ (result.message, c.message);
        EXPECT_EQ (settings, c.filled ? c.expected : before);
    }
}

TEST_F (OutputDeviceSettingsFile, HugeIntegersAreOutOfRangeNotWrappedIntoRange)
{
    ASSERT_TRUE (file.replaceWithText (v2 (R"("sampleRate": 48000, "bufferSize": 4294967808, "outputPair": 0)")));
    OutputDeviceSettings settings;
    const auto result = vantrel::readOutputDeviceSettings (file, settings);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, badNumber);
}

TEST_F (OutputDeviceSettingsFile, FileOfExactlyTheLimitIsReadAndOneByteMoreIsRefused)
{
    const auto body = v2 (R"("sampleRate": 48000, "bufferSize": 512, "outputPair": 1)");
    const auto padded = [&] (int size) { return body + juce::String::repeatedString (" ", size - body.getNumBytesAsUTF8()); };

    ASSERT_TRUE (file.replaceWithText (padded (65536)));
    ASSERT_EQ (file.getSize(), 65536);
    OutputDeviceSettings settings;
    EXPECT_TRUE (vantrel::readOutputDeviceSettings (file, settings).ok);
    EXPECT_EQ (settings, jackSystem());

    ASSERT_TRUE (file.replaceWithText (padded (65537)));
    OutputDeviceSettings untouched;
    const auto result = vantrel::readOutputDeviceSettings (file, untouched);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, juce::String::fromUTF8 ("出力設定が上限を超えています"));
    EXPECT_EQ (untouched, OutputDeviceSettings {});
}

TEST_F (OutputDeviceSettingsFile, AFolderInPlaceOfTheFileReadsAsDamaged)
{
    ASSERT_TRUE (file.createDirectory());
    OutputDeviceSettings settings = jackSystem();
    const auto result = vantrel::readOutputDeviceSettings (file, settings);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, damaged);
    EXPECT_EQ (settings, jackSystem());
}

TEST_F (OutputDeviceSettingsFile, WrittenSettingsReadBackEqualWithKeysInOrder)
{
    const auto result = vantrel::writeOutputDeviceSettings (file, jackSystem());
    ASSERT_TRUE (result.ok) << result.message;
    const auto text = file.loadFileAsString();
    int last = -1;
    for (const char* key : { "\"version\"", "\"type\"", "\"name\"", "\"id\"", "\"sampleRate\"", "\"bufferSize\"", "\"outputPair\"" })
    {
        const int at = text.indexOf (key);
        EXPECT_GT (at, last) << key;
        last = at;
    }
    EXPECT_TRUE (text.containsChar ('\n'));
    OutputDeviceSettings read;
    EXPECT_TRUE (vantrel::readOutputDeviceSettings (file, read).ok);
    EXPECT_EQ (read, jackSystem());
    EXPECT_FALSE (previous.exists());
}

TEST_F (OutputDeviceSettingsFile, RefusedRecordsWriteNothing)
{
    auto noName = jackSystem();
    noName.name = {};
    auto badRate = jackSystem();
    badRate.sampleRate = std::numeric_limits<double>::quiet_NaN();
    auto badPair = jackSystem();
    badPair.outputPair = -1;
    for (const auto& settings : { noName, badRate, badPair })
    {
        const auto result = vantrel::writeOutputDeviceSettings (file, settings);
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, juce::String::fromUTF8 ("出力設定を保存できません。選択内容を確認してください"));
        EXPECT_FALSE (file.exists());
    }
}

TEST_F (OutputDeviceSettingsFile, VersionOneFileIsCopiedOnceBeforeItIsReplaced)
{
    const juce::String v1 = R"({"version": 1, "type": "ALSA", "name": "HDA Intel", "id": "hw:PCH,0"})";
    ASSERT_TRUE (file.replaceWithText (v1));
    ASSERT_TRUE (vantrel::writeOutputDeviceSettings (file, jackSystem()).ok);
    EXPECT_EQ (previous.loadFileAsString(), v1);

    // A later version 1 file (written by an older program) does not replace the first copy.
    ASSERT_TRUE (file.replaceWithText (R"({"version": 1, "type": "ALSA", "name": "other", "id": "default"})"));
    auto second = jackSystem();
    second.outputPair = 2;
    ASSERT_TRUE (vantrel::writeOutputDeviceSettings (file, second).ok);
    EXPECT_EQ (previous.loadFileAsString(), v1);
    OutputDeviceSettings read;
    ASSERT_TRUE (vantrel::readOutputDeviceSettings (file, read).ok);
    EXPECT_EQ (read, second);
}

TEST_F (OutputDeviceSettingsFile, FailedCopyOfVersionOneFileWritesNothing)
{
    const juce::String v1 = R"({"version": 1, "type": "ALSA", "name": "HDA Intel", "id": "hw:PCH,0"})";
    ASSERT_TRUE (file.replaceWithText (v1));
    vantrel::platform::ScopedFileFaults faults;
    vantrel::platform::FileFaults::arm ({ 1, ENOSPC, std::nullopt, {}, "device-before-independent-output.json" });
    const auto result = vantrel::writeOutputDeviceSettings (file, jackSystem());
    EXPECT_TRUE (vantrel::platform::FileFaults::fired());
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, juce::String::fromUTF8 ("以前の出力設定を保全できませんでした"));
    EXPECT_EQ (file.loadFileAsString(), v1);
    EXPECT_FALSE (previous.exists());
}

TEST_F (OutputDeviceSettingsFile, DamagedOrOtherVersionFileIsReplacedWithoutACopy)
{
    for (const char* old : { "garbage", R"({"version": 2, "type": "JACK", "name": "a", "id": "b"})" })
    {
        ASSERT_TRUE (file.replaceWithText (old));
        ASSERT_TRUE (vantrel::writeOutputDeviceSettings (file, jackSystem()).ok);
        EXPECT_FALSE (previous.exists());
        OutputDeviceSettings read;
        EXPECT_TRUE (vantrel::readOutputDeviceSettings (file, read).ok);
        EXPECT_EQ (read, jackSystem());
    }
}

TEST_F (OutputDeviceSettingsFile, WriterFailureIsReportedAndLeavesOldFile)
{
    // A non-empty folder where the file should go: the atomic writer cannot rename over it.
    ASSERT_TRUE (file.getChildFile ("inside").create().wasOk());
    const auto result = vantrel::writeOutputDeviceSettings (file, jackSystem());
    EXPECT_FALSE (result.ok);
    EXPECT_TRUE (result.message.isNotEmpty());
    EXPECT_TRUE (file.getChildFile ("inside").existsAsFile());
}
} // namespace
