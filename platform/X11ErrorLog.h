#pragma once

#include <cstdint>

namespace vantrel::platform
{
// The record behind prepareX11's error handler, for the X11 files of this folder. A display is
// passed as an opaque pointer (an Xlib Display*).

/** True when an X error was recorded for `display` on request `firstSerial` or a later one. */
bool x11ErrorsSince (const void* display, unsigned long firstSerial);

/** Drops the records of a display that is being closed (its address may be reused). */
void forgetX11Errors (const void* display);
} // namespace vantrel::platform
