#pragma once

#include "platform/LargeMemory.h"

#include <vector>

namespace vantrel
{
/** Makes room for at least count elements in a buffer that may hold hundreds of megabytes
    (decoded audio, prepared PCM), asking for large pages when it allocates. */
template <typename Element>
void reserveLarge (std::vector<Element>& buffer, std::size_t count)
{
    if (buffer.capacity() >= count)
        return;
    buffer.reserve (count);
    platform::adviseLargePages (buffer.data(), buffer.capacity() * sizeof (Element));
}

/** Resizes a large buffer to count elements (new ones value-initialised), with reserveLarge. */
template <typename Element>
void resizeLarge (std::vector<Element>& buffer, std::size_t count)
{
    reserveLarge (buffer, count);
    buffer.resize (count);
}
} // namespace vantrel
