#pragma once

#include "session/Preferences.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <utility>

namespace vantrel
{
/** The preferences in force: read from "preferences.json" at start, replaced only by a change
    that was saved, then handed to the interface language and the operating system. A file that
    could not be read at start is kept as it is for the whole run. LIVE LOCK's refusal and the
    pending EQ drag stay the coordinator's. Message thread only. */
class AppliedPreferences
{
public:
    explicit AppliedPreferences (const juce::File& file) : file (file) {}

    AppliedPreferences (const AppliedPreferences&) = delete;
    AppliedPreferences& operator= (const AppliedPreferences&) = delete;

    /** Reads the file once, at start; a failure leaves the defaults in force and the file
        invalid for the run. */
    StoreResult load();
    /** Saves `prefs`; once saved they are in force, the interface language follows, and the
        operating-system side gets them. A refusal of the OS side is reported, the save stays. */
    StoreResult apply (const Preferences& prefs);
    /** Hands the operating-system side (power request, system-sound muting) to `apply`. */
    void setOsApply (std::function<StoreResult (const Preferences&)> apply)  { osApply = std::move (apply); }

    const Preferences& current() const noexcept  { return preferences; }
    /** The file was read at start (or did not exist); false: changes are refused for the run. */
    bool isValid() const noexcept  { return valid; }
    /** The PAUSE key's shortcut as the status line names it; empty when none is set. */
    juce::String pauseKeyText() const;

private:
    /** Tests change a value without saving it. */
    friend class SessionCoordinatorTestAccess;

    const juce::File file;
    Preferences preferences;
    bool valid = true;
    std::function<StoreResult (const Preferences&)> osApply;
};
} // namespace vantrel
