#pragma once

#include "pluginterfaces/base/funknown.h"

namespace orvane::vsthost
{
// The process-wide context handed to plug-ins at initialize. Every backend installs it for its
// lifetime; it is cleared only when the last backend that installed this very context lets
// go, so a replaced backend never clears the context of the one that replaced it.

void acquirePluginContext (Steinberg::FUnknown* context);
void releasePluginContext (Steinberg::FUnknown* context);
Steinberg::FUnknown* currentPluginContext();
} // namespace orvane::vsthost
