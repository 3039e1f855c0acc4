// Converting ripped WAV files into MP3 as the CD importer calls it: refusals, round trips through the
// media loader at every offered rate and bit rate, cancellation between blocks, and failures.
#include "SessionTestSupport.h"
#include "app/cd/AudioCdImport.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaTexts.h"
#include "session/UiText.h"
#include "support/SmallDisk.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

namespace
{
using vantrel::AudioCdImport;
using vantrel::translate;
using vantrel::testing::TempFolder;
using Settings = std::vector<std::pair<int, int>>;   // rate, kbps

constexpr double toneHz = 1000.0;

juce::File toneWav (const TempFolder& folder, double seconds)
{
    return vantrel::test::writeTone (folder.path(), "Track01.wav", seconds, 0.5f, toneHz, 44100.0);
}

TEST (Mp3Encoding, RefusesRatesAndBitratesNotOfferedBeforeTouchingAnything)
{
    TempFolder folder ("mp3");
    const auto wav = toneWav (folder, 0.5);
    for (const auto& [rate, kbps] : Settings { { 22050, 192 }, { 44100, 160 }, { 96000, 320 }, { 48000, 64 }, { 0, 0 } })
    {
        const auto result = AudioCdImport::encodeMp3 (wav, folder / "Track01.mp3", rate, kbps, nullptr);
        EXPECT_FALSE (result.ok) << rate << " Hz " << kbps << " kbps";
        EXPECT_EQ (result.message, translate ("MP3の周波数・ビットレートが不正です"));
        EXPECT_FALSE ((folder / "Track01.mp3").exists());
    }
}

TEST (Mp3Encoding, DecodesBackToTheSameToneAndLengthAtEveryOfferedSetting)
{
    TempFolder folder ("mp3");
    constexpr double seconds = 3.0;
    const auto wav = toneWav (folder, seconds);
    // Every offered rate with one bit rate, every offered bit rate with one rate.
    const Settings settings { { 32000, 192 }, { 44100, 192 }, { 48000, 192 }, { 44100, 128 }, { 44100, 256 }, { 44100, 320 } };
    for (const auto& [rate, kbps] : settings)
    {
        SCOPED_TRACE (juce::String (rate) + " Hz " + juce::String (kbps) + " kbps");
        const auto mp3 = folder / ("Track01-" + juce::String (rate) + "-" + juce::String (kbps) + ".mp3");
        const auto result = AudioCdImport::encodeMp3 (wav, mp3, rate, kbps, nullptr);
        ASSERT_TRUE (result.ok) << result.message;

        const auto media = vantrel::loadMedia ({ "check", mp3, {}, vantrel::readFileSignature (mp3), (double) rate },
                                               nullptr);
        ASSERT_NE (media->pcm, nullptr) << media->error;
        EXPECT_LT (std::abs (media->duration - seconds), 0.15);
        // The Info tag gives the exact length: no encoder delay or padding is left in.
        EXPECT_NEAR ((double) media->pcm->frames(), seconds * rate, rate * 0.002);
        EXPECT_NEAR ((double) mp3.getSize(), kbps * 125.0 * seconds, kbps * 125.0 * seconds * 0.1);

        const auto end = (std::size_t) media->pcm->frames() - (std::size_t) (rate / 10);
        for (const auto* channel : { &media->pcm->left, &media->pcm->right })
            EXPECT_NEAR (vantrel::test::toneAmplitude (*channel, (std::size_t) rate / 10, end, toneHz, rate), 0.5, 0.03);
    }
}

/** The MP3 is a pipe: the encoder cannot run further ahead of the reader than the pipe holds, so a
    flag set once the first bytes arrived is seen while blocks are still left. */
TEST (Mp3Encoding, CancelBetweenBlocksStopsTheEncoding)
{
    TempFolder folder ("mp3");
    const auto wav = toneWav (folder, 30.0);
    const auto pipe = (folder / "Track01.mp3").getFullPathName();
    ASSERT_TRUE (vantrel::test::runTool ({ "mkfifo", pipe.toStdString() }));

    std::atomic<bool> cancel { false }, readerOpened { false };
    size_t bytesBeforeCancel = 0;
    std::thread reader ([&]
    {
        std::FILE* in = std::fopen (pipe.toRawUTF8(), "rb");   // waits for the encoder to open it
        readerOpened = true;
        char buffer[4096];
        bytesBeforeCancel = in != nullptr ? std::fread (buffer, 1, sizeof (buffer), in) : 0;
        cancel = true;
        while (in != nullptr && std::fread (buffer, 1, sizeof (buffer), in) > 0) {}
        if (in != nullptr)
            std::fclose (in);
    });
    const auto result = AudioCdImport::encodeMp3 (wav, juce::File (pipe), 44100, 320, &cancel);
    if (! readerOpened)   // the encoder never opened the pipe: release the reader
        if (std::FILE* out = std::fopen (pipe.toRawUTF8(), "wb"))
            std::fclose (out);
    reader.join();

    EXPECT_GT (bytesBeforeCancel, 0u);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, translate ("CD取込をキャンセルしました"));
}

TEST (Mp3Encoding, ReportsAMissingWavAndAnMp3ThatCannotBeWritten)
{
    TempFolder folder ("mp3");
    const auto wav = toneWav (folder, 3.0);   // its MP3 needs about 72 kB
    ASSERT_TRUE ((folder / "file").replaceWithText ("x"));
    vantrel::test::SmallDisk disk (folder / "small", "32k");
    const auto cannotWrite = translate ("MP3ファイルを書き込めません。空き容量を確認してください");
    struct Case { juce::File wav, mp3; juce::String message; };
    std::vector<Case> cases {
        { folder / "missing.wav", folder / "missing.mp3", juce::String::fromUTF8 (vantrel::mediatext::fileMissing) },
        { wav, (folder / "file").getChildFile ("Track01.mp3"), cannotWrite } };   // a file where a folder should be
    if (disk.mounted)   // a full disk (mounting needs root)
        cases.push_back ({ wav, disk.folder.getChildFile ("Track01.mp3"), cannotWrite });
    for (const auto& c : cases)
    {
        const auto result = AudioCdImport::encodeMp3 (c.wav, c.mp3, 44100, 192, nullptr);
        EXPECT_FALSE (result.ok) << c.mp3.getFullPathName();
        EXPECT_EQ (result.message, c.message);
    }
    EXPECT_FALSE ((folder / "missing.mp3").exists());
}
} // namespace
