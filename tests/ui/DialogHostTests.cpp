#include "ViewTestSupport.h"

#include "ui/DialogHost.h"
#include "ui/FileChoosing.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

#include <optional>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

/** A file question that stays open until the test answers it. */
struct HeldChooser : AudioFileChooser
{
    void launch (const juce::String&, bool, Answer a) override  { answer = std::move (a); }
    Answer answer;
};

// Whatever the host opens (a menu that can lead to a name dialog or one that cannot, a question,
// a confirmation, a name dialog, the file chooser), it alone holds the view's modal state while
// that is up, drops a second request of any kind, and ends the state when it closes; the keys
// typed meanwhile are kept only for a menu that can lead to a name dialog, and let go when the
// menu closed with no name dialog.
TEST (DialogHost, OneModalAtATimeAndTheTypedKeysGoWithItsMenu)
{
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& view = r.makeView();
    Theme theme;
    bool modal = false;
    std::unique_ptr<AudioFileChooser> chooser = std::make_unique<HeldChooser>();
    auto* held = static_cast<HeldChooser*> (chooser.get());
    DialogHost host (view, *r.session, theme, modal, chooser);

    const auto menu = []
    {
        juce::PopupMenu m;
        m.addItem (1, "one");
        return m;
    };
    const auto closeModal = [held]
    {
        if (held->answer)
            return std::exchange (held->answer, nullptr) (juce::Array<juce::File>());
        juce::PopupMenu::dismissAllActiveMenus();
        if (auto* window = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent()))
            window->exitModalState (0);
    };
    struct Case
    {
        const char* what;
        std::function<void (std::function<void()> closed)> open;
        std::optional<bool> keepsTypedKeys;   // none: its own field takes them once it has the focus
    };
    const Case cases[] = {
        { "a menu that leads to a name dialog", [&] (auto closed) {
              host.showMenu (menu(), {}, MenuLeadsTo::nameDialog, [closed] (int) { closed(); }); }, true },
        { "a menu that does not", [&] (auto closed) {
              host.showMenu (menu(), {}, MenuLeadsTo::noNameDialog, [closed] (int) { closed(); }); }, false },
        { "a question", [&] (auto closed) {
              host.ask ("Vantrel!", "?", juce::MessageBoxIconType::QuestionIcon, { { "OK", 1 }, { "No", 0 } },
                        [closed] (int) { closed(); }); }, false },
        { "a confirmation", [&] (auto closed) { host.confirm ("?", closed); }, false },
        { "a name dialog", [&] (auto closed) {
              host.textDialog ("name", "name", {}, [closed] (juce::String) { closed(); }, false, {}); }, std::nullopt },
        { "the file chooser", [&] (auto closed) {
              host.chooseFiles (false, [closed] (juce::Array<juce::File>) { closed(); }); }, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ASSERT_TRUE (runMessagesUntil ([&] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));
        c.open ([] {});
        EXPECT_TRUE (modal);
        EXPECT_TRUE (host.isOpen());
        if (c.keepsTypedKeys)
        {
            EXPECT_EQ (host.keepTypedKey (juce::KeyPress ('a')), *c.keepsTypedKeys);
        }

        // Every other request is dropped while it is up: none of their answers ever comes.
        bool secondAnswered = false;
        for (const auto& other : cases)
            other.open ([&secondAnswered] { secondAnswered = true; });

        closeModal();
        ASSERT_TRUE (runMessagesUntil ([&] { return ! modal; }));
        EXPECT_FALSE (host.keepTypedKey (juce::KeyPress ('b'))) << "keys are still kept after it closed";
        runPendingMessages();
        EXPECT_FALSE (secondAnswered);
        EXPECT_FALSE (modal);
    }
}
// A window manager gives a new name dialog's window the focus, and the window gives it to its
// first child that takes it; a Return typed ahead then goes where that focus is. It confirms the
// name (here the one already in the field): no button takes the focus from the field.
TEST (DialogHost, AReturnTypedWhenTheWindowTakesTheFocusConfirmsTheName)
{
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& view = r.makeView();
    Theme theme;
    bool modal = false;
    std::unique_ptr<AudioFileChooser> chooser;
    DialogHost host (view, *r.session, theme, modal, chooser);

    std::optional<juce::String> named;
    host.textDialog ("name", "name", "Act 1", [&named] (juce::String text) { named = text; }, true, {});
    auto* dialog = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
    ASSERT_NE (dialog, nullptr);
    auto* field = dialog->getTextEditor ("value");
    ASSERT_TRUE (runMessagesUntil ([&] { return field->hasKeyboardFocus (false); })) << "the field never took the focus";

    // As the window's peer does when the window manager's focus arrives after the field lost it.
    field->giveAwayKeyboardFocus();
    dialog->grabKeyboardFocus();
    ASSERT_NE (dialog->getPeer(), nullptr);
    dialog->getPeer()->handleKeyPress (juce::KeyPress (juce::KeyPress::returnKey));
    ASSERT_TRUE (runMessagesUntil ([&] { return ! modal; }));
    EXPECT_EQ (named, std::optional<juce::String> ("Act 1")) << "the Return did not confirm the name";
}
} // namespace
} // namespace vantrel
