#include "ui/Pads.h"

#include "session/CatalogValidation.h"
#include "session/UiText.h"
#include "ui/DialogHost.h"
#include "ui/MenuPlacement.h"
#include "ui/ShownText.h"
#include "ui/Theme.h"

namespace vantrel
{
namespace
{
juce::String utf8 (const std::string& text) { return juce::String::fromUTF8 (text.c_str()); }

/** The pad number after "pad:" in a drag description; 0 for anything else. */
int draggedPad (const juce::var& description)
{
    const auto text = description.toString();
    return text.startsWith ("pad:") ? text.fromFirstOccurrenceOf (":", false, false).getIntValue() : 0;
}
} // namespace

Pad::Pad (PadColumn& owner, int n) : juce::Button ("PAD"), column (owner), number (n)
{
    setWantsKeyboardFocus (false);
    gain.setComponentID ("pad-individual-gain");
    gain.slider.setTooltip (translate ("PAD個別音量"));
    gain.onValue = [this] (float db) { column.session().setPadGain (bank(), number, db); };
    addChildComponent (gain);
    onClick = [this]
    {
        if (suppressClick)
        {
            suppressClick = false;
            return;
        }
        if (column.editMode())
            column.padMenu (number, menuAtButton (*this));
        else
            column.session().triggerPad (number);
        column.changed();
    };
}

int Pad::bank() const { return column.session().padTriggerState().bank; }

const PadSlot* Pad::slot() const
{
    const auto index = padIndex (bank(), number);
    return index ? &column.session().catalogState().pads[(size_t) *index] : nullptr;
}

juce::String Pad::labelText() const
{
    if (const auto* s = slot(); s != nullptr && ! s->name.empty())
        return labelTextOf (s->name);   // one line: the head of a long name
    return column.editMode() ? translate ("未割当 · クリックして設定") : translate ("未割当");
}

void Pad::refresh (const ViewSnapshot& snapshot)
{
    const auto index = padIndex (snapshot.padBank, number);
    const auto* s = index ? &snapshot.catalog.pads[(size_t) *index] : nullptr;
    const bool hasAsset = s != nullptr && ! s->asset.empty();
    const bool editMode = snapshot.flags.padEditMode;
    // A changed bank changes the binding, so a wheel bound to this control lets go.
    gain.getProperties().set ("wheel-binding", juce::String (snapshot.padBank) + ":" + juce::String (number));
    gain.setVisible (editMode && hasAsset);
    gain.syncValue (s != nullptr ? s->gainDb : 0.0f);
    setTooltip (s != nullptr ? labelTextOf (s->name) : juce::String());
    resized();

    // The face's name is also the pad's accessible title, what a screen reader or a test reads.
    const auto name = labelText();
    setTitle (name);
    const bool active = snapshot.padsActive[(size_t) number - 1];
    if (name != shownName || hasAsset != shownAsset || active != shownActive || editMode != shownEditMode)
    {
        shownName = name;
        shownAsset = hasAsset;
        shownActive = active;
        shownEditMode = editMode;
        repaint();
    }
}

void Pad::mouseDown (const juce::MouseEvent& e)
{
    suppressClick = false;
    rightPress = e.mods.isRightButtonDown();
    if (rightPress)
    {
        column.padMenu (number, menuAtPointer (*this, e));
        return;
    }
    juce::Button::mouseDown (e);
}

void Pad::mouseDrag (const juce::MouseEvent& e)
{
    if (rightPress)
        return;   // a moved right press must not become a click
    if (column.editMode() && ! suppressClick && e.getDistanceFromDragStart() > 7)
    {
        suppressClick = true;
        column.startDrag ("pad:" + juce::String (number), *this);
        return;
    }
    juce::Button::mouseDrag (e);
}

void Pad::mouseUp (const juce::MouseEvent& e)
{
    if (std::exchange (rightPress, false))
        return;
    juce::Button::mouseUp (e);
}

void Pad::resized()
{
    gain.setBounds (32, getHeight() - 23, getWidth() - 36, 22);
}

void Pad::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const auto* s = slot();
    const bool hasAsset = s != nullptr && ! s->asset.empty();
    const bool active = column.session().isPadActive (bank(), number);
    const auto r = getLocalBounds().toFloat().reduced (1.0f);
    const auto go = themeColour (*this, goColourId);
    const auto dimText = themeColour (*this, dimTextColourId);

    g.setGradientFill (juce::ColourGradient (themeColour (*this, panelColourId).brighter (down ? 0.3f : 0.1f), r.getX(),
                                             r.getY(), themeColour (*this, fieldColourId).brighter (0.1f), r.getX(),
                                             r.getBottom(), false));
    g.fillRoundedRectangle (r, 7.0f);
    if (active)
        g.setColour (go);
    else
        g.setColour (highlighted ? dimText : themeColour (*this, lineColourId));
    g.drawRoundedRectangle (r, 7.0f, active ? 1.6f : 1.0f);

    const auto textColour = hasAsset ? themeColour (*this, textColourId) : dimText.darker (0.3f);
    const auto label = labelText();
    g.setColour (textColour);
    if (column.editMode())
    {
        const float numberWidth = std::min (r.getWidth(), 32.0f);
        g.setFont (juce::Font (15.0f, juce::Font::bold));
        g.drawText (juce::String (number), juce::Rectangle<float> (r.getX(), r.getY(), numberWidth, r.getHeight()),
                    juce::Justification::centred);
        g.setFont (juce::Font (11.0f));
        g.drawText (label, juce::Rectangle<float> (r.getX() + numberWidth + 3.0f, r.getY(),
                                                   std::max (r.getWidth() - numberWidth - 6.0f, 0.0f),
                                                   hasAsset ? 16.0f : r.getHeight()),
                    juce::Justification::centredLeft, true);
        return;
    }
    g.setFont (juce::Font (25.0f, juce::Font::bold));
    g.drawText (juce::String (number), r.withHeight (std::max (r.getHeight() - 19.0f, 0.0f)), juce::Justification::centred);
    g.setFont (juce::Font (10.0f));
    g.setColour (active ? go : dimText);
    const int w = getWidth();
    g.drawFittedText (label, 5, getHeight() - 24, w < 11 ? 0 : w - 10, 24, juce::Justification::centred, 1);
}

bool Pad::isInterestedInFileDrag (const juce::StringArray& files)
{
    return files.size() == 1;
}

void Pad::filesDropped (const juce::StringArray& files, int, int)
{
    if (files.size() != 1)
        return;
    column.session().assignPad (bank(), number, juce::File (files[0]));
    column.changed();
}

bool Pad::isInterestedInDragSource (const SourceDetails& details)
{
    return details.description.toString().startsWith ("pad:");
}

void Pad::itemDropped (const SourceDetails& details)
{
    // A pad dropped back on itself stays as it is: a move would count as a change of the slot
    // and drop an assignment whose copy is still running.
    if (const int from = draggedPad (details.description); from != number)
        column.session().movePad (bank(), from, number);
    column.changed();
}

// ---- the pad menu ------------------------------------------------------------------------------------

void PadColumn::padMenu (int n, const juce::PopupMenu::Options& at)
{
    const int b = coordinator.padTriggerState().bank;
    const auto index = padIndex (b, n);
    if (dialogs.isOpen() || ! index)
        return;
    const bool active = coordinator.isPadActive (b, n);
    const bool hasAsset = ! coordinator.catalogState().pads[(size_t) *index].asset.empty();

    juce::PopupMenu menu;
    menu.addSectionHeader ("PAD " + juce::String (b) + " / " + juce::String (n));
    menu.addItem (1, translate ("音源を割り当て…"), ! active);
    menu.addItem (2, translate ("表示名を変更…"), ! active && hasAsset);
    menu.addItem (3, translate ("割当を削除…"), ! active && hasAsset);
    if (active)
        menu.addSectionHeader (translate ("再生中の為変更・削除ができません。"));

    dialogs.showMenu (menu, at, MenuLeadsTo::nameDialog, [this, b, n] (int result) { runPadMenuItem (result, b, n); });
}

void PadColumn::runPadMenuItem (int item, int b, int n)
{
    auto& co = coordinator;
    const auto index = padIndex (b, n);
    if (! index)
        return;
    if (item == 1)
    {
        view.chooseFiles (false, [&co, b, n] (juce::Array<juce::File> files) { co.assignPad (b, n, files[0]); });
    }
    else if (item == 2)
    {
        view.textDialog (translate ("PAD表示名"), translate ("表示名"), utf8 (co.catalogState().pads[(size_t) *index].name),
                         [&co, b, n] (juce::String text) { co.setPadLabel (b, n, text.toStdString()); });
    }
    else if (item == 3)
    {
        if (const auto freed = co.clearPad (b, n); freed && ! freed->empty())
            doors.offerOwnedCleanup ({ co.dataRoot().getChildFile ("pad").getChildFile ("assets").getChildFile (utf8 (*freed))
                                     .getFullPathName() });
    }
}
} // namespace vantrel
