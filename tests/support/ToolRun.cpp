#include "support/ToolRun.h"

#include <juce_core/juce_core.h>

#include <chrono>
#include <cstdlib>

namespace vantrel::test
{
std::string programOnPath (const std::string& name)
{
    if (name.find ('/') != std::string::npos)
        return name;
    const char* path = std::getenv ("PATH");
    for (const auto& folder : juce::StringArray::fromTokens (path != nullptr ? path : "/usr/bin:/bin", ":", ""))
    {
        if (! juce::File::isAbsolutePath (folder))
            continue;
        const auto candidate = juce::File (folder).getChildFile (juce::String (name));
        if (candidate.existsAsFile())
            return candidate.getFullPathName().toStdString();
    }
    return {};
}

Tool::Tool (const std::vector<std::string>& command, const ToolOptions& options)
{
    platform::PipedProcess::Options spawn;
    spawn.program = command.empty() ? std::string() : programOnPath (command.front());
    if (spawn.program.empty())
    {
        problem = command.empty() ? "no command" : command.front() + " is not on PATH";
        return;
    }
    spawn.arguments.assign (command.begin() + 1, command.end());
    spawn.environment = options.environment;
    spawn.inheritNothingElse = true;
    spawn.ownProcessGroup = true;
    if (options.keepErrors)
    {
        errorPath = juce::File::createTempFile ("tool-errors").getFullPathName().toStdString();
        spawn.standardErrorPath = errorPath;
    }
    isStarted = process.start (spawn, problem);
    if (isStarted)
        process.closeInput();
}

Tool::~Tool()
{
    if (process.isRunning())
    {
        process.killGroup();
        process.wait (60000);
    }
    if (! errorPath.empty())
        juce::File (errorPath).deleteFile();
}

void Tool::read (int waitMs)
{
    char chunk[4096];
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds (waitMs);
    while (outputOpen)
    {
        const auto got = process.readUntil (chunk, sizeof (chunk), until);
        if (got.outcome == platform::PipedProcess::IoOutcome::timedOut)
            return;
        if (got.outcome != platform::PipedProcess::IoOutcome::done || got.bytes == 0)
            outputOpen = false;   // the output closed, or the tool ended
        else
            standardOutput.append (chunk, got.bytes);
    }
}

bool Tool::ended()
{
    if (! isStarted || hasEnded)
        return hasEnded;
    read (0);
    if (outputOpen)
        return false;
    const auto exit = process.wait (0);
    if (! exit.ended)
        return false;
    hasEnded = true;
    exitCode = exit.exited ? exit.exitCode : -1;
    return true;
}

bool Tool::waitForEnd (int capMs)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds (capMs);
    while (! ended())
    {
        if (! isStarted || std::chrono::steady_clock::now() >= giveUp)
        {
            if (process.isRunning())
            {
                process.killGroup();
                process.wait (60000);
            }
            return false;
        }
        if (outputOpen)
            read (100);
        else
            process.waitForEnd (100);
    }
    return true;
}

std::string Tool::errors() const
{
    if (! problem.empty())
        return problem;
    return errorPath.empty() ? std::string() : juce::File (errorPath).loadFileAsString().toStdString();
}

bool runTool (const std::vector<std::string>& command, int capMs)
{
    Tool tool (command);
    return tool.waitForEnd (capMs) && tool.succeeded();
}
} // namespace vantrel::test
