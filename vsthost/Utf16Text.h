#pragma once

#include "pluginterfaces/base/ftypes.h"

#include <cstddef>
#include <string>

namespace orvane::vsthost
{
/** UTF-8 of a UTF-16 text that ends at its first NUL or after `maxUnits` units. A lone
    surrogate becomes U+FFFD. */
std::string utf16ToUtf8 (const Steinberg::char16* text, std::size_t maxUnits);

/** UTF-16 of a UTF-8 text; false when the text is not valid UTF-8. */
bool utf8ToUtf16 (const std::string& text, std::u16string& result);
} // namespace orvane::vsthost
