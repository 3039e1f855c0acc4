// Device requests on a thread of their own, given up on a stop flag or a time limit.
#include "app/cd/CdDeviceHandle.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vantrel
{
/** What the caller and the device thread share. The thread holds its own reference, so a request
    given up can finish (or never finish) without touching anything the handle owned alone. */
struct CdDeviceHandle::Shared : std::enable_shared_from_this<Shared>
{
    using Clock = std::chrono::steady_clock;

    explicit Shared (std::unique_ptr<platform::CdDevice> d) : device (std::move (d)), valid (device != nullptr) {}

    std::unique_ptr<platform::CdDevice> device;   // used by the device thread only, once it runs
    const bool valid;

    std::mutex mutex;
    std::condition_variable changed;
    std::function<void (platform::CdDevice&)> work;   // the pending request; empty when none
    bool running = false;    // the thread is inside a request
    bool finished = false;   // the last request returned
    bool givenUp = false;    // a request was given up: no further requests
    bool quit = false;
    std::thread thread;      // started with the first request; touched by the handle's side only

    /** The device thread: runs each request without the lock and closes the device after a
        request that was given up, since nobody will ask again. */
    static void serve (std::shared_ptr<Shared> self)
    {
        std::unique_lock<std::mutex> lock (self->mutex);
        for (;;)
        {
            self->changed.wait (lock, [&] { return self->quit || self->work != nullptr; });
            if (self->work == nullptr)
                return;

            auto request = std::move (self->work);
            self->work = nullptr;
            self->running = true;
            lock.unlock();
            request (*self->device);
            request = nullptr;   // the request's own buffers go with it
            lock.lock();
            self->running = false;
            self->finished = true;
            self->changed.notify_all();
            if (self->givenUp)
            {
                auto device = std::move (self->device);
                lock.unlock();
                return;   // the device closes here, outside the lock
            }
        }
    }

    static bool isSet (const std::atomic<bool>* flag)  { return flag != nullptr && flag->load(); }

    /** Runs `work` on the device thread; false when it was refused or given up. Whatever `work`
        writes must be owned by `work` itself: the caller reads it only after a true answer. */
    bool perform (int timeLimitMs, std::function<void (platform::CdDevice&)> request, const std::atomic<bool>* flag)
    {
        if (! valid || isSet (flag))
            return false;

        std::unique_lock<std::mutex> lock (mutex);
        if (givenUp)
            return false;

        if (! thread.joinable())
        {
            try
            {
                thread = std::thread ([shared = shared_from_this()]() mutable { platform::nameCurrentThread ("cd drive"); Shared::serve (std::move (shared)); });
            }
            catch (const std::system_error&)
            {
                return false;
            }
        }

        finished = false;
        work = std::move (request);
        changed.notify_all();

        const auto start = Clock::now();
        const auto limit = std::chrono::milliseconds (timeLimitMs);
        while (! changed.wait_for (lock, std::chrono::milliseconds (50), [this] { return finished; }))
        {
            if (isSet (flag) || Clock::now() - start > limit)
            {
                givenUp = true;
                work = nullptr;   // withdrawn when the thread has not taken it yet
                return false;
            }
        }
        return true;
    }
};

CdDeviceHandle::CdDeviceHandle (std::unique_ptr<platform::CdDevice> device, int limit)
    : shared (std::make_shared<Shared> (std::move (device))), timeLimitMs (limit)
{
}

CdDeviceHandle::~CdDeviceHandle()
{
    std::unique_lock<std::mutex> lock (shared->mutex);
    if (! shared->thread.joinable())
        return;

    if (shared->running)
    {
        // A request given up is still in the drive: its thread closes the device when (if ever)
        // it returns, and nothing here waits for it.
        shared->thread.detach();
        return;
    }
    shared->quit = true;
    shared->changed.notify_all();
    lock.unlock();
    shared->thread.join();
}

bool CdDeviceHandle::isValid() const  { return shared->valid; }

bool CdDeviceHandle::readToc (platform::CdToc& toc, const std::atomic<bool>* flag)
{
    auto result = std::make_shared<std::pair<bool, platform::CdToc>>();
    if (! shared->perform (timeLimitMs, [result] (platform::CdDevice& d) { result->first = d.readToc (result->second); }, flag)
        || ! result->first)
        return false;
    toc = std::move (result->second);
    return true;
}

bool CdDeviceHandle::title (juce::String& text, const std::atomic<bool>* flag)
{
    auto result = std::make_shared<juce::String>();
    if (! shared->perform (timeLimitMs, [result] (platform::CdDevice& d) { *result = d.title(); }, flag))
        return false;
    text = *result;
    return true;
}

int CdDeviceHandle::readAudio (int sector, int count, std::uint8_t* out, const std::atomic<bool>* flag)
{
    if (sector < 0 || count < 1 || count > platform::CdDevice::maxSectorsPerRead || out == nullptr)
        return -1;

    struct Read
    {
        std::vector<std::uint8_t> bytes;
        int result = -1;
    };
    auto read = std::make_shared<Read>();
    read->bytes.resize ((size_t) count * platform::CdDevice::sectorBytes);
    if (! shared->perform (timeLimitMs, [read, sector, count] (platform::CdDevice& d)
                   { read->result = d.readAudio (sector, count, read->bytes.data()); }, flag))
        return -1;

    if (read->result > 0)
        std::copy_n (read->bytes.begin(), std::min ((size_t) read->result, read->bytes.size()), out);
    return read->result;
}
} // namespace vantrel
