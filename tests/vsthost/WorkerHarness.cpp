#include "WorkerHarness.h"

#include "support/WaitUntil.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vsthost_test
{
namespace fs = std::filesystem;

std::string workerPath()
{
    return ORVANE_TEST_WORKER;
}

std::string probeBundle (const std::string& variant)
{
    return (fs::path (ORVANE_TEST_PROBE_BUNDLES) / (variant + ".vst3")).string();
}

std::string gainBundle()
{
    // The library sits at NAME.vst3/Contents/<machine>-linux/NAME.so.
    return fs::path (ORVANE_TEST_GAIN_LIBRARY).parent_path().parent_path().parent_path().string();
}

TempFolder::TempFolder()
{
    static std::atomic<int> counter { 0 };
    std::random_device random;
    folder = fs::temp_directory_path()
           / ("vsthost-test-" + std::to_string (random()) + "-" + std::to_string (counter++));
    fs::create_directories (folder);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::remove_all (folder, ignored);
}

std::vector<std::string> tabFields (const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;

    for (;;)
    {
        const auto tab = line.find ('\t', start);
        fields.push_back (line.substr (start, tab == std::string::npos ? std::string::npos : tab - start));

        if (tab == std::string::npos)
            return fields;

        start = tab + 1;
    }
}

std::string WorkerSession::Reply::error() const
{
    if (lines.empty() || lines.back().rfind ("ERR\t", 0) != 0)
        return {};

    return lines.back().substr (4);
}

std::vector<std::string> WorkerSession::Reply::fields() const
{
    return lines.empty() ? std::vector<std::string> {} : tabFields (lines.back());
}

WorkerSession::WorkerSession()
    : WorkerSession (Options {})
{
}

WorkerSession::WorkerSession (const Options& options)
{
    vantrel::platform::PipedProcess::Options start;
    start.program = workerPath();
    start.arguments = options.arguments;
    start.environment = options.environment;
    start.environment.push_back ({ "ORVANE_PROBE_LOG", probeLogPath() });
    start.environment.push_back ({ "ORVANE_PROBE_GATE", probeGatePath() });
    start.unsetEnvironment = options.unsetEnvironment;
    start.standardErrorPath = temp.file ("stderr.txt");
    std::string error;

    if (! process_.start (start, error))
        throw std::runtime_error ("worker did not start: " + error);
}

std::vector<std::string> WorkerSession::probeLog() const
{
    std::vector<std::string> lines;
    std::ifstream file (probeLogPath());

    for (std::string line; std::getline (file, line);)
        lines.push_back (line);

    return lines;
}

bool WorkerSession::waitForProbeLog (const std::string& text, int timeoutMs) const
{
    const auto logged = [&] {
        const auto lines = probeLog();
        return std::any_of (lines.begin(), lines.end(), [&] (const std::string& line) { return line.find (text) != std::string::npos; });
    };
    return vantrel::testing::waitUntil (logged, std::chrono::milliseconds (timeoutMs), std::chrono::milliseconds (2));
}

std::string WorkerSession::standardError() const
{
    std::ifstream file (temp.file ("stderr.txt"));
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WorkerSession::send (const std::string& bytes, int timeoutMs)
{
    sendBytes (bytes.data(), bytes.size(), timeoutMs);
}

void WorkerSession::sendBytes (const void* data, std::size_t size, int timeoutMs)
{
    process_.writeAll (data, size, timeoutMs);
}

std::string WorkerSession::readLine (int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    // Only what arrived since the last look is searched: a state line of tens of MiB comes in
    // pipe-sized pieces, and searching it all again for each piece costs quadratic time.
    std::size_t searched = 0;

    for (;;)
    {
        const auto lf = buffered.find ('\n', searched);

        if (lf != std::string::npos)
        {
            auto line = buffered.substr (0, lf);
            buffered.erase (0, lf + 1);

            if (! line.empty() && line.back() == '\r')
                line.pop_back();

            return line;
        }

        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();

        if (left <= 0)
            return "<timeout>";

        searched = buffered.size();
        char chunk[65536];
        const auto got = process_.readSome (chunk, sizeof (chunk), static_cast<int> (left));

        if (got == 0)
            return "<eof>";

        if (got < 0)
            return "<timeout>";

        buffered.append (chunk, static_cast<std::size_t> (got));
    }
}

bool WorkerSession::readExact (void* destination, std::size_t size, int timeoutMs)
{
    auto* bytes = static_cast<char*> (destination);
    const auto fromBuffer = std::min (size, buffered.size());
    std::memcpy (bytes, buffered.data(), fromBuffer);
    buffered.erase (0, fromBuffer);
    std::size_t done = fromBuffer;

    while (done < size)
    {
        const auto got = process_.readSome (bytes + done, size - done, timeoutMs);

        if (got <= 0)
            return false;

        done += static_cast<std::size_t> (got);
    }

    return true;
}

WorkerSession::Reply WorkerSession::command (const std::string& line, int timeoutMs)
{
    send (line + "\n", timeoutMs);
    Reply reply;

    for (;;)
    {
        reply.lines.push_back (readLine (timeoutMs));
        const auto& last = reply.lines.back();

        if (last.rfind ("CLASS\t", 0) == 0 || last.rfind ("PARAM\t", 0) == 0)
            continue;

        return reply;
    }
}

WorkerSession::Block WorkerSession::process (const std::string& tag, std::uint32_t frames, const std::vector<float>& samples,
                                             std::uint32_t channels)
{
    const auto bytes = samples.size() * sizeof (float);
    send ("PROCESS_F32_BUFFER\t" + tag + "\t" + std::to_string (frames) + "\t" + std::to_string (channels) + "\t"
          + std::to_string (bytes) + "\n");
    sendBytes (samples.data(), bytes);

    Block block;
    block.header = readLine();

    if (block.header != "BINARY\t" + tag + "\t" + std::to_string (bytes))
        return block;

    block.samples.resize (samples.size());

    if (! readExact (block.samples.data(), bytes))
        return block;

    block.trailer = readLine();
    block.ok = block.trailer == "OK\t" + tag + "\t" + std::to_string (samples.size());
    return block;
}

vantrel::platform::ChildExit WorkerSession::finish (int timeoutMs)
{
    process_.closeInput();
    return process_.wait (timeoutMs);
}

std::vector<float> testSignal (std::uint32_t frames, std::uint32_t seed)
{
    std::vector<float> samples (static_cast<std::size_t> (frames) * 2);

    for (std::size_t i = 0; i < samples.size(); ++i)
    {
        const auto step = static_cast<int> ((i * 7919u + seed * 104729u) % 2001u) - 1000;
        samples[i] = static_cast<float> (step) / 1024.0f;   // exact in float, within [-1, 1]
    }

    return samples;
}
} // namespace vsthost_test
