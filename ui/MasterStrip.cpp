#include "ui/MasterStrip.h"

#include "session/UiText.h"

#include <algorithm>

namespace vantrel
{
MasterStrip::MasterStrip (const SectionContext& context) : ViewSection (context)
{
    auto& co = coordinator;
    masterGain.onValue = [&co] (float db) { co.setMasterGain (db); };
    style (masterHeading, 11.0f, dimTextColourId);
    masterHeading.setText ("MASTER", juce::dontSendNotification);
    style (grReadout, 10.0f, accentColourId);
    grReadout.setText ("GR  0.0 dB", juce::dontSendNotification);
    style (safetyMark, 9.0f, alertColourId);
    safetyMark.setText ("SAFETY", juce::dontSendNotification);
    limiter.setButtonText ("LIMITER");
    limiter.setTooltip (translate ("LIMITER + SAFETY を同時にON/OFF・終了時の状態を保存"));
    wire (limiter, [&co] { co.setLimiterEnabled (! co.isLimiterOn()); });
    dynamicsFold.setButtonText (translate ("DYNAMICS ▸"));
    wire (dynamicsFold, [this]
    {
        view.flags().dynamicsOpen = ! view.flags().dynamicsOpen;
        view.resized();
    });
    vst.setButtonText ("VST");
    wire (vst, [this] { view.openMasterVst(); });
    masterEq.setButtonText ("EQ");
    masterEq.setTooltip ("MASTER EQ");
    wire (masterEq, [this] { view.openEq ("@master"); });

    addPart (meter, "meter");
    addPart (masterGain, "master-gain");
    addPart (masterHeading, "master-heading");
    addPart (grReadout, "gr-readout");
    addPart (safetyMark, "safety-mark", true);
    addPart (limiter, "master-limiter");
    addPart (dynamicsFold, "dynamics-fold");
    addPart (vst, "vst-rack");
    addPart (masterEq, "master-eq");

    static const char* const limiterNames[] = { "THRESHOLD", "CEILING", "RELEASE", "MAXIMIZE" };
    static const double ranges[][3] = { { -30.0, 0.0, 0.1 }, { -12.0, 0.0, 0.1 }, { 10.0, 2000.0, 1.0 }, { 0.0, 24.0, 0.1 } };
    for (int i = 0; i < 4; ++i)
    {
        auto& label = limiterLabels[(size_t) i];
        style (label, 9.0f, dimTextColourId);
        label.setText (limiterNames[i], juce::dontSendNotification);
        auto& slider = *(limiterSliders[(size_t) i] = std::make_unique<WheelFirstSlider>());
        slider.setSliderStyle (juce::Slider::LinearHorizontal);
        slider.setTextBoxStyle (juce::Slider::TextBoxRight, false, 46, 20);
        slider.setRange (ranges[i][0], ranges[i][1], ranges[i][2]);
        slider.onValueChange = [this, i, &slider]
        {
            if (! view.flags().syncing)
                coordinator.setLimiterParameter (i, (float) slider.getValue());
        };
        addPart (label, "limiter-label-" + juce::String (i));
        addPart (slider, "limiter-slider-" + juce::String (i));
    }
}

void MasterStrip::layOut (const MainScreenLayout& layout)
{
    ViewSection::layOut (layout);
    safetyPlaced = layout["safety-mark"].visible;
}

juce::String MasterStrip::editRefusal (juce::Component& pressed) const
{
    auto* slider = lockedSliderOf (pressed);
    if (slider == nullptr)
        return {};
    auto* gain = dynamic_cast<GainControl*> (slider->getParentComponent());
    if (gain == &masterGain)
        return translate ("LIVE LOCK中はマスターゲインを変更できません");
    if (gain == nullptr && std::any_of (limiterSliders.begin(), limiterSliders.end(), [slider] (const auto& s) { return s.get() == slider; }))
        return translate ("LIVE LOCK中はリミッターを変更できません");
    return {};
}

void MasterStrip::showMeter (const orvane::audio::MasterOutputMeters& meters)
{
    meter.setValues (meters);
}

void MasterStrip::refresh (const ViewSnapshot& s)
{
    showToggle (limiter, s.limiterOn);

    showToggle (vst, s.rackReady);
    const bool attention = s.rackNeedsAttention;
    vst.setColour (juce::TextButton::textColourOffId, themeColour (view, attention ? noticeColourId : textColourId));
    vst.setColour (juce::TextButton::textColourOnId, themeColour (view, attention ? noticeColourId : accentColourId));
    vst.setTooltip (attention ? translate ("VSTの状態・保存を確認") : translate ("マスターVST3 · 2スロット"));

    limiter.setEnabled (! s.limiterLocked);
    masterGain.setEnabled (! s.masterGainLocked);
    showToggle (masterEq, s.catalog.document.masterEq.enabled);
    masterGain.syncValue (s.masterGain);

    // A limiter row shows its value unless it is being dragged.
    for (size_t i = 0; i < 4; ++i)
    {
        auto& slider = *limiterSliders[i];
        slider.setEnabled (! s.limiterLocked);
        if (! slider.isMouseButtonDown (true))
            showValue (slider, s.limiterValues[i]);
    }

    const auto& meters = s.lanes.meters;
    meter.setValues (meters);
    showText (grReadout, gainReductionText (meters.limiterReductionDb));
    safetyMark.setVisible (safetyMarkVisible (meters.truePeakReductionDb) && safetyPlaced);
}
} // namespace vantrel
