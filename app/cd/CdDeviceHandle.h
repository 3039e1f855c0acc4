#pragma once

#include "platform/CdDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace vantrel
{
/** An opened drive whose requests can be given up. Each request runs on the handle's own device
    thread; the caller waits for it in steps of 50 ms and gives it up when its stop flag is set or
    the request takes longer than the time limit. A request given up keeps running in the drive
    with buffers of its own, so nothing the caller owns is touched later; the handle then refuses
    every further request, and the device is closed when that request finally returns (never, for
    a drive wedged for good: its thread then stays parked until the program ends).

    One caller thread at a time; the destructor does not wait for a request that was given up. */
class CdDeviceHandle
{
public:
    static constexpr int defaultTimeLimitMs = 10000;

    /** A null device gives an invalid handle, whose every request fails. */
    explicit CdDeviceHandle (std::unique_ptr<platform::CdDevice> device, int timeLimitMs = defaultTimeLimitMs);
    ~CdDeviceHandle();

    CdDeviceHandle (const CdDeviceHandle&) = delete;
    CdDeviceHandle& operator= (const CdDeviceHandle&) = delete;

    bool isValid() const;

    /** Each false when the flag was already set or became set during the wait, when the request
        was given up for time, when an earlier request was given up, or when the drive failed. */
    bool readToc (platform::CdToc& toc, const std::atomic<bool>* flag);
    bool title (juce::String& title, const std::atomic<bool>* flag);
    /** The bytes read (as the device returned them) into out (count x 2352 bytes), or -1. */
    int readAudio (int sector, int count, std::uint8_t* out, const std::atomic<bool>* flag);

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    int timeLimitMs;
};
} // namespace vantrel
