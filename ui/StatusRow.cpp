#include "ui/StatusRow.h"

#include "session/UiLanguage.h"
#include "session/UiText.h"

namespace vantrel
{
StatusRow::StatusRow (const SectionContext& context) : ViewSection (context)
{
    style (statusLabel, 11.0f, dimTextColourId);
    recover.setButtonText (translate ("復旧"));
    wire (recover, [this]
    {
        view.confirm (translate ("保全済みバックアップから保存データを復旧しますか？"), [this] { coordinator.recoverStore(); });
    });
    settings.setButtonText (uiLanguage() ? juce::String::fromUTF8 ("⚙ Settings") : translate ("⚙ 設定"));
    wire (settings, [this] { view.openSettingsWindow(); });
    addPart (statusLabel, "status-label");
    addPart (recover, "recover", true);
    addPart (settings, "settings");
}

void StatusRow::layOut (const MainScreenLayout& layout)
{
    ViewSection::layOut (layout);
    recoverPlaced = layout["recover"].visible;
}

void StatusRow::refresh (const ViewSnapshot& s)
{
    // A recovery with nothing to read is not offered: the status line says what the operator can do.
    recover.setVisible (s.canRecover && recoverPlaced);
    showText (statusLabel, s.statusText);
    statusLabel.setColour (juce::Label::textColourId, themeColour (view, s.statusIsWarning ? alertColourId : dimTextColourId));
    statusLabel.setTooltip (s.statusText);
}
} // namespace vantrel
