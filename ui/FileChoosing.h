#pragma once
// Message thread only. How the main view asks the operator for audio files.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

namespace vantrel
{
/** The audio files the view lets the operator choose, as wildcards separated by ';'. */
inline constexpr const char* audioFilePatterns = "*.wav;*.aif;*.aiff;*.mp3;*.flac;*.m4a;*.aac";

/** True for a file whose name matches one of audioFilePatterns, whatever the case of its
    extension ("Intro.WAV" as well as "intro.wav"). */
bool isChoosableAudioFile (const juce::File&);

/** A question for audio files. The view keeps one and launches it once per request; the answer
    comes back on the message thread, empty when the operator cancelled. */
class AudioFileChooser
{
public:
    using Answer = std::function<void (juce::Array<juce::File>)>;
    virtual ~AudioFileChooser() = default;

    /** Asks; a question still open is abandoned (its answer never comes). */
    virtual void launch (const juce::String& title, bool multiple, Answer answer) = 0;
};

/** JUCE's own file browser in a modal dialog box, asynchronous, open mode, files only. Not a
    desktop helper program: those hand back several files as one text that file names cannot
    be told apart in. */
class BrowserFileChooser : public AudioFileChooser
{
public:
    BrowserFileChooser();
    ~BrowserFileChooser() override;
    void launch (const juce::String& title, bool multiple, Answer answer) override;

private:
    struct Question;
    std::shared_ptr<Question> question;
};
} // namespace vantrel
