#pragma once

namespace vantrel::platform
{
/** Makes the calling process end with SIGKILL when its parent goes away. When the parent is
    already gone by the time the request is in place, the process ends at once. */
void endWithParent();

/** A write to a pipe whose reader has gone then fails with an error instead of raising SIGPIPE. */
void ignoreBrokenPipes();

/** Moves the worker's protocol off descriptor 1: returns a private, close-on-exec duplicate of
    descriptor 1 and points descriptor 1 at descriptor 2, so that stray writes to standard output
    (a plug-in's printf) land on the error stream. Returns -1 when either step fails. */
int takeProtocolOutput();
} // namespace vantrel::platform
