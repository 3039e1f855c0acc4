// The safe quit and the save worker: a state that is saved or being saved already is not saved a
// second time, and whatever changed after it is.

#include "SessionTestSupport.h"

#include "platform/FileFaults.h"
#include "session/CatalogStore.h"

#include <gtest/gtest.h>

using namespace vantrel::test;
using vantrel::platform::FileFaults;
using vantrel::platform::FileOp;

namespace
{
/** The save journals that were created while the file operations were recorded. */
int journalsWritten()
{
    int journals = 0;
    for (const auto& op : FileFaults::recorded())
        journals += op.op == FileOp::renameFile && juce::File (op.path).getFileName() == "pending.json" ? 1 : 0;
    return journals;
}
} // namespace

TEST (Quit, SavesOnlyWhatIsNotSavedYet)
{
    for (const bool changedAfterTheLastSave : { false, true })
    {
        SCOPED_TRACE (changedAfterTheLastSave ? "a change not handed over yet" : "nothing changed since the last save");
        SessionRig rig;
        auto session = rig.make();
        ASSERT_TRUE (session->addPlaylist ("Show", ""));
        ASSERT_TRUE (session->waitForSaves());
        if (changedAfterTheLastSave)
            SessionCoordinatorTestAccess::state (*session).ui.zoom = session->catalogState().ui.zoom == 3 ? 4 : 3;   // not handed to the worker

        vantrel::platform::ScopedFileFaults seam;
        FileFaults::startRecording();
        ASSERT_TRUE (session->prepareQuit());
        EXPECT_EQ (journalsWritten(), changedAfterTheLastSave ? 1 : 0);

        vantrel::CatalogStore reader (rig.music());
        vantrel::CatalogState saved;
        ASSERT_TRUE (reader.readSavedFiles (saved).ok);
        EXPECT_EQ (saved.document, session->undoHistory().current());
        EXPECT_EQ (saved.ui, session->catalogState().ui);
        EXPECT_FALSE (rig.music().getChildFile ("recovery/pending.json").exists());
    }
}
