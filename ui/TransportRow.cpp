#include "ui/TransportRow.h"

#include "session/UiText.h"
#include "ui/DialogHost.h"

namespace vantrel
{
TransportRow::TransportRow (const SectionContext& context) : ViewSection (context)
{
    auto& co = coordinator;
    const auto text = [] (juce::Button& b, const char* t) { b.setButtonText (translate (t)); };

    go.setWantsKeyboardFocus (false);
    go.onClick = [this]
    {
        coordinator.go();
        view.refresh();
    };
    wire (repeat, [&co] { co.cycleRepeat(); });
    text (seekBack, "◀◀");
    wire (seekBack, [&co] { co.seekMain (-5.0, false); });
    text (pause, "▶ / Ⅱ");
    wire (pause, [&co] { co.togglePause(); });
    text (seekForward, "▶▶");
    wire (seekForward, [&co] { co.seekMain (5.0, false); });
    for (auto* b : { &seekBack, &seekForward })
        b->setRepeatSpeed (450, 180, 100);
    autoCue.setButtonText ("AUTO CUE");
    wire (autoCue, [&co] { co.toggleAutoCue(); });
    autoReady.setButtonText ("AUTO READY");
    wire (autoReady, [&co] { co.toggleAutoReady(); });
    lock.setButtonText ("LIVE LOCK");
    wire (lock, [this]
    {
        view.commitPendingEdits();
        if (! coordinator.isLiveLockOn())
            coordinator.toggleLiveLock();
        else
            view.confirm (translate ("LIVE LOCKを解除しますか？"), [this] { coordinator.toggleLiveLock(); });
    });
    text (outputDevice, "出力先 ⚙");
    wire (outputDevice, [this] { dialogs.openOutputDialog(); });
    style (outputLabel, 10.0f, dimTextColourId, juce::Justification::centredRight);
    style (zoomLabel, 10.0f, dimTextColourId);

    zoom.setSliderStyle (juce::Slider::LinearHorizontal);
    zoom.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    zoom.setRange (0.0, 19.0, 1.0);
    zoom.setTooltip (translate ("3段共通の波形ズーム · 10秒〜10分"));
    zoom.onValueChange = [this]
    {
        if (view.flags().syncing)
            return;
        coordinator.setZoom ((int) zoom.getValue());
        view.refresh();
    };

    addPart (go, "go");
    addPart (brand, "brand");
    addPart (repeat, "repeat");
    addPart (seekBack, "seek-back");
    addPart (pause, "pause");
    addPart (seekForward, "seek-forward");
    addPart (autoCue, "auto-cue");
    addPart (autoReady, "auto-ready");
    addPart (lock, "lock");
    addPart (outputDevice, "output-device");
    addPart (outputLabel, "output-label");
    addPart (zoomLabel, "wave-zoom-label");
    addPart (zoom, "wave-zoom");
}

void TransportRow::clickLiveLock()
{
    lock.triggerClick();
}

void TransportRow::addOpaqueFaces (juce::RectangleList<int>& faces) const
{
    addFace (faces, go, 12);   // a 9 px corner, 1 px in
}

void TransportRow::refresh (const ViewSnapshot& s)
{
    showToggle (autoCue, s.autoCue);
    showToggle (autoReady, s.cue.autoReady);
    showToggle (lock, s.liveLock);
    showToggle (pause, s.cue.paused);
    showToggle (repeat, s.cue.repeatMode != orvane::audio::RepeatMode::off);

    // The GO hint names the GO key.
    const auto& keys = s.preferences.keys;
    const auto hint = ! keys.empty() && keys[0].key != 0 ? shortcutText (keys[0]) + " / PLAY" : juce::String ("PLAY");
    if (go.caption != hint)
    {
        go.caption = hint;
        go.repaint();
    }

    const int repeatMode = (int) s.cue.repeatMode;
    const juce::String repeatText = repeatMode == 0 ? "REPEAT OFF" : repeatMode == 1 ? "REPEAT ONE" : "REPEAT ALL";
    if (repeat.mode != repeatMode || repeat.getButtonText() != repeatText)
    {
        repeat.mode = repeatMode;
        repeat.setButtonText (repeatText);
        repeat.setTooltip (repeatText);
    }
    pause.setButtonText (s.cue.paused ? translate ("▶") : translate ("▶ / Ⅱ"));

    outputDevice.setEnabled (s.canChangeOutput);
    const auto outputText = s.outputOpen ? "OUT: " + s.outputName : translate ("OUT: 出力先なし");
    showText (outputLabel, outputText);
    outputLabel.setColour (juce::Label::textColourId, themeColour (view, s.outputOpen ? dimTextColourId : alertColourId));
    outputLabel.setTooltip (outputText);

    const int zoomStep = s.catalog.ui.zoom;
    showValue (zoom, zoomStep);
    const int secs = (int) zoomSeconds (zoomStep);
    showText (zoomLabel, translate ("波形幅 ") + juce::String (secs / 60).paddedLeft ('0', 2) + ":"
                             + juce::String (secs % 60).paddedLeft ('0', 2));
}
} // namespace vantrel
