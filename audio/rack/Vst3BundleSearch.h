#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace vantrel
{
/** The standard VST3 folders of this system: "~/.vst3" (when $HOME is an absolute path),
    "/usr/lib/vst3" and "/usr/local/lib/vst3". A folder need not exist. Any thread. */
juce::StringArray defaultVst3Folders();

/** The same for the home folder `home` (an empty or relative one gives no "~/.vst3"). */
juce::StringArray defaultVst3Folders (const juce::String& home);

/** The bundles found so far, in the order found, each once (paths compared exactly: the file
    systems here are case-sensitive). */
class Vst3BundleList
{
public:
    /** Normalises the path and appends it, unless it is empty, not a valid protocol field or
        already listed. */
    void add (const juce::File& bundle);

    const std::vector<juce::String>& paths() const { return bundles; }

private:
    std::vector<juce::String> bundles;
    std::set<std::string> seen;
};

/** Entries of one search folder looked at, at most, over all depths. */
constexpr int maxEntriesPerSearchFolder = 5000;
constexpr int maxBundleSearchDepth = 12;

/** Walks one search folder for bundles (entries with the extension "vst3", any case; a bundle's
    contents are not walked). Symbolic links are skipped. `count` counts the entries looked at;
    the walk stops when it reaches 5,000 (so at most 4,999 are looked at), when `cancelled`
    answers true, or below depth 12. A folder that is missing or cannot be listed adds nothing. */
void scanVst3Folder (const juce::File& folder, int depth, int& count, Vst3BundleList& bundles,
                     const std::function<bool()>& cancelled);

/** Every bundle of the folders, in order; each folder that hit the entry limit adds 1 to
    `excluded`. */
Vst3BundleList findVst3Bundles (const juce::StringArray& folders, const std::function<bool()>& cancelled, int& excluded);
} // namespace vantrel
