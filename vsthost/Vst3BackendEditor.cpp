// Vst3Backend: the editor operations. The editor host window is not part of this build yet:
// every open answers as for a plug-in without an editor, and nothing is ever open.
#include "vsthost/Vst3Backend.h"

#include "vsthost/UiDispatcher.h"

#include <cstdio>

namespace orvane::vsthost
{
namespace
{
const char* const noEditorView = "createView(kEditor) returned null";

void editorStage (const char* mark)
{
    std::fprintf (stderr, "EDITOR_STAGE %s\n", mark);
    std::fflush (stderr);
}
} // namespace

ProcessResult Vst3Backend::openNativeEditor (const std::string&)
{
    if (! nativeEditorEnabled)
        return ProcessResult::failure ("native editor disabled");

    if (controller == nullptr)
        return ProcessResult::failure ("IEditController unavailable");

    return ProcessResult::failure (noEditorView);
}

ProcessResult Vst3Backend::closeNativeEditor()
{
    return ProcessResult::success();
}

ProcessResult Vst3Backend::serviceEditor()
{
    return serviceControl();
}

ProcessResult Vst3Backend::pumpEditorMessages()
{
    if (uiDispatcher != nullptr && uiDispatcher->isUiThread())
        uiDispatcher->dispatchPending (0);

    return serviceEditor();
}

bool Vst3Backend::isEditorOpen()
{
    return false;
}

ProcessResult Vst3Backend::showNativeEditor (const std::string& title)
{
    return openNativeEditor (title);
}

ProcessResult Vst3Backend::probeNativeEditor()
{
    if (! nativeEditorEnabled)
        return ProcessResult::failure ("native editor probe is Gate-only");

    if (controller == nullptr)
        return ProcessResult::failure ("IEditController unavailable");

    editorStage ("com.preinitialized.beforeModuleLoad");
    editorStage ("createView.begin");
    return ProcessResult::failure (noEditorView);
}
} // namespace orvane::vsthost
