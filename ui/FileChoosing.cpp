#include "ui/FileChoosing.h"

#include "session/UiText.h"
#include "ui/ViewImpl.h"

namespace vantrel
{
namespace
{
/** JUCE's wildcard filter follows the file system's case rule, which on Linux would hide
    "Intro.WAV"; audio extensions are matched without case here. Any thread. */
class AudioFileFilter : public juce::FileFilter
{
public:
    AudioFileFilter() : juce::FileFilter (audioFilePatterns) {}
    bool isFileSuitable (const juce::File& file) const override { return isChoosableAudioFile (file); }
    bool isDirectorySuitable (const juce::File&) const override { return true; }
};
} // namespace

bool isChoosableAudioFile (const juce::File& file)
{
    const auto name = file.getFileName();
    for (const auto& pattern : juce::StringArray::fromTokens (audioFilePatterns, ";", {}))
        if (name.matchesWildcard (pattern, true))
            return true;
    return false;
}

struct BrowserFileChooser::Question
{
    Question (const juce::String& title, bool multiple)
        : browser (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles
                       | (multiple ? juce::FileBrowserComponent::canSelectMultipleItems : 0),
                   juce::File(), &filter, nullptr),
          box (title, {}, browser, false, browser.findColour (juce::AlertWindow::backgroundColourId))
    {
    }

    AudioFileFilter filter;
    juce::FileBrowserComponent browser;
    juce::FileChooserDialogBox box;
};

BrowserFileChooser::BrowserFileChooser() = default;

BrowserFileChooser::~BrowserFileChooser()
{
    if (question != nullptr)
        question->box.exitModalState (0);
}

void BrowserFileChooser::launch (const juce::String& title, bool multiple, Answer answer)
{
    if (question != nullptr)
        question->box.exitModalState (0);
    question = std::make_shared<Question> (title, multiple);
    question->box.centreWithDefaultSize (nullptr);
    std::weak_ptr<Question> asked (question);
    auto* owner = &question;
    question->box.enterModalState (true, juce::ModalCallbackFunction::create ([asked, owner, answer] (int result)
    {
        // An abandoned question (a newer one, or the chooser gone) has no answer.
        const auto held = asked.lock();
        if (held == nullptr)
            return;
        juce::Array<juce::File> files;
        for (int i = 0; result != 0 && i < held->browser.getNumSelectedFiles(); ++i)
            if (const auto file = held->browser.getSelectedFile (i); file.existsAsFile())
                files.add (file);
        owner->reset();
        juce::MessageManager::callAsync ([held] {});   // the box goes after its own modal callback
        if (answer)
            answer (files);
    }), false);
}

// ---- the view's side ------------------------------------------------------------------------------

void VantrelView::setFileChooser (std::unique_ptr<AudioFileChooser> chooser)
{
    fileChooser = std::move (chooser);
}
} // namespace vantrel
