#pragma once

#include "pluginterfaces/base/ibstream.h"

#include <cstdint>
#include <vector>

namespace orvane::vsthost
{
/** The in-memory stream a plug-in writes its state into or reads it from, bounded by
    `capacity` bytes. A write or resize that would pass the bound fails with kOutOfMemory and
    sets `overflowed` for good. The cursor may lie beyond the data (seeks within the capacity are
    allowed); a later write fills the gap with zeros. All offset arithmetic is checked, so a
    hostile seek cannot wrap around. Lives on the stack for one save or load; not reference
    counted. */
class BoundedMemoryStream final : public Steinberg::IBStream, public Steinberg::ISizeableStream
{
public:
    static constexpr std::uint64_t stateCapacity = 67108864;   // 64 MiB

    explicit BoundedMemoryStream (std::uint64_t capacity = stateCapacity);
    BoundedMemoryStream (std::vector<std::uint8_t> contents, std::uint64_t capacity);
    virtual ~BoundedMemoryStream() = default;

    const std::vector<std::uint8_t>& data() const { return bytes; }
    std::vector<std::uint8_t>& data() { return bytes; }
    bool overflowed() const { return hasOverflowed; }
    std::int64_t position() const { return cursor; }

    // IBStream
    Steinberg::tresult PLUGIN_API read (void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesRead) override;
    Steinberg::tresult PLUGIN_API write (void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesWritten) override;
    Steinberg::tresult PLUGIN_API seek (Steinberg::int64 pos, Steinberg::int32 mode, Steinberg::int64* result) override;
    Steinberg::tresult PLUGIN_API tell (Steinberg::int64* pos) override;

    // ISizeableStream
    Steinberg::tresult PLUGIN_API getStreamSize (Steinberg::int64& size) override;
    Steinberg::tresult PLUGIN_API setStreamSize (Steinberg::int64 size) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    std::vector<std::uint8_t> bytes;
    std::uint64_t capacity;
    std::int64_t cursor = 0;
    bool hasOverflowed = false;
};
} // namespace orvane::vsthost
