#include "app/AppliedPreferences.h"

#include "session/PreferencesFile.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"

namespace vantrel
{
StoreResult AppliedPreferences::load()
{
    const auto read = readPreferences (file, preferences);
    if (! read.ok)
        valid = false;
    return read;
}

StoreResult AppliedPreferences::apply (const Preferences& prefs)
{
    const auto saved = savePreferences (file, prefs);
    if (! saved.ok)
        return saved;
    preferences = prefs;
    setUiLanguage (prefs.english);

    if (osApply)
    {
        const auto applied = osApply (prefs);
        if (! applied.ok)
            return StoreResult::failure (translate ("設定は保存済みですが、OSへ適用できません: ") + applied.message);
    }
    return saved;
}

juce::String AppliedPreferences::pauseKeyText() const
{
    return preferences.keys.size() > 1 ? shortcutText (preferences.keys[1]) : juce::String();
}
} // namespace vantrel
