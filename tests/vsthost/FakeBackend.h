#pragma once

#include "vsthost/PluginBackend.h"
#include "vsthost/WorkerProtocol.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vsthost_test
{
/** A scripted plug-in backend for in-process protocol tests: it records every call and answers
    with the results a test sets. process multiplies by `gain` and records each chunk's size. */
class FakeBackend final : public orvane::vsthost::PluginBackend
{
public:
    using ProcessResult = orvane::vsthost::ProcessResult;

    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::uint32_t> chunkFrames;
    orvane::vsthost::ProcessConfig lastConfig;
    orvane::vsthost::BackendInfo infoToReport { "0123456789ABCDEF0123456789ABCDEF", "Fake\tName", "Fake\nVendor", "1.0", 64, 32, false };
    std::vector<orvane::vsthost::ParameterRecord> parameterRecords;
    std::map<std::string, ProcessResult> results;   // by operation name
    std::string stateText = "4f5653543353320000000000000000000";
    float gain = 2.0f;
    std::uint64_t changes = 0;
    bool editorOpen = false;
    bool throwOnInfo = false;
    std::function<void()> onDestroy;

    ~FakeBackend() override
    {
        if (onDestroy)
            onDestroy();
    }

    ProcessResult resultOf (const std::string& operation, std::string detail = {});

    orvane::vsthost::BackendInfo info() override;
    ProcessResult configure (const orvane::vsthost::ProcessConfig& config) override;
    ProcessResult setBypass (bool bypass) override { return resultOf ("setBypass", bypass ? "1" : "0"); }
    bool isBypassed() override { return false; }
    ProcessResult process (orvane::vsthost::ProcessBlock& block) override;
    ProcessResult serviceEditor() override { return resultOf ("serviceEditor"); }
    std::string saveState() override;
    ProcessResult loadState (const std::string& hex) override { return resultOf ("loadState", hex); }
    ProcessResult resetSeek() override { return resultOf ("resetSeek"); }
    std::vector<orvane::vsthost::ParameterRecord> parameters() override { return parameterRecords; }
    ProcessResult setParameter (std::uint32_t id, double normalized) override;
    ProcessResult flushParameters() override { return resultOf ("flushParameters"); }
    ProcessResult serviceControl() override { return resultOf ("serviceControl"); }
    std::optional<double> parameterValue (std::uint32_t) override { return std::nullopt; }
    ProcessResult probeNativeEditor() override { return resultOf ("probeNativeEditor"); }
    ProcessResult openNativeEditor (const std::string& title) override { return resultOf ("openNativeEditor", title); }
    ProcessResult closeNativeEditor() override { return resultOf ("closeNativeEditor"); }
    ProcessResult pumpEditorMessages() override { return resultOf ("pumpEditorMessages"); }
    bool isEditorOpen() override { return editorOpen; }
    std::uint64_t changeCount() override { return changes; }
    ProcessResult showNativeEditor (const std::string& title) override { return resultOf ("showNativeEditor", title); }
    void serviceIdle() override {}
    bool reloadRequested() override { return false; }
};

/** runProtocol over strings, with the UI thread simulated by running jobs in place; posted
    jobs are kept until runPosted(). A FakeBackend is loaded by "LOAD_VST3" with any path and
    the class id "0123456789ABCDEF0123456789ABCDEF"; other ids fail with "no such class". */
class ProtocolHarness
{
public:
    ProtocolHarness();

    /** Runs the whole input through the protocol; returns the output. The protocol's result
        is kept in `result`. */
    std::string run (const std::string& input);
    void runPosted();

    orvane::vsthost::BackendSlot slot;
    orvane::vsthost::LiveStatus liveStatus;
    FakeBackend* backend = nullptr;   // the last one loaded (owned by the slot)
    std::vector<std::function<void()>> posted;
    std::function<void (FakeBackend&)> prepareLoaded;
    int loads = 0;
    int result = -1;
    bool postFails = false;   // the asynchronous way refuses, as after the UI loop ended

private:
    orvane::vsthost::ProtocolServices services;
};
} // namespace vsthost_test
