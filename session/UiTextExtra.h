#pragma once

#include "session/UiTextTable.h"

namespace vantrel
{
constexpr std::size_t numUiTextExtraPairs = 169;

/** The program's own texts that the fixed table lacks (store, settings files, media
    loader, audio adapter, rack, coordinator, and the windows' own labels and hints), Japanese exactly as written at the point of
    use -> English. Kept by hand; no key is also a key of uiTextPairs. A text ending in ": "
    is followed by a detail, one starting with "。" or "（" follows another message.
    Constant data, readable from any thread. */
extern const std::array<UiTextPair, numUiTextExtraPairs> uiTextExtraPairs;
} // namespace vantrel
