#include "ui/ViewSection.h"

#include "ui/KeyRouting.h"

#include <algorithm>

namespace vantrel
{
namespace
{
constexpr std::array<int, 20> zoomTable { 10, 15, 20, 30, 40, 50, 60, 75, 90, 105,
                                          120, 150, 180, 210, 240, 300, 360, 420, 480, 600 };
} // namespace

double zoomSeconds (int zoom)
{
    return zoomTable[(size_t) juce::jlimit (0, (int) zoomTable.size() - 1, zoom)];
}

void showText (juce::Label& label, const juce::String& text)
{
    if (label.getText() != text)
        label.setText (text, juce::dontSendNotification);
}

void showToggle (juce::Button& button, bool on)
{
    if (button.getToggleState() != on)
        button.setToggleState (on, juce::dontSendNotification);
}

void showValue (juce::Slider& slider, double value)
{
    if (slider.getValue() != value)
        slider.setValue (value, juce::dontSendNotification);
}

void WheelFirstSlider::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::Slider::mouseWheelMove (e, wheel);
}

ViewList::ViewList (const juce::String& name, juce::ListBoxModel* model, bool rowsList)
    : juce::ListBox (name, model), holdsRows (rowsList)
{
}

bool ViewList::isInterestedInDragSource (const SourceDetails& details)
{
    return takesDrag && takesDrag (details.description.toString());
}

void ViewList::itemDropped (const SourceDetails& details)
{
    if (onDrop)
        onDrop (details.description.toString(), details.localPosition);
}

bool ViewList::isInterestedInFileDrag (const juce::StringArray&) { return holdsRows; }

void ViewList::filesDropped (const juce::StringArray& files, int, int)
{
    if (holdsRows && onFilesDropped)
        onFilesDropped (files);
}

void ViewList::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::ListBox::mouseWheelMove (e, wheel);
}

void ViewList::paintOverChildren (juce::Graphics& g)
{
    if (getProperties()["wheel-active"])
    {
        g.setColour (themeColour (*this, wheelTargetColourId));
        g.drawRect (getLocalBounds(), 2);
    }
}

ViewSection::ViewSection (const SectionContext& context)
    : view (context.view), coordinator (context.coordinator), palette (context.palette), dialogs (context.dialogs),
      doors (context.doors)
{
}

bool ViewSection::startsHidden (const juce::Component& part) const
{
    return std::find (hidden.begin(), hidden.end(), &part) != hidden.end();
}

void ViewSection::addPart (juce::Component& part, const juce::String& id, bool hiddenAtFirst)
{
    part.setComponentID (id);
    partList.emplace_back (id.toStdString(), &part);
    if (hiddenAtFirst)
        hidden.push_back (&part);
}

void ViewSection::layOut (const MainScreenLayout& layout)
{
    for (const auto& [id, part] : partList)
    {
        const auto& placement = layout[id];
        if (! startsHidden (*part))
        {
            place (*part, placement);
            continue;
        }
        // A part the refresh shows only while it applies: the layout only hides it.
        part->setBounds (placement.bounds);
        if (! placement.visible)
            part->setVisible (false);
    }
}

juce::Slider* ViewSection::lockedSliderOf (juce::Component& pressed)
{
    auto* slider = dynamic_cast<juce::Label*> (&pressed) != nullptr ? dynamic_cast<juce::Slider*> (pressed.getParentComponent()) : nullptr;
    return slider != nullptr && ! slider->isEnabled() ? slider : nullptr;
}

void ViewSection::place (juce::Component& part, const PartPlacement& placement)
{
    part.setBounds (placement.bounds);
    part.setVisible (placement.visible && ! placement.bounds.isEmpty());
}

void ViewSection::wire (juce::Button& button, std::function<void()> action)
{
    button.setWantsKeyboardFocus (false);
    button.onClick = [this, action = std::move (action)]
    {
        action();
        view.refresh();
    };
}

void ViewSection::style (juce::Label& label, float points, int colourId, juce::Justification justification)
{
    label.setFont (juce::Font (points));
    palette.bind (label, juce::Label::textColourId, colourId);
    label.setColour (juce::Label::textColourId, themeColour (view, colourId));
    label.setJustificationType (justification);
    label.setInterceptsMouseClicks (false, false);
}

void ViewSection::addFace (juce::RectangleList<int>& faces, const juce::Component& part, int cornerMargin) const
{
    // Only a part drawn straight onto the view: one in a scrolled container may be cut by it.
    if (part.getParentComponent() == &view && part.isVisible() && part.getWidth() > 2 * cornerMargin && part.getHeight() > 8)
        faces.add (part.getBounds().reduced (cornerMargin, 4));
}
} // namespace vantrel
