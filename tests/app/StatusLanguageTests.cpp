#include "SessionTestSupport.h"

#include "session/UiLanguage.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel::test;

bool hasJapanese (const juce::String& text)
{
    for (auto c : text)
        if ((c >= 0x3000 && c <= 0x30ff) || (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xff00 && c <= 0xffef))
            return true;
    return false;
}

struct EnglishScope
{
    EnglishScope()   { vantrel::setUiLanguage (true); }
    ~EnglishScope()  { vantrel::setUiLanguage (false); }
};

struct EnglishStatusCase
{
    const char* name;
    std::function<void (StandInSessionRig&)> damage;
    std::function<void (vantrel::SessionCoordinator&, StandInSessionRig&)> thenDo;
    const char* expectedStart;
};

const EnglishStatusCase englishStatusCases[] = {
    { "recovery",
      [] (auto& rig) { rig.music().getChildFile ("catalog.json").replaceWithText ("{ not json"); },
      nullptr,
      "Saved data cannot be read, and no backup can be read either. The files are left as they are and autosave is on hold. "
      "Repair or move the damaged files, then start again. Damaged JSON: catalog.json / " },
    { "saveFailed",
      nullptr,
      [] (auto& session, auto& rig)
      {
          // A folder with something in it where the view state's file goes: the next save fails.
          rig.music().getChildFile ("app-state.json").deleteFile();
          rig.music().getChildFile ("app-state.json").getChildFile ("keep").create();
          session.setZoom (3);
          session.waitForSaves();
      },
      "Autosave failed: " },
    { "damagedOutputSettings",
      [] (auto& rig) { rig.deviceFile().replaceWithText ("{ damaged"); },
      nullptr,
      "OUT: No output — Output settings error. Select an output explicitly." },
};
} // namespace

// The messages of the store and the adapter are composed in Japanese below the status line; in
// English the line shows none of it.
TEST (StatusLine, InEnglishTheLowerLayersMessagesShowNoJapanese)
{
    for (const auto& test : englishStatusCases)
    {
        EnglishScope english;
        StandInSessionRig rig;
        if (test.damage)
            test.damage (rig);
        auto session = rig.make (true);
        if (test.thenDo)
            test.thenDo (*session, rig);

        const auto text = session->statusText();
        EXPECT_TRUE (text.startsWith (juce::String::fromUTF8 (test.expectedStart))) << test.name << ": " << text;
        EXPECT_FALSE (hasJapanese (text)) << test.name << ": " << text;
    }
}
