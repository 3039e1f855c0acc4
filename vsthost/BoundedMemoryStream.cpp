#include "vsthost/BoundedMemoryStream.h"

#include "vsthost/ComSupport.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvane::vsthost
{
using namespace Steinberg;

BoundedMemoryStream::BoundedMemoryStream (std::uint64_t capacityBytes)
    : capacity (std::min<std::uint64_t> (capacityBytes, static_cast<std::uint64_t> (std::numeric_limits<std::int64_t>::max())))
{
}

BoundedMemoryStream::BoundedMemoryStream (std::vector<std::uint8_t> contents, std::uint64_t capacityBytes)
    : bytes (std::move (contents)),
      capacity (std::min<std::uint64_t> (capacityBytes, static_cast<std::uint64_t> (std::numeric_limits<std::int64_t>::max())))
{
}

tresult PLUGIN_API BoundedMemoryStream::read (void* buffer, int32 numBytes, int32* numBytesRead)
{
    if (numBytes < 0 || (numBytes > 0 && buffer == nullptr))
        return kInvalidArgument;

    const auto size = static_cast<std::int64_t> (bytes.size());
    const auto available = cursor < size ? size - cursor : 0;
    const auto count = static_cast<int32> (std::min<std::int64_t> (numBytes, available));

    if (count > 0)
        std::memcpy (buffer, bytes.data() + cursor, static_cast<std::size_t> (count));

    cursor += count;

    if (numBytesRead != nullptr)
        *numBytesRead = count;

    return kResultOk;
}

tresult PLUGIN_API BoundedMemoryStream::write (void* buffer, int32 numBytes, int32* numBytesWritten)
{
    if (numBytes < 0 || (numBytes > 0 && buffer == nullptr))
        return kInvalidArgument;

    const auto position = static_cast<std::uint64_t> (cursor);

    if (position > capacity || capacity - position < static_cast<std::uint64_t> (numBytes))
    {
        if (numBytesWritten != nullptr)
            *numBytesWritten = 0;

        hasOverflowed = true;
        return kOutOfMemory;
    }

    const auto end = static_cast<std::size_t> (position + static_cast<std::uint64_t> (numBytes));

    if (bytes.size() < end)
        bytes.resize (end, 0);

    if (numBytes > 0)
        std::memcpy (bytes.data() + position, buffer, static_cast<std::size_t> (numBytes));

    cursor = static_cast<std::int64_t> (end);

    if (numBytesWritten != nullptr)
        *numBytesWritten = numBytes;

    return kResultOk;
}

tresult PLUGIN_API BoundedMemoryStream::seek (int64 pos, int32 mode, int64* result)
{
    std::int64_t base = 0;

    switch (mode)
    {
        case kIBSeekSet: base = 0; break;
        case kIBSeekCur: base = cursor; break;
        case kIBSeekEnd: base = static_cast<std::int64_t> (bytes.size()); break;
        default: return kInvalidArgument;
    }

    std::int64_t target = 0;

    if (__builtin_add_overflow (base, pos, &target) || target < 0 || static_cast<std::uint64_t> (target) > capacity)
        return kResultFalse;

    cursor = target;

    if (result != nullptr)
        *result = target;

    return kResultOk;
}

tresult PLUGIN_API BoundedMemoryStream::tell (int64* pos)
{
    if (pos == nullptr)
        return kInvalidArgument;

    *pos = cursor;
    return kResultOk;
}

tresult PLUGIN_API BoundedMemoryStream::getStreamSize (int64& size)
{
    size = static_cast<int64> (bytes.size());
    return kResultOk;
}

tresult PLUGIN_API BoundedMemoryStream::setStreamSize (int64 size)
{
    if (size < 0 || static_cast<std::uint64_t> (size) > capacity)
    {
        hasOverflowed = true;
        return kOutOfMemory;
    }

    bytes.resize (static_cast<std::size_t> (size), 0);
    cursor = std::min<std::int64_t> (cursor, size);
    return kResultOk;
}

tresult PLUGIN_API BoundedMemoryStream::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (FUnknownPrivate::iidEqual (iid, FUnknown::iid))
    {
        *obj = static_cast<FUnknown*> (static_cast<IBStream*> (this));
        return kResultOk;
    }

    if (answerInterface<IBStream> (iid, obj, this) || answerInterface<ISizeableStream> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API BoundedMemoryStream::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API BoundedMemoryStream::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
