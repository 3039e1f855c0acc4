#pragma once

#include "support/TestFiles.h"
#include "support/WaitUntil.h"
#include "audio/rack/MasterVstRack.h"
#include "audio/rack/RackConfigFile.h"
#include "audio/rack/VstPaths.h"
#include "audio/rack/VstWorkerClient.h"
#include "platform/ProcessControl.h"
#include "platform/ThreadContract.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::rack_testing
{
using vantrel::testing::TempFolder;
using vantrel::testing::ja;

inline juce::File realWorker()       { return juce::File (ORVANE_TEST_WORKER); }
inline juce::File fakeWorkerProgram() { return juce::File (ORVANE_TEST_FAKE_WORKER); }
inline juce::File probeBundle (const char* name = "OrvaneProbe")
{
    return juce::File (ORVANE_TEST_PROBE_BUNDLES).getChildFile (juce::String (name) + ".vst3");
}
inline juce::File hangBundle()        { return juce::File (ORVANE_TEST_HANG_BUNDLE); }
inline juce::File crashBundle()       { return juce::File (ORVANE_TEST_CRASH_BUNDLE); }
inline juce::File gainBundle()
{
    return juce::File (ORVANE_TEST_GAIN_LIBRARY).getParentDirectory().getParentDirectory().getParentDirectory();
}

/** The JUCE delay plug-in's bundle: 4800 samples of audio held inside it (tests/app/plugins). */
inline juce::File delayBundle()
{
    return juce::File (ORVANE_TEST_DELAY_LIBRARY).getParentDirectory().getParentDirectory().getParentDirectory();
}

/** The class id of a probe kind (see the worker's test module). */
inline juce::String probeClassId (unsigned kind)
{
    return juce::String ("4F525650524F424500000000") + juce::String::toHexString ((int) kind).paddedLeft ('0', 8).toUpperCase();
}

/** The fake worker's class id for a behaviour code and a latency. */
inline juce::String fakeClassId (unsigned behaviour, unsigned latency = 0)
{
    const auto hex8 = [] (unsigned v) { return juce::String::toHexString ((int) v).paddedLeft ('0', 8).toUpperCase(); };
    return "FA4E0000" + hex8 (latency) + "00000000" + hex8 (behaviour);
}

/** The id of the JUCE gain plug-in's "Gain" parameter in a worker that has it loaded; "" when
    the listing does not hold it. */
inline juce::String gainParameterId (VstWorkerClient& client)
{
    std::vector<juce::String> lines;
    juce::String error;

    if (client.command ("PARAMS", lines, error, 5000))
        for (const auto& line : lines)
        {
            const auto fields = juce::StringArray::fromTokens (line, "\t", "");

            if (fields.size() >= 3 && fields[0] == "PARAM" && fields[2] == "Gain")
                return fields[1];
        }

    return {};
}

/** The class id of the one plug-in in `bundle`, from a scan by the real worker. */
inline juce::String classIdIn (const juce::File& bundle)
{
    VstWorkerClient client;
    std::vector<juce::String> lines;
    juce::String error;

    if (! client.start (realWorker(), error)
        || ! client.command ("SCAN_VST3\t" + bundle.getFullPathName(), lines, error, 7000) || lines.size() != 2)
        return {};

    return juce::StringArray::fromTokens (lines[0], "\t", "")[1];
}

/** The gain plug-in's class id. */
inline juce::String gainClassId() { return classIdIn (gainBundle()); }

/** The state text the real worker saves for the gain plug-in with its parameter at `normalised`
    (gain = 2 x normalised); "" on failure. */
inline juce::String gainStateHex (double normalised)
{
    const auto uid = gainClassId();
    VstWorkerClient client;
    std::vector<juce::String> lines;
    juce::String error;

    if (uid.isEmpty() || ! client.start (realWorker(), error)
        || ! client.command ("LOAD_VST3\t" + gainBundle().getFullPathName() + "\t" + uid, lines, error, 7000)
        || ! client.command ("CONFIG\t48000\t2\t512\trealtime", lines, error, 5000))
        return {};

    const auto parameter = gainParameterId (client);

    if (parameter.isEmpty() || ! client.command ("SET_PARAM\t" + parameter + "\t" + juce::String (normalised, 6), lines, error, 5000)
        || ! client.command ("SAVE_STATE", lines, error, 5000))
        return {};

    return lines.back().substring (3);
}

/** Behaviour codes of the fake worker (tests/audio/rack/fixtures/FakeVstWorker.cpp). */
enum FakeBehaviour : unsigned
{
    fakeGain = 1, fakeExitAfterHeader, fakeExitMidPayload, fakeExitBeforeReply, fakeHang, fakeStopSelf,
    fakeWrongTag, fakeNanPayload, fakeGarbage, fakeSlow, fakeBigState, fakeMidState, fakeLatencyTooBig,
    fakeLiveStatusHang, fakeEdits, fakeFailLoad, fakeLatencyChange, fakeNoState, fakeScanHang, fakeHeldSave,
    fakeHeldFailLoad, fakeReloadAlways, fakeFailRestart
};

/** Polls `condition` every millisecond until it holds or `limitMs` passes; true when it held
    (it is asked once more after the limit, so a thread that was not scheduled for a while does
    not miss a condition that came true meanwhile). */
inline bool eventually (const std::function<bool()>& condition, int limitMs = 60000)
{
    return vantrel::testing::waitUntil (condition, std::chrono::milliseconds (limitMs));
}

/** A folder holding links to the fake worker under chosen names (the name picks its start-up
    behaviour) and a "pids" folder where the workers note their process ids. While the folder
    holds its "hold" file, a fake worker of the held behaviours (fakeHeldSave's SAVE_STATE,
    fakeHeldFailLoad's LOAD_VST3) waits in that command after creating the file "held". */
class FakeWorkerFolder
{
public:
    FakeWorkerFolder() { (folder / "pids").createDirectory(); }

    /** Held commands wait from now on, until release(). */
    void hold() const
    {
        (folder / "held").deleteFile();
        (folder / "hold").create();
    }

    void release() const { (folder / "hold").deleteFile(); }

    /** Waits until a worker waits in a held command. */
    bool waitUntilHeld (int limitMs = 60000) const
    {
        return eventually ([this] { return (folder / "held").existsAsFile(); }, limitMs);
    }

    /** The fake worker started as "FakeVstWorker-<mode>" (mode empty: plain). */
    juce::File worker (const juce::String& mode = {}) const
    {
        const auto name = mode.isEmpty() ? juce::String ("FakeVstWorker") : "FakeVstWorker-" + mode;
        const auto link = folder / name;

        if (! link.exists())
            fakeWorkerProgram().createSymbolicLink (link, true);

        return link;
    }

    /** The process ids of the fake workers that have run from here, with the class they loaded
        and the rate they were configured with ("uid\trate"). */
    std::map<int, std::string> pids() const
    {
        std::map<int, std::string> result;

        for (const auto& entry : juce::RangedDirectoryIterator (folder / "pids", false, "*", juce::File::findFiles))
            result[entry.getFile().getFileName().getIntValue()] = entry.getFile().loadFileAsString().toStdString();

        return result;
    }

    /** The id of a running fake worker that loaded `uid`, or 0. */
    int pidOf (const juce::String& uid) const
    {
        for (const auto& [pid, loaded] : pids())
            if (loaded.substr (0, loaded.find ('\t')) == uid.toStdString() && platform::processState (pid) != 0
                && platform::processState (pid) != 'Z')
                return pid;

        return 0;
    }

    /** The rate the running fake worker that loaded `uid` was configured with, or "". */
    juce::String rateOf (const juce::String& uid) const
    {
        const auto pid = pidOf (uid);
        const auto all = pids();
        const auto found = all.find (pid);

        if (pid == 0 || found == all.end())
            return {};

        return juce::String (found->second).fromFirstOccurrenceOf ("\t", false, false);
    }

    const juce::File& path() const { return folder.path(); }

private:
    TempFolder folder { "fake-worker" };
};

/** Child processes of this test process that have ended but were never reaped. */
inline std::vector<int> zombieChildren()
{
    std::vector<int> zombies;

    for (auto pid : platform::childProcessIds (platform::currentProcessId()))
        if (platform::processState (pid) == 'Z')
            zombies.push_back (pid);

    return zombies;
}

/** Waits until the rack's control thread has been through a whole pass of its loop that began
    after this call: whatever that pass would do (an automatic save, one queued request) is done.
    An idle control thread sleeps until asked, so it is woken for the passes. */
inline bool controlLoopPassed (MasterVstRack& rack, int limitMs = 60000)
{
    const auto start = rack.controlPasses();

    return eventually (
        [&]
        {
            rack.wakeControlThread();
            return rack.controlPasses() >= start + 2;
        },
        limitMs);
}

/** Milliseconds taken by `action`. */
inline double millisecondsOf (const std::function<void()>& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();
}
/** A clock the test moves by hand: the rack's status polls and automatic saves follow it. It can
    also hold the threads that read it (the control thread reads it in every pass), with no
    deadline: hold(), waitUntilHolding(), release(). */
class ManualClock
{
public:
    MasterVstRack::Clock clock()
    {
        return [this]
        {
            waitWhileHeld();
            return nanos.load();
        };
    }

    void advanceMs (int ms) { nanos += std::int64_t { ms } * 1000000; }

    /** From now on a thread that reads the clock waits there until release(). */
    void hold()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        held = true;
    }

    /** Waits until a thread waits at the held clock. */
    bool waitUntilHolding (int limitMs = 60000)
    {
        std::unique_lock<std::mutex> lock (mutex);
        return changed.wait_for (lock, std::chrono::milliseconds (limitMs), [this] { return waiting > 0; });
    }

    void release()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        held = false;
        changed.notify_all();
    }

private:
    void waitWhileHeld()
    {
        std::unique_lock<std::mutex> lock (mutex);

        if (! held)
            return;

        ++waiting;
        changed.notify_all();
        changed.wait (lock, [this] { return ! held; });
        --waiting;
    }

    std::atomic<std::int64_t> nanos { std::int64_t { 1 } << 40 };
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    int waiting = 0;
};

/** A rack with its settings file in a private profile, a search folder of fake bundles and
    the fake worker. The rack scans no folder of the machine's own. Its workers share the machine
    with many tests: the exchanges that move whole plug-in states (or that a test holds) get the
    longest deadline a command can have, status polls and blocks a long one (a test of a hung
    worker waits for that deadline). */
class RackFixture
{
public:
    static constexpr int liveStatusTimeoutMs = 5000;

    RackFixture()
    {
        pluginFolder().createDirectory();
        options.standardFolders = juce::StringArray();
        options.loadTimeoutMs = workerBounds::maxCommandTimeoutMs;
        options.stateTimeoutMs = workerBounds::maxCommandTimeoutMs;
        options.liveStatusTimeoutMs = liveStatusTimeoutMs;
        options.blockTimeoutMs = workerBounds::maxBlockTimeoutMs;
        options.saveWaitMs = 10 * workerBounds::maxCommandTimeoutMs;
    }

    ~RackFixture()
    {
        // A worker or the clock a test still holds must not hold up the rack's end.
        fake.release();
        clock.release();

        if (rack != nullptr)
            rack->stop();
    }

    juce::File configFile() const { return folder / "local/master-vst.json"; }
    juce::File pluginFolder() const { return folder / "plugins"; }

    /** An (empty) bundle folder that the fake worker's scan answers for by its name. */
    void addBundle (const juce::String& name) const { (pluginFolder().getChildFile (name + ".vst3")).createDirectory(); }

    /** Writes the settings file with these slots and the plug-in folder as the one search folder. */
    void writeConfig (const VstRackSlot& slot0, const VstRackSlot& slot1 = {}) const
    {
        RackConfigContents contents;
        contents.slots = { slot0, slot1 };
        contents.searchFolders.add (normalizeVstPath (pluginFolder()));
        writeRackConfig (configFile(), contents);
    }

    /** Prepares the bridge and starts the rack (the fake worker unless another worker is given). */
    void start (const juce::File& worker = {}, double rate = 48000.0, int deviceBlock = 512)
    {
        rack = std::make_unique<MasterVstRack> (clock.clock(), options);
        rack->prepare (rate, deviceBlock);
        rack->start (configFile(), worker == juce::File() ? fake.worker() : worker);
    }

    /** Waits for the first catalogue and the initial load. */
    bool waitForCatalogue (std::uint64_t generation = 1, int limitMs = 60000)
    {
        return eventually ([&] { return rack->catalogueGeneration() >= generation && ! rack->isBusy(); }, limitMs);
    }

    /** Waits until no request, load or reload is under way. */
    bool waitIdle (int limitMs = 60000)
    {
        return eventually ([&] { return ! rack->isBusy(); }, limitMs);
    }

    VstRackStatus status() const { return rack->status(); }

    /** The settings file's slots as they are on the disk now. Read from a copy: reading the file
        itself removes its temporary siblings, as the program does once at its start, and would
        break a save that the rack makes meanwhile. */
    RackConfigContents stored() const
    {
        RackConfigContents contents;
        const auto copy = folder / "stored-copy/master-vst.json";
        copy.getParentDirectory().createDirectory();

        if (configFile().existsAsFile() && configFile().copyFileTo (copy))
            readRackConfig (copy, contents);

        return contents;
    }

    TempFolder folder { "rack" };
    FakeWorkerFolder fake;
    ManualClock clock;
    MasterVstRackOptions options;   // taken by start()
    std::unique_ptr<MasterVstRack> rack;
};

/** Runs one device block through the rack as the device callback does: on a thread that has
    taken the audio role for the call. */
inline void processAsDevice (MasterVstRack& rack, float* const* channels, int numChannels, int numSamples)
{
    const ThreadRoleScope audioRole (ThreadRole::audio);
    rack.processBlock (channels, numChannels, numSamples);
}

/** Feeds the master bus through a rack in device blocks and keeps what went in and came out.
    The input is positive and never repeats for long (left), its negative half (right). */
class BridgeDriver
{
public:
    BridgeDriver (MasterVstRack& rackToDrive, int blockSizeToUse) : rack (rackToDrive), blockSize (blockSizeToUse) {}

    static float signal (std::int64_t n) { return 0.1f + (float) ((n * 7919) % 1000) / 1000.0f; }

    /** Feeds `frames` frames. With `waitForExchange`, after each device block waits until the
        control thread has taken every block sent (so none is late); false when it did not. */
    bool feed (std::int64_t frames, bool waitForExchange = true, const std::function<float (std::int64_t)>& input = signal)
    {
        std::vector<float> left ((size_t) blockSize), right ((size_t) blockSize);

        for (std::int64_t done = 0; done < frames;)
        {
            const auto count = (int) std::min<std::int64_t> (blockSize, frames - done);

            for (int i = 0; i < count; ++i)
            {
                left[(size_t) i] = input (position + i);
                right[(size_t) i] = -0.5f * left[(size_t) i];
                inL.push_back (left[(size_t) i]);
                inR.push_back (right[(size_t) i]);
            }

            float* channels[] = { left.data(), right.data() };
            processAsDevice (rack, channels, 2, count);
            outL.insert (outL.end(), left.begin(), left.begin() + count);
            outR.insert (outR.end(), right.begin(), right.begin() + count);
            position += count;
            done += count;

            if (waitForExchange && ! eventually ([&] { return rack.blocksTaken() >= rack.blocksSent(); }, 60000))
                return false;
        }

        return true;
    }

    /** The largest difference between the output and gain x the input `delay` frames earlier,
        over frames [from, to) (both channels). */
    double deviation (std::int64_t from, std::int64_t to, std::int64_t delay, float gain) const
    {
        double worst = 0.0;

        for (auto n = std::max<std::int64_t> (from, 0); n < std::min<std::int64_t> (to, position); ++n)
        {
            const auto l = n >= delay ? gain * inL[(size_t) (n - delay)] : 0.0f;
            const auto r = n >= delay ? gain * inR[(size_t) (n - delay)] : 0.0f;
            worst = std::max (worst, (double) std::fabs (outL[(size_t) n] - l));
            worst = std::max (worst, (double) std::fabs (outR[(size_t) n] - r));
        }

        return worst;
    }

    MasterVstRack& rack;
    int blockSize;
    std::int64_t position = 0;
    std::vector<float> inL, inR, outL, outR;
};

inline VstRackSlot slotWith (const juce::String& uid, bool enabled, const juce::String& stateHex = {})
{
    VstRackSlot slot;
    slot.uid = uid;
    slot.enabled = enabled;
    slot.stateHex = stateHex;
    return slot;
}
} // namespace vantrel::rack_testing
