#include "audio/output/AudioDiagnostics.h"
#include "audio/output/DiagnosticsWriter.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
using vantrel::CallbackStatistics;

/** Feeds `count` callbacks of 512 frames at 48 kHz, one block period (10666 µs) apart. */
void feedRegularCallbacks (CallbackStatistics& statistics, int count, int64_t& clock)
{
    for (int i = 0; i < count; ++i)
    {
        clock += 10666;
        const auto period = statistics.recordCallback (clock, 512, 48000.0);
        statistics.recordRender (100, period);
    }
}

juce::StringArray keysOf (const juce::var& object)
{
    juce::StringArray keys;
    for (const auto& property : object.getDynamicObject()->getProperties())
        keys.add (property.name.toString());
    return keys;
}

TEST (AudioDiagnostics, KeysKeepTheirOrderAndGapsAppearOnlyWithARackFault)
{
    CallbackStatistics statistics;
    int64_t clock = 1000000;
    feedRegularCallbacks (statistics, 10, clock);
    vantrel::VstRackStatus rack;
    const vantrel::AudioDiagnosticsState state;

    const auto healthy = vantrel::buildAudioDiagnostics (state, statistics, rack, juce::Time::getCurrentTime());
    const juce::StringArray expected { "time", "outputType", "outputName", "sampleRate", "bufferSamples",
        "driverLatencySamples", "ready", "callbacks", "stopNotifications", "successfulDriverRestarts", "deviceErrors",
        "rateChangeGates", "confirmedLossEvents", "callbackLongGaps", "callbackBudgetOverruns", "maxCallbackGapUs",
        "maxRenderUs", "driverXruns", "vstUnderruns", "vstAudioFault", "vstBridgeSamples", "lastOutputError",
        "fastCallbacks", "maxCallbackBurstFrames", "vstFaultReason", "vstStateCaptures", "vstSlots", "driverErrors" };
    EXPECT_EQ (keysOf (healthy), expected);
    // No device ever opened: the xrun count is unknown and output is not ready.
    EXPECT_EQ (static_cast<int> (healthy["driverXruns"]), -1);
    EXPECT_FALSE (static_cast<bool> (healthy["ready"]));
    EXPECT_EQ (static_cast<juce::int64> (healthy["callbacks"]), 10);
    ASSERT_EQ (healthy["vstSlots"].size(), 2);
    EXPECT_EQ (keysOf (healthy["vstSlots"][0]), juce::StringArray ({ "loaded", "enabled", "editorOpen", "editRevision",
        "processedBlocks", "inputPeakDb", "outputPeakDb", "warmupMs", "maxProcessMs" }));

    rack.audioFault = true;
    const auto faulted = vantrel::buildAudioDiagnostics (state, statistics, rack, juce::Time::getCurrentTime());
    auto withGaps = expected;
    withGaps.insert (expected.indexOf ("vstFaultReason"), "recentCallbackGapsUs");
    EXPECT_EQ (keysOf (faulted), withGaps);
    const auto* gaps = faulted["recentCallbackGapsUs"].getArray();
    ASSERT_NE (gaps, nullptr);
    ASSERT_EQ (gaps->size(), 10);
    EXPECT_EQ (static_cast<juce::int64> ((*gaps)[0]), 0);
    EXPECT_EQ (static_cast<juce::int64> ((*gaps)[9]), 10666);
}

TEST (AudioDiagnostics, GapRingKeepsTheLatest128OldestFirst)
{
    CallbackStatistics statistics;
    int64_t clock = 1000000;
    for (int i = 1; i <= 300; ++i)
    {
        clock += i;   // gap i for callback i (the first records 0)
        statistics.recordCallback (clock, 1, 48000.0);
    }
    const auto gaps = statistics.recentGaps();
    ASSERT_EQ (gaps.size(), 128u);
    for (size_t i = 0; i < gaps.size(); ++i)
        EXPECT_EQ (gaps[i], static_cast<int64_t> (300 - 128 + 1 + i));
}

TEST (AudioDiagnostics, CallbackTimingCountsLongGapsBurstsAndOverruns)
{
    CallbackStatistics statistics;
    int64_t clock = 1000000;
    feedRegularCallbacks (statistics, 3, clock);
    EXPECT_EQ (statistics.maxCallbackBurstFrames.load(), 512);

    // A driver that delivers three blocks at once: two fast callbacks, a burst of 1536 frames.
    for (int i = 0; i < 2; ++i)
    {
        clock += 50;
        statistics.recordCallback (clock, 512, 48000.0);
    }
    EXPECT_EQ (statistics.fastCallbacks.load(), 2);
    EXPECT_EQ (statistics.maxCallbackBurstFrames.load(), 1536);

    // A stall of 200 ms is a long gap; the 4-block limit (42 ms) counts when it is above 100 ms.
    clock += 200000;
    auto period = statistics.recordCallback (clock, 512, 48000.0);
    EXPECT_EQ (period, 10666u);
    EXPECT_EQ (statistics.callbackLongGaps.load(), 1);
    EXPECT_EQ (statistics.maxCallbackGapMicros.load(), 200000);
    clock += 60000;
    statistics.recordCallback (clock, 512, 48000.0);
    EXPECT_EQ (statistics.callbackLongGaps.load(), 1);

    statistics.recordRender (10667, period);
    statistics.recordRender (10666, period);
    EXPECT_EQ (statistics.callbackBudgetOverruns.load(), 1);
    EXPECT_EQ (statistics.maxRenderMicros.load(), 10667);

    // After a start the first callback records no gap and is not fast.
    statistics.forgetLastCallbackTime();
    const auto fastBefore = statistics.fastCallbacks.load();
    statistics.recordCallback (clock + 1, 512, 48000.0);
    EXPECT_EQ (statistics.recentGaps().back(), 0);
    EXPECT_EQ (statistics.fastCallbacks.load(), fastBefore);
}

class DiagnosticsWriterTest : public ::testing::Test
{
protected:
    juce::File folder = juce::File::createTempFile ("diagnostics");
    juce::File file = folder.getChildFile ("audio-diagnostics.json");
    int builds = 0;

    void SetUp() override     { ASSERT_TRUE (folder.createDirectory()); }
    void TearDown() override  { folder.deleteRecursively(); }

    /** Counts the snapshots; each build writes the number of its snapshot. */
    std::function<vantrel::DiagnosticsWriter::Build()> builder()
    {
        return [this] {
            const int build = ++builds;
            return vantrel::DiagnosticsWriter::Build ([build] {
                auto* object = new juce::DynamicObject();
                object->setProperty ("build", build);
                return juce::var (object);
            });
        };
    }
};

TEST_F (DiagnosticsWriterTest, WritesEveryFiveSecondsOfTheCounterOnly)
{
    vantrel::DiagnosticsWriter writer;
    writer.setPath (file);
    EXPECT_TRUE (writer.tick (10000, builder()));
    writer.waitUntilIdle();
    EXPECT_EQ (static_cast<int> (juce::JSON::parse (file)["build"]), 1);

    EXPECT_FALSE (writer.tick (14999, builder()));
    EXPECT_TRUE (writer.tick (15000, builder()));
    // A counter behind the last write is not due; across the 32-bit wrap the signed difference
    // still measures 5 s.
    EXPECT_FALSE (writer.tick (14000, builder()));
    EXPECT_TRUE (writer.tick (0x7fffff00u, builder()));
    EXPECT_TRUE (writer.tick (0xfffffe00u, builder()));
    EXPECT_FALSE (writer.tick (0xfffffe00u + 4999u, builder()));
    EXPECT_TRUE (writer.tick (0xfffffe00u + 5000u, builder()));
    writer.waitUntilIdle();
    EXPECT_EQ (builds, 5);
    EXPECT_EQ (static_cast<int> (juce::JSON::parse (file)["build"]), 5);
    EXPECT_TRUE (file.getSiblingFile ("audio-diagnostics.json.bak").existsAsFile());
}

TEST_F (DiagnosticsWriterTest, TheCallerOnlyCopiesTheFiguresTheWriterBuildsTheDocument)
{
    vantrel::DiagnosticsWriter writer;
    writer.setPath (file);
    const auto caller = std::this_thread::get_id();
    std::thread::id snapshotThread, buildThread;
    EXPECT_TRUE (writer.tick (10000, [&] {
        snapshotThread = std::this_thread::get_id();
        return vantrel::DiagnosticsWriter::Build ([&] {
            buildThread = std::this_thread::get_id();
            auto* object = new juce::DynamicObject();
            object->setProperty ("built", true);
            return juce::var (object);
        });
    }));
    writer.waitUntilIdle();
    EXPECT_EQ (snapshotThread, caller);
    EXPECT_NE (buildThread, caller);
    EXPECT_TRUE (static_cast<bool> (juce::JSON::parse (file)["built"]));
}

TEST_F (DiagnosticsWriterTest, NoPathWritesNothingAndAFailedWriteIsRetriedNextPeriod)
{
    {
        vantrel::DiagnosticsWriter writer;
        EXPECT_FALSE (writer.tick (10000, builder()));
        EXPECT_EQ (builds, 0);
    }
    vantrel::DiagnosticsWriter writer;
    writer.setPath (file);
    ASSERT_TRUE (file.getChildFile ("blocking").create().wasOk());   // a non-empty folder in the way
    EXPECT_TRUE (writer.tick (10000, builder()));
    writer.waitUntilIdle();
    EXPECT_TRUE (file.isDirectory());

    ASSERT_TRUE (file.deleteRecursively());
    EXPECT_FALSE (writer.tick (11000, builder()));
    EXPECT_TRUE (writer.tick (15000, builder()));
    writer.waitUntilIdle();
    EXPECT_EQ (static_cast<int> (juce::JSON::parse (file)["build"]), 2);
}
} // namespace
