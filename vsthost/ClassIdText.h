#pragma once

#include "pluginterfaces/base/funknown.h"

#include <string>

namespace orvane::vsthost
{
// The text form of a class id: its 16 bytes in order as 32 upper-case hex digits. On this
// platform that is the id exactly as the plug-in declares it (the same text a COM-layout
// print gives on Windows). Scanning prints with classIdText and loading parses with
// parseClassIdText, so every printed id is accepted back.

std::string classIdText (const Steinberg::TUID id);

/** Exactly 32 hex digits (either case) and nothing else; false leaves `id` untouched. */
bool parseClassIdText (const std::string& text, Steinberg::TUID id);
} // namespace orvane::vsthost
