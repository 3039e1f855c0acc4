#include "FakeBackend.h"

#include "platform/ThreadContract.h"

#include <sstream>
#include <stdexcept>

namespace vsthost_test
{
using namespace orvane::vsthost;

ProcessResult FakeBackend::resultOf (const std::string& operation, std::string detail)
{
    const std::lock_guard<std::mutex> lock (mutex);
    calls.push_back (detail.empty() ? operation : operation + " " + detail);
    const auto found = results.find (operation);
    return found == results.end() ? ProcessResult::success() : found->second;
}

BackendInfo FakeBackend::info()
{
    if (throwOnInfo)
        throw std::runtime_error ("info\texploded\non two lines");

    return infoToReport;
}

ProcessResult FakeBackend::configure (const ProcessConfig& config)
{
    lastConfig = config;
    return resultOf ("configure");
}

ProcessResult FakeBackend::process (ProcessBlock& block)
{
    auto result = resultOf ("process", std::to_string (block.frames));

    if (! result.ok)
        return result;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        chunkFrames.push_back (block.frames);
    }

    for (auto& sample : block.samples)
        sample *= gain;

    return result;
}

std::string FakeBackend::saveState()
{
    resultOf ("saveState");
    return stateText;
}

ProcessResult FakeBackend::setParameter (std::uint32_t id, double normalized)
{
    std::ostringstream detail;
    detail << id << " " << normalized;
    return resultOf ("setParameter", detail.str());
}

ProtocolHarness::ProtocolHarness()
{
    services.loadBackend = [this] (const std::string&, const std::string& classId, std::string& error) -> BackendSlot
    {
        if (classId != "0123456789ABCDEF0123456789ABCDEF")
        {
            error = "no such class";
            return nullptr;
        }

        auto loaded = std::make_unique<FakeBackend>();
        backend = loaded.get();
        ++loads;

        if (prepareLoaded)
            prepareLoaded (*loaded);

        return loaded;
    };

    services.scanModule = [] (const std::string& path, std::string& error)
    {
        std::vector<ClassRecord> records;

        if (path == "empty")
            return records;

        if (path == "broken")
        {
            error = "dlopen failed: line one\nline two";
            return records;
        }

        records.push_back ({ "0123456789ABCDEF0123456789ABCDEF", "Name\twith tab", "Vendor", "1.0", "Fx|Dynamics" });
        return records;
    };
}

std::string ProtocolHarness::run (const std::string& input)
{
    std::istringstream in (input);
    std::ostringstream out;
    // This thread plays the protocol thread, and the UI thread while a synchronous job runs.
    const UiInvoker sync = [] (std::function<void()> job)
    {
        const vantrel::ThreadRoleScope uiRole (vantrel::ThreadRole::message);
        job();
    };
    const UiInvoker async = [this] (std::function<void()> job)
    {
        if (postFails)
            throw std::runtime_error ("VST UI dispatcher unavailable");

        posted.push_back (std::move (job));
    };
    const vantrel::ThreadRoleScope protocolRole (vantrel::ThreadRole::protocol);
    result = runProtocol (in, out, slot, sync, async, liveStatus, services);
    return out.str();
}

void ProtocolHarness::runPosted()
{
    auto jobs = std::move (posted);
    posted.clear();

    for (auto& job : jobs)
        job();
}
} // namespace vsthost_test
