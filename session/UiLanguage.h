#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The process-wide user-interface language: false Japanese, true English.
    Japanese until someone sets it. One atomic byte; any thread. */
bool uiLanguage();

/** Sets the process-wide language (atomic exchange); any thread. The shell sets it
    from the preferences after loading them, the coordinator when they change. */
void setUiLanguage (bool english);

/** The name of the file beside the main program that picks the first-run language. */
constexpr const char* defaultLanguageFileName = "default-language.txt";

/** True when the folder holds "default-language.txt" as a regular file of at most
    16 bytes whose text, trimmed of surrounding white space, is exactly "en".
    Anything else, a missing file included, gives false. Any thread. */
bool defaultLanguageIsEnglish (const juce::File& programFolder);

/** defaultLanguageIsEnglish for the folder of the running executable, worked out
    once per process on first use (safe when several threads ask at once). It is
    the default of Preferences::english. */
bool firstRunEnglish();
} // namespace vantrel
