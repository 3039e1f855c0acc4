#pragma once
// Message thread only: construction, the timer, the callbacks and the refreshes.

#include "platform/FrameClock.h"
#include "ui/KeyRouting.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <vector>

namespace vantrel
{
class AudioFileChooser;
class SessionCoordinator;

/** The view's state switches. */
struct ViewFlags
{
    bool libraryShown = false;   // the library panel replaces the rows area
    bool dynamicsOpen = false;   // the limiter section is unfolded
    bool padEditMode = false;    // pads show their gains and can be dragged and named
    bool syncing = false;        // refresh is writing control values
    bool dialogOpen = false;     // a dialog, menu or chooser of the view is up (written by the dialog host)
    bool quitPending = false;    // a quit was accepted; the timer waits for the coordinator
    bool detailedTime = false;   // the lanes show their detailed time readout
};

/** The one component that fills the main window. It shows the coordinator's state, refreshed by
    its own 30 Hz tick (lanes and meters at every tick, everything at every third), runs the
    coordinator's tick, turns every click, key and wheel turn into one coordinator operation,
    rebuilds itself when the interface language changes and carries a quit out in steps.
    It never changes session data itself: the next refresh shows each operation's result together
    with the coordinator's status line. */
class VantrelView : public juce::Component,
                    public juce::DragAndDropContainer,
                    private juce::Timer,
                    public juce::KeyListener,
                    public ShortcutHandler
{
public:
    explicit VantrelView (SessionCoordinator& coordinator);
    ~VantrelView() override;

    /** Recomputes every text and control state from the coordinator. */
    void refresh();
    /** The lighter update: the three wave lanes and the meter. */
    void refreshLanes();
    /** Builds the view's parts anew in the current interface language. */
    void refreshLanguage();
    /** The quit request of the main window: dropped while a quit or a dialog is pending; asks for
        confirmation while audio sounds or LIVE LOCK is on; onQuit runs once the coordinator has
        finished (an abandoned quit gives the view back). */
    void requestQuit (std::function<void()> onQuit);
    /** The quit the system asks for (a SIGTERM, the session ending): no confirmation; dropped only
        while a quit is already pending. A dialog that is up is closed first. `onAbandoned` runs
        when the coordinator abandons the quit (it could not save). */
    void quitNow (std::function<void()> onQuit, std::function<void()> onAbandoned = {});
    /** The quit a Ctrl+C or a closed terminal asks for: the close button's way (asks while audio
        sounds or LIVE LOCK is on, else quits at once), but never dropped. While the question is up
        it is brought to the front; while another dialog or menu is up and the question is due, it
        is asked once that closes; with nothing to ask, a dialog that is up is closed and the quit
        runs. Dropped only while a quit is pending. `onAbandoned` as for quitNow. */
    void requestQuitBySignal (std::function<void()> onQuit, std::function<void()> onAbandoned = {});
    /** Ends every open inline edit, keeping what was typed; saves the memo being typed. */
    void commitPendingEdits();

    // ---- keys and wheel (the main window's router calls these first) -------------------------------
    bool handleShortcut (int virtualKey, bool isRepeat, bool ctrl, bool shift) override;
    void releaseHeldKey (int virtualKey) override;
    void clearHeldKeys() override;
    bool handleWheel (double notches) override;
    void releaseWheelTarget() override;
    bool holdTypedKey (const juce::KeyPress& key) override;
    void windowLostKeyboard() override;
    /** False while a dialog or a modal component is up, a quit is pending or a text editor has the
        keyboard focus. */
    bool acceptsShortcuts() const;
    /** Binds the wheel to the gain control (or the rows list) under a left click. */
    void bindWheelTarget (juce::Component* pressed);
    /** Releases a binding whose control is gone, hidden, disabled, typed into or rebound. */
    void validateWheelTarget();
    /** The gain control the wheel drives, or null. */
    juce::Component* wheelTarget() const;
    /** True while the wheel steps READY. */
    bool wheelStepsReady() const;

    // ---- windows and dialogs ---------------------------------------------------------------------
    void openEq (const juce::String& target);
    void openMasterVst();
    /** Ends the open inline edits and opens a new settings window on the current preferences. */
    void openSettingsWindow();
    /** Asks text with "キャンセル" / "実行"; onOk runs on the second. Nothing while a dialog is up. */
    void confirm (const juce::String& text, std::function<void()> onOk);
    /** One line of text entry; onText runs with the text on "確定" (or Return). The field has the
        keyboard focus when the dialog shows. With nameRequired, "確定" on a blank text does not
        close the dialog with nothing done: it stays up, saying "名前を入力してください". Nothing
        while a dialog is up. */
    void textDialog (const juce::String& title, const juce::String& label, const juce::String& initialText,
                     std::function<void (juce::String)> onText, bool nameRequired = false,
                     const juce::String& message = {});
    /** Asks for audio files ("音源を選択"); onChosen runs with a non-empty answer. Nothing while a
        dialog is up. */
    void chooseFiles (bool multiple, std::function<void (juce::Array<juce::File>)> onChosen);
    /** Replaces the way chooseFiles asks (JUCE's file browser until then). */
    void setFileChooser (std::unique_ptr<AudioFileChooser> chooser);

    ViewFlags& flags();
    const ViewFlags& flags() const;
    /** The target of the last EQ window ("@master", "@playlist:" + id or a row id). */
    juce::String eqTarget() const;
    /** The language the current parts were built in. */
    bool builtInEnglish() const { return languageAtBuild; }
    /** The view's window with this component ID ("cd-window", "settings-window", "vst-window",
        "eq-window", "output-dialog"), null while it does not exist. */
    juce::Component* window (const juce::String& id) const;
    /** How many auto-repeats of held keys were consumed without acting. */
    int repeatsSwallowed() const { return swallowedRepeats; }
    /** How often the parts were laid out (each layout change lays them out once). */
    int layoutCount() const;

    // ---- juce::Component, juce::Timer, juce::KeyListener --------------------------------------------
    void paint (juce::Graphics&) override;
    void resized() override;
    /** The parts take the palette ids (ui/Theme.h) of the view's theme again. */
    void lookAndFeelChanged() override;
    void colourChanged() override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    void mouseMove (const juce::MouseEvent&) override  { handsOn(); }
    void mouseEnter (const juce::MouseEvent&) override  { handsOn(); }
    void mouseExit (const juce::MouseEvent&) override  { handsOn(); }
    void mouseDrag (const juce::MouseEvent&) override  { handsOn(); }
    void mouseUp (const juce::MouseEvent&) override  { handsOn(); }
    /** The 30 Hz tick. The view's frame clock paces it, and paints every window's pending repaints
        at each of its frames: 30 a second at rest, 60 while something moves (a lane plays or
        flashes, the pointer moves, a text field or a second window is open). JUCE's own frame
        timer of each window then only stands in (ui/DisplayRates.h), so that the program at rest
        wakes no more than its tick needs. Where the clock cannot be made, a timer ticks and the
        windows paint on their own frames as usual. */
    void timerCallback() override;
    /** The view's own ticks stop for good (a test or benchmark then runs timerCallback itself);
        the frames still paint. */
    void stopTicking();
    /** True while the fallback timer, not the frame clock, paces the ticks. */
    bool ticksOnTimer() const  { return isTimerRunning(); }
    /** True while the view's frame clock paints the windows; false for the fallback timer, and for
        a view whose ticks stopped before its frames could start. */
    bool paintsOnItsOwnFrames() const  { return frames != nullptr && frames->isValid(); }
    /** The frame clock's rate now (0 where there is none). */
    double frameRateHz() const  { return frames != nullptr ? frames->rateHz() : 0.0; }
    bool keyPressed (const juce::KeyPress&, juce::Component*) override;
    bool keyStateChanged (bool isKeyDown, juce::Component*) override;
    using juce::Component::keyPressed;
    using juce::Component::keyStateChanged;

    struct Impl;

private:
    void beginQuit (std::function<void()> onQuit, std::function<void()> onAbandoned);
    void askQuit (std::function<void()> onQuit, std::function<void()> onAbandoned);
    void buildImpl();
    void displayFrame();
    void paceFrames (double nowMs);
    void handsOn();

    SessionCoordinator& coordinator;
    std::unique_ptr<Impl> impl;
    std::unique_ptr<AudioFileChooser> fileChooser;   // kept across language rebuilds
    std::vector<int> heldKeys;
    bool languageAtBuild = false;
    int tickCount = 0;
    bool quitQuestionUp = false;                 // the quit question is the dialog that is up
    std::function<void()> quitAfterDialog;       // a signal's quit request, waiting for a dialog to close
    std::function<void()> onQuitAbandoned;       // of the quit that is pending
    int swallowedRepeats = 0;
    static constexpr int tickIntervalMs = 1000 / 30;
    static constexpr double restingFramesHz = 30.0, movingFramesHz = 60.0;
    std::unique_ptr<platform::FrameClock> frames;
    double nextTickMs = 0.0;      // when the frames run the next tick (high-resolution milliseconds)
    double fastFramesUntilMs = 0.0;   // smooth frames until then (high-resolution milliseconds)
    bool ticksStopped = false;    // the quit was prepared: no further tick

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VantrelView)
};
} // namespace vantrel
