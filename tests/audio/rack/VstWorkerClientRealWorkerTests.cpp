// The worker client against the real OrvaneVstHost and the worker's test bundles: the commands
// the rack sends, in the order it sends them, and a plug-in that crashes the worker.
#include "RackTestSupport.h"

#include "audio/rack/VstWorkerClient.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

constexpr unsigned probeFxStereo = 1;
constexpr unsigned probeInstrument = 6;
constexpr unsigned probePrintsStdout = 21;
constexpr unsigned probeCrashInProcess = 22;

class RealWorker
{
public:
    RealWorker() { started = client.start (realWorker(), startError); }

    /** The reply's last line, or "ERR:" + the error. */
    juce::String run (const juce::String& line, int timeoutMs = 7000)
    {
        juce::String error;

        if (! client.command (line, lines, error, timeoutMs))
            return "ERR:" + error;

        return lines.back();
    }

    bool load (const juce::File& bundle, const juce::String& uid)
    {
        return run ("LOAD_VST3\t" + bundle.getFullPathName() + "\t" + uid) == "OK\t" + uid
            && run ("CONFIG\t48000\t2\t512\trealtime", 5000) == "OK";
    }

    VstWorkerClient client;
    bool started = false;
    juce::String startError;
    std::vector<juce::String> lines;
};

std::vector<float> sine (int frames)
{
    std::vector<float> samples (static_cast<std::size_t> (frames) * 2);

    for (int i = 0; i < frames; ++i)
    {
        samples[2 * (std::size_t) i] = 0.5f * std::sin (0.05f * (float) i);
        samples[2 * (std::size_t) i + 1] = -0.25f * std::sin (0.03f * (float) i);
    }

    return samples;
}

TEST (WorkerClientRealWorker, ScanListsTheAcceptedClassesOfABundle)
{
    RealWorker worker;
    ASSERT_TRUE (worker.started) << worker.startError;

    EXPECT_EQ (worker.run ("SCAN_VST3\t" + probeBundle().getFullPathName()).upToFirstOccurrenceOf ("\t", false, false), "OK");
    ASSERT_GE (worker.lines.size(), 2u);

    juce::StringArray ids;

    for (size_t i = 0; i + 1 < worker.lines.size(); ++i)
    {
        const auto fields = juce::StringArray::fromTokens (worker.lines[i], "\t", "");
        ASSERT_EQ (fields.size(), 6) << worker.lines[i];
        EXPECT_EQ (fields[0], "CLASS");
        ids.add (fields[1]);
    }

    EXPECT_TRUE (ids.contains (probeClassId (probeFxStereo)));
    EXPECT_FALSE (ids.contains (probeClassId (probeInstrument)));
    EXPECT_EQ (worker.lines.back(), "OK\t" + juce::String ((int) worker.lines.size() - 1));

    // A bundle without acceptable classes is refused, and the worker stays.
    EXPECT_TRUE (worker.run ("SCAN_VST3\t" + probeBundle ("OrvaneProbeRefused").getFullPathName()).startsWith ("ERR:"));
    EXPECT_TRUE (worker.client.isAlive());
}

TEST (WorkerClientRealWorker, GainPluginLoadsProcessesAndCarriesItsState)
{
    RealWorker worker;
    ASSERT_TRUE (worker.started) << worker.startError;

    EXPECT_EQ (worker.run ("SCAN_VST3\t" + gainBundle().getFullPathName()).upToFirstOccurrenceOf ("\t", false, false), "OK");
    ASSERT_EQ (worker.lines.size(), 2u);
    const auto uid = juce::StringArray::fromTokens (worker.lines[0], "\t", "")[1];

    ASSERT_TRUE (worker.load (gainBundle(), uid));
    const auto info = juce::StringArray::fromTokens (worker.run ("INFO", 1500), "\t", "");
    ASSERT_EQ (info.size(), 8);
    EXPECT_EQ (info[5], "128");

    // Unity gain: the block comes back unchanged.
    auto block = sine (512);
    const auto input = block;
    juce::String error;
    ASSERT_TRUE (worker.client.processF32 (block.data(), 512, 0, error, 1000)) << error;
    EXPECT_EQ (block, input);

    // Half gain (normalised 0.25 of 0..2), captured, and restored in a fresh worker.
    const auto parameter = gainParameterId (worker.client);
    ASSERT_TRUE (parameter.isNotEmpty());
    ASSERT_EQ (worker.run ("SET_PARAM\t" + parameter + "\t0.25"), "OK");
    const auto saved = worker.run ("SAVE_STATE", 5000);
    ASSERT_TRUE (saved.startsWith ("OK\t")) << saved;

    RealWorker fresh;
    ASSERT_TRUE (fresh.started);
    ASSERT_TRUE (fresh.load (gainBundle(), uid));
    EXPECT_EQ (fresh.run ("LOAD_STATE\t" + saved.substring (3), 5000), "OK");

    block = input;
    ASSERT_TRUE (fresh.client.processF32 (block.data(), 512, 1, error, 1000)) << error;

    for (size_t i = 0; i < block.size(); ++i)
        ASSERT_EQ (block[i], input[i] * 0.5f) << i;
}

TEST (WorkerClientRealWorker, APluginThatPrintsDoesNotDisturbTheProtocol)
{
    RealWorker worker;
    ASSERT_TRUE (worker.started);
    ASSERT_TRUE (worker.load (probeBundle(), probeClassId (probePrintsStdout)));

    for (std::uint64_t sequence = 0; sequence < 8; ++sequence)
    {
        auto block = sine (512);
        juce::String error;
        ASSERT_TRUE (worker.client.processF32 (block.data(), 512, sequence, error, 1000)) << error;
    }

    EXPECT_EQ (worker.run ("PING"), "OK\tORVANE_VST_HOST\t1");
}

TEST (WorkerClientRealWorker, APluginThatCrashesEndsTheExchangeNotTheProgram)
{
    RealWorker worker;
    ASSERT_TRUE (worker.started);
    ASSERT_TRUE (worker.load (probeBundle(), probeClassId (probeCrashInProcess)));
    const auto pid = worker.client.processId();

    auto block = sine (512);
    juce::String error;
    EXPECT_FALSE (worker.client.processF32 (block.data(), 512, 0, error, 1000));
    EXPECT_TRUE (error == "PROCESS_F32_BUFFER: VST worker exited" || error == "PROCESS_F32_BUFFER: VST worker exited or pipe failed") << error;
    EXPECT_FALSE (worker.client.isAlive());
    EXPECT_EQ (platform::processState (pid), 0);
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (WorkerClientRealWorker, AStateTooLargeForTheProgramIsRefusedAndTheWorkerStays)
{
    RealWorker worker;
    ASSERT_TRUE (worker.started);
    ASSERT_TRUE (worker.load (probeBundle(), probeClassId (probeFxStereo)));

    // About 17 MiB of state (the probe pads its state by the parameter's value x 32 MiB).
    ASSERT_EQ (worker.run ("SET_PARAM\t1\t" + juce::String (17.0 / 32.0, 6)), "OK");
    // The longest wait a command may have: a sanitizer build on a busy machine is slow to make
    // and send that much text, and a command that runs out of time stops the worker.
    EXPECT_TRUE (worker.run ("SAVE_STATE", workerBounds::maxCommandTimeoutMs).startsWith ("ERR:"));
    EXPECT_TRUE (worker.client.isAlive());
    EXPECT_EQ (worker.run ("PING"), "OK\tORVANE_VST_HOST\t1");
}
TEST (WorkerClientRealWorker, AWorkerThatFellOutOfStepEndsAndTheNextExchangeSaysSo)
{
    RealWorker worker;
    ASSERT_TRUE (worker.started);
    ASSERT_TRUE (worker.load (probeBundle(), probeClassId (probeFxStereo)));
    const auto pid = worker.client.processId();

    // A payload above the bound cannot be skipped: the worker refuses it and ends on its own.
    EXPECT_EQ (worker.run ("PROCESS_F32_BUFFER\t1\t1048576\t2\t8388609"), "ERR:process buffer too large");
    ASSERT_TRUE (eventually ([&] { return ! worker.client.isAlive(); }, 60000));

    // The next exchange reports the end once and cleans up; after that the client is stopped.
    EXPECT_EQ (worker.run ("PING"), juce::String ("ERR:") + workerText::exited);
    EXPECT_EQ (platform::processState (pid), 0);
    EXPECT_EQ (worker.run ("PING"), juce::String ("ERR:") + workerText::invalidCommand);
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (WorkerClientRealWorker, ABlockAfterAFailedLoadStopsTheWorker)
{
    RealWorker worker;
    ASSERT_TRUE (worker.started);
    EXPECT_TRUE (worker.run ("LOAD_VST3\t" + probeBundle().getFullPathName() + "\t" + probeClassId (probeInstrument)).startsWith ("ERR:"));
    EXPECT_TRUE (worker.client.isAlive());

    // The worker refuses the block (and drops its payload); the client wants the processed block
    // and ends the worker.
    auto block = sine (512);
    juce::String error;
    EXPECT_FALSE (worker.client.processF32 (block.data(), 512, 0, error, workerBounds::maxBlockTimeoutMs));
    EXPECT_EQ (error, juce::String (workerText::processPrefix) + workerText::headerMismatch);
    EXPECT_FALSE (worker.client.isAlive());
    EXPECT_TRUE (zombieChildren().empty());
}
} // namespace
