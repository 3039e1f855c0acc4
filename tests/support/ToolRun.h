#pragma once

#include "platform/PipedProcess.h"

#include <juce_core/juce_core.h>

#include <string>
#include <utility>
#include <vector>

namespace vantrel::test
{
struct ToolOptions
{
    std::vector<std::pair<std::string, std::string>> environment;   // set for the tool
    bool keepErrors = false;                                        // read its standard error too
};

/** A command-line tool that runs beside the test: `command` is the program (looked up on PATH
    unless it holds a slash) and its arguments. Started with posix_spawn, never with a fork of the
    test process: a forked child allocates before it execs, and under a sanitizer's allocator it
    then waits for ever on a lock that another thread of the test held at the fork. One thread;
    a tool still running when this goes is killed. */
class Tool
{
public:
    explicit Tool (const std::vector<std::string>& command, const ToolOptions& options = {});
    ~Tool();

    Tool (const Tool&) = delete;
    Tool& operator= (const Tool&) = delete;

    bool started() const  { return isStarted; }

    /** Reads what the tool wrote so far without waiting; true once it has ended. */
    bool ended();

    /** Waits for the end, at most capMs; true when it ended (else it is killed). */
    bool waitForEnd (int capMs);

    bool succeeded() const  { return hasEnded && exitCode == 0; }
    int exit() const  { return exitCode; }   // -1 while it runs, or when a signal ended it
    const std::string& output() const  { return standardOutput; }
    /** Its standard error when kept, else why it did not start. */
    std::string errors() const;

private:
    void read (int waitMs);

    platform::PipedProcess process;
    std::string errorPath, problem, standardOutput;
    bool isStarted = false, outputOpen = true, hasEnded = false;
    int exitCode = -1;
};

/** Runs a tool to its end (at most capMs, then it is killed); true when it ran and exited with 0. */
bool runTool (const std::vector<std::string>& command, int capMs = 300000);

/** A command of a program and JUCE strings. */
inline std::vector<std::string> toolCommand (const std::string& program, const juce::StringArray& arguments)
{
    std::vector<std::string> command { program };
    for (const auto& argument : arguments)
        command.push_back (argument.toStdString());
    return command;
}

/** The path of a program on PATH, empty when there is none. */
std::string programOnPath (const std::string& name);
} // namespace vantrel::test
