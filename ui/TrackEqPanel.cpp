#include "ui/TrackEqPanel.h"

#include "session/UiText.h"
#include "ui/Theme.h"

#include <initializer_list>
#include <iterator>
#include <utility>

namespace vantrel
{
namespace
{
const char* const shapeNames[] = { "Bell", "Low Shelf", "High Shelf", "High Pass", "Low Pass" };

bool hasGain (int shape)  { return shape < (int) EqShape::highPass; }

void setUpLabel (juce::Label& label, const juce::Font& font)
{
    label.setFont (font);
    label.setJustificationType (juce::Justification::centredLeft);
    label.setMinimumHorizontalScale (1.0f);
}
} // namespace

TrackEqPanel::TrackEqPanel (SessionCoordinator& c, std::string t) : coordinator (c), target (std::move (t))
{
    setComponentID ("track-eq-panel");
    setSize (920, 566);

    curve.setComponentID ("eq-curve");
    addAndMakeVisible (curve);
    titleLabel.setComponentID ("eq-title");
    noteLabel.setComponentID ("eq-note");
    setUpLabel (titleLabel, juce::Font (16.0f, juce::Font::bold));
    setUpLabel (noteLabel, juce::Font (12.0f));
    setUpLabel (flowLabel, juce::Font (11.0f));
    paletteParts.bind (titleLabel, juce::Label::textColourId, textColourId);
    paletteParts.bind (noteLabel, juce::Label::textColourId, noticeColourId);
    paletteParts.bind (flowLabel, juce::Label::textColourId, dimTextColourId);
    flowLabel.setText (translate ("TRACK EQ / GAIN → PLAYLIST EQ / GAIN → + PAD → MASTER EQ → VST → MASTER / LIMITER"),
                       juce::dontSendNotification);
    for (auto* label : { &titleLabel, &noteLabel, &flowLabel })
        addAndMakeVisible (*label);

    enableButton.setComponentID ("eq-enable");
    resetButton.setComponentID ("eq-reset");
    resetButton.setButtonText (translate ("リセット"));
    copyButton.setComponentID ("eq-copy");
    pasteButton.setComponentID ("eq-paste");
    for (auto* button : { &enableButton, &resetButton, &copyButton, &pasteButton })
        addAndMakeVisible (*button);
    enableButton.onClick = [this]
    {
        eq.enabled = ! eq.enabled;
        applyEdit();
    };
    resetButton.onClick = [this]
    {
        eq = EqSettings();
        applyEdit();
    };
    copyButton.onClick = [this] { copyToClipboard(); };
    pasteButton.onClick = [this] { pasteFromClipboard(); };

    for (int i = 0; i < EqSettings::numBands; ++i)
        setUpBand (i);
    paletteParts.apply (*this);

    worker = std::make_unique<AnalyserWorker> (coordinator);
    refresh();
    startTimerHz (30);
}

TrackEqPanel::~TrackEqPanel()
{
    stopTimer();
    coordinator.eqTargetPlayToken ({});   // the tap stops collecting for this panel
    worker.reset();
    // Only a drag this panel opened: the coordinator's open edit may belong to another control.
    if (std::exchange (dragging, false))
        coordinator.commitEqEdit();
}

void TrackEqPanel::setUpBand (int index)
{
    auto& row = bands[(size_t) index];
    const auto n = juce::String (index + 1);
    row.number.setText (n, juce::dontSendNotification);
    row.number.setFont (juce::Font (15.0f, juce::Font::bold));
    row.number.setJustificationType (juce::Justification::centred);
    paletteParts.bind (row.number, juce::Label::textColourId, eqBandColourId + index);
    row.on.setComponentID ("eq-on-" + n);
    row.shape.setComponentID ("eq-shape-" + n);
    for (int s = 0; s < (int) std::size (shapeNames); ++s)
        row.shape.addItem (shapeNames[s], s + 1);

    const auto setUpSlider = [] (juce::Slider& slider, const juce::String& id, double low, double high, double step,
                                 const juce::String& suffix, int decimals) {
        slider.setComponentID (id);
        slider.setSliderStyle (juce::Slider::LinearHorizontal);
        slider.setTextBoxStyle (juce::Slider::TextBoxRight, false, 74, 24);
        slider.setScrollWheelEnabled (false);
        slider.setRange (low, high, step);
        slider.setTextValueSuffix (suffix);
        slider.setNumDecimalPlacesToDisplay (decimals);
    };
    setUpSlider (row.frequency, "eq-frequency-" + n, 20.0, 20000.0, 1.0, " Hz", 0);
    row.frequency.setSkewFactorFromMidPoint (1000.0);
    setUpSlider (row.gain, "eq-gain-" + n, -18.0, 18.0, 0.1, " dB", 1);
    setUpSlider (row.q, "eq-q-" + n, 0.1, 12.0, 0.01, {}, 2);
    row.q.setSkewFactorFromMidPoint (1.0);

    row.on.onClick = [this, index]
    {
        eq.bands[(size_t) index].enabled = bands[(size_t) index].on.getToggleState();
        applyEdit();
    };
    row.shape.onChange = [this, index]
    {
        if (refreshing)
            return;
        eq.bands[(size_t) index].shape = bands[(size_t) index].shape.getSelectedId() - 1;
        applyEdit();
    };
    const std::pair<juce::Slider*, double EqBand::*> sliders[] = {
        { &row.frequency, &EqBand::frequency }, { &row.gain, &EqBand::gainDb }, { &row.q, &EqBand::q }
    };
    for (const auto& [slider, field] : sliders)
    {
        slider->onValueChange = [this, index, slider = slider, field = field]
        {
            if (refreshing)
                return;
            eq.bands[(size_t) index].*field = slider->getValue();
            applyEdit();
        };
        slider->onDragStart = [this, index] { startSliderDrag (index); };
        slider->onDragEnd = [this] { endSliderDrag(); };
    }
    for (auto* c : std::initializer_list<juce::Component*> { &row.number, &row.on, &row.shape, &row.frequency, &row.gain, &row.q })
        addAndMakeVisible (c);
}

const EqSettings* TrackEqPanel::liveSettings() const
{
    // The read-only lookup: reading must not count as a live change of the document.
    return std::as_const (coordinator).eqForTarget (target);
}

void TrackEqPanel::startSliderDrag (int band)
{
    selectedBand = band;
    if (editable())
    {
        coordinator.beginEqEdit();
        dragging = true;
    }
}

void TrackEqPanel::endSliderDrag()
{
    if (std::exchange (dragging, false))
        coordinator.commitEqEdit();
    refresh();
}

void TrackEqPanel::finishDrag()
{
    if (std::exchange (dragging, false))
        coordinator.commitEqEdit();
    refresh();
}

void TrackEqPanel::applyEdit()
{
    if (refreshing)
        return;
    if (dragging)
        coordinator.setLiveEq (target, eq);
    else
        coordinator.commitEq (target, eq);
    refresh();
}

void TrackEqPanel::copyToClipboard()
{
    finishDrag();
    coordinator.copyEq (target);
    refresh();
}

void TrackEqPanel::pasteFromClipboard()
{
    finishDrag();
    coordinator.pasteEq (target);
    refresh();
}

void TrackEqPanel::refresh()
{
    refreshing = true;
    const auto* live = liveSettings();
    const bool exists = live != nullptr;
    const bool canEdit = editable();
    if (exists)
        eq = *live;
    titleLabel.setText (exists ? coordinator.eqTitle (target) : translate ("トラックが削除されました"),
                        juce::dontSendNotification);
    // The LIVE LOCK note only when LIVE LOCK is what holds the values: a removed target or data
    // waiting for recovery is no lock.
    juce::String note;
    if (exists && canEdit)
        note = translate ("設定を自動保存 / 再生中の調整に対応");
    else if (exists && coordinator.isLiveLockOn())
        note = translate ("LIVE LOCK — 設定を固定中");
    noteLabel.setText (note, juce::dontSendNotification);

    enableButton.setButtonText (eq.enabled ? "EQ ON" : "EQ OFF");
    enableButton.setToggleState (eq.enabled, juce::dontSendNotification);
    enableButton.setEnabled (canEdit);
    resetButton.setEnabled (canEdit);
    copyButton.setEnabled (exists);
    pasteButton.setEnabled (canEdit && coordinator.eqClipboardValue().has_value());

    for (size_t i = 0; i < bands.size(); ++i)
    {
        auto& row = bands[i];
        const auto& band = eq.bands[i];
        row.on.setToggleState (band.enabled, juce::dontSendNotification);
        row.shape.setSelectedId (band.shape + 1, juce::dontSendNotification);
        const std::pair<juce::Slider*, double> values[] = { { &row.frequency, band.frequency },
                                                            { &row.gain, band.gainDb }, { &row.q, band.q } };
        for (const auto& [slider, value] : values)
            if (! slider->isMouseButtonDown())
                slider->setValue (value, juce::dontSendNotification);
        for (auto* c : std::initializer_list<juce::Component*> { &row.on, &row.shape, &row.frequency, &row.q })
            c->setEnabled (canEdit);
        row.gain.setEnabled (canEdit && hasGain (band.shape));
    }
    refreshing = false;
    curve.repaintIfChanged();
}

void TrackEqPanel::timerCallback()
{
    const auto token = coordinator.eqTargetPlayToken (isShowing() ? target : std::string());
    bool spectrumChanged = false;
    if (token != lastToken)
    {
        spectrum = AnalyserSnapshot();
        lastToken = token;
        spectrumChanged = true;
    }
    worker->setToken (token);
    if (token != 0)
        spectrumChanged = worker->tryCopy (token, spectrum) || spectrumChanged;

    if (++tickCount % 3 == 0)
        refresh();
    if (spectrumChanged)
        curve.repaintPlot();
}

void TrackEqPanel::lookAndFeelChanged()
{
    paletteParts.apply (*this);
}

void TrackEqPanel::parentHierarchyChanged()
{
    paletteParts.apply (*this);
}

void TrackEqPanel::colourChanged()
{
    paletteParts.apply (*this);
}

void TrackEqPanel::paint (juce::Graphics& g)
{
    g.fillAll (themeColour (*this, panelColourId));
    g.setColour (themeColour (*this, dimTextColourId));
    g.setFont (juce::Font (11.0f));
    const std::pair<juce::String, juce::Rectangle<int>> headings[] = {
        { "BAND", { 12, 246, 86, 20 } },
        { translate ("フィルター"), { 100, 246, 110, 20 } },
        { translate ("周波数"), { 228, 246, 222, 20 } },
        { "GAIN", { 468, 246, 208, 20 } },
        { "Q / " + translate ("幅"), { 694, 246, 212, 20 } },
    };
    for (const auto& [text, area] : headings)
        g.drawText (text, area, juce::Justification::centredLeft, true);
}

void TrackEqPanel::resized()
{
    const int w = getWidth(), h = getHeight();
    auto header = juce::Rectangle<int> (12, 5, std::max (w - 24, 0), std::min (std::max (h - 10, 0), 30));
    resetButton.setBounds (header.removeFromRight (std::min (std::max (w - 24, 0), 78)));
    enableButton.setBounds (header.removeFromRight (82).reduced (3));
    header.removeFromRight (10);
    pasteButton.setBounds (header.removeFromRight (66).reduced (2));
    copyButton.setBounds (header.removeFromRight (62).reduced (2));
    titleLabel.setBounds (header);
    noteLabel.setBounds (12, 35, w - 24, 22);
    curve.setBounds (12, 59, w - 24, 183);

    const int m = (w - 222) / 3;
    for (int i = 0; i < (int) bands.size(); ++i)
    {
        auto& row = bands[(size_t) i];
        const int y = 269 + 32 * i;
        row.number.setBounds (12, y, 26, 29);
        row.on.setBounds (39, y, 58, 29);
        row.shape.setBounds (100, y + 2, 112, 26);
        row.frequency.setBounds (224, y, m - 8, 29);
        row.gain.setBounds (224 + m, y, m - 8, 29);
        row.q.setBounds (224 + 2 * m, y, m - 8, 29);
    }
    flowLabel.setBounds (12, 535, w - 24, 25);
}
} // namespace vantrel
