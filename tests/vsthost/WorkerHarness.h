#pragma once

#include "platform/PipedProcess.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vsthost_test
{
/** Where the built worker and test bundles are. */
std::string workerPath();
std::string probeBundle (const std::string& variant = "OrvaneProbe");
std::string gainBundle();

/** A private temporary folder, removed with everything in it on destruction. */
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& path() const { return folder; }
    std::string file (const std::string& name) const { return (folder / name).string(); }

private:
    std::filesystem::path folder;
};

/** One worker process and the conversation with it, as the main program holds it: command
    lines out, reply lines (CR dropped) back, raw float blocks both ways. Every read has a
    deadline; a missed deadline fails the read instead of hanging the test. */
class WorkerSession
{
public:
    struct Options
    {
        std::vector<std::string> arguments { "--worker" };
        std::vector<std::pair<std::string, std::string>> environment;
        std::vector<std::string> unsetEnvironment;
    };

    /** The reply of one command: the data lines and the final line. */
    struct Reply
    {
        std::vector<std::string> lines;   // every line, the final one last
        const std::string& final() const { return lines.back(); }
        bool ok() const { return ! lines.empty() && (lines.back() == "OK" || lines.back().rfind ("OK\t", 0) == 0); }
        /** The text after "ERR\t", or "" when the reply is not an ERR. */
        std::string error() const;
        std::vector<std::string> fields() const;   // the final line's fields
    };

    /** The outcome of one PROCESS_F32_BUFFER exchange. */
    struct Block
    {
        bool ok = false;
        std::string header;                 // the BINARY line, or the ERR line
        std::vector<float> samples;
        std::string trailer;                // the OK line
    };

    WorkerSession();
    explicit WorkerSession (const Options& options);

    /** The log and gate files the probe module uses in this session. */
    std::string probeLogPath() const { return temp.file ("probe.log"); }
    std::string probeGatePath() const { return temp.file ("probe.gate"); }
    std::vector<std::string> probeLog() const;
    /** Waits (bounded) until a probe log line contains `text`. */
    bool waitForProbeLog (const std::string& text, int timeoutMs = 10000) const;
    std::string standardError() const;
    const TempFolder& folder() const { return temp; }

    void send (const std::string& bytes, int timeoutMs = 20000);
    void sendBytes (const void* data, std::size_t size, int timeoutMs = 20000);
    /** One reply line; "<timeout>" or "<eof>" when none came. */
    std::string readLine (int timeoutMs = 20000);
    bool readExact (void* destination, std::size_t size, int timeoutMs = 20000);

    /** Sends `line` and reads its reply; `timeoutMs` bounds the sending and each reply line. */
    Reply command (const std::string& line, int timeoutMs = 20000);
    Block process (const std::string& tag, std::uint32_t frames, const std::vector<float>& samples, std::uint32_t channels = 2);

    /** Closes the worker's input and waits for it to end. */
    vantrel::platform::ChildExit finish (int timeoutMs = 20000);
    vantrel::platform::ChildExit waitForExit (int timeoutMs = 20000) { return process_.wait (timeoutMs); }
    bool isRunning() const { return process_.isRunning(); }

private:
    TempFolder temp;
    vantrel::platform::PipedProcess process_;
    std::string buffered;
};

/** A stereo test signal: frames x 2 floats, exactly representable and different per sample. */
std::vector<float> testSignal (std::uint32_t frames, std::uint32_t seed = 1);

/** Fields of a TAB-separated line. */
std::vector<std::string> tabFields (const std::string& line);
} // namespace vsthost_test
