#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The result of every store, preferences, library-file and settings-file
    operation. File problems are reported here, never thrown. */
struct StoreResult
{
    bool ok = true;
    juce::String message;   // user-facing; empty on success unless an operation says otherwise

    static StoreResult success (const juce::String& text = {})  { return { true, text }; }
    static StoreResult failure (const juce::String& text)       { return { false, text }; }

    bool operator== (const StoreResult& other) const  { return ok == other.ok && message == other.message; }
    bool operator!= (const StoreResult& other) const  { return ! operator== (other); }
};
} // namespace vantrel
