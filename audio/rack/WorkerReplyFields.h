#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The TAB-separated fields of a worker's reply line, empty ones (a trailing one too) kept. */
inline juce::StringArray splitReplyFields (const juce::String& line)
{
    juce::StringArray fields;
    int start = 0;

    for (;;)
    {
        const auto tab = line.indexOfChar (start, '\t');

        if (tab < 0)
        {
            fields.add (line.substring (start));
            return fields;
        }

        fields.add (line.substring (start, tab));
        start = tab + 1;
    }
}
} // namespace vantrel
