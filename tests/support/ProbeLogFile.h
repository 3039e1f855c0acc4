#pragma once

#include "support/EnvironmentVariable.h"
#include "support/TestFiles.h"
#include "vsthost/ProbeClasses.h"

#include <juce_core/juce_core.h>

namespace vantrel::testing
{
/** The log of the worker's probe test plug-ins (tests/vsthost/plugins) for the workers a test
    starts: they inherit the variable set here. Set it before any thread of the test starts; it is
    emptied again at the end, which turns the log off. */
class ProbeLogFile
{
public:
    ProbeLogFile() { platform::setEnvironmentVariable (probe::logVariable, file().getFullPathName().toStdString()); }
    ~ProbeLogFile() { platform::setEnvironmentVariable (probe::logVariable, ""); }

    ProbeLogFile (const ProbeLogFile&) = delete;
    ProbeLogFile& operator= (const ProbeLogFile&) = delete;

    juce::File file() const { return folder / "probe.log"; }

    /** How many lines begin with `start`. */
    int count (const juce::String& start) const
    {
        juce::StringArray lines;
        lines.addLines (file().loadFileAsString());
        int found = 0;

        for (const auto& line : lines)
            found += line.startsWith (start) ? 1 : 0;

        return found;
    }

private:
    TempFolder folder { "probe-log" };
};
} // namespace vantrel::testing
