#pragma once

// Checks of the threading contracts that headers state in words ("message thread only", "audio
// thread, realtime-safe", "control thread only", "UI thread only"). A thread takes its role with a
// ThreadRoleScope where it starts its work (the device callback, the rack's control loop, the
// plug-in worker's protocol loop, a background worker's loop); entry points check the calling
// thread's role with the macros below. An object that belongs to one thread which has no role of
// its own (the EQ window's analyser thread, the thread that started a worker) checks its callers
// with a ThreadOwnerCheck. The checks are compiled in debug and sanitizer builds
// (VANTREL_THREAD_CHECKS) and print the broken contract and abort; release builds compile them to
// nothing. Every check is a thread-local access or one atomic compare: realtime-safe (no
// allocation, no lock, no system call).

#include <atomic>

namespace vantrel
{
enum class ThreadRole
{
    message,    // every thread that took no other role: the message thread, test threads, and the
                // plug-in worker's UI thread (the worker's message loop)
    audio,      // the device callback and the offline renderer
    control,    // the master rack's control thread
    protocol,   // the plug-in worker's protocol thread (its command loop and the plug-in's processing)
    background  // a background worker that must never run a message-thread entry point: the media
                // loader, the save worker, the library scan
};

/** The calling thread's role. */
ThreadRole currentThreadRole() noexcept;

/** Gives the calling thread a role until the scope ends, then restores the previous one. */
class ThreadRoleScope
{
public:
    explicit ThreadRoleScope (ThreadRole role) noexcept;
    ~ThreadRoleScope();

    ThreadRoleScope (const ThreadRoleScope&) = delete;
    ThreadRoleScope& operator= (const ThreadRoleScope&) = delete;

private:
    ThreadRole previous;
};

/** Prints the broken contract with its place and aborts. */
[[noreturn]] void threadContractBroken (const char* expected, const char* function, const char* file, int line) noexcept;

/** A token of the calling thread, distinct for every thread alive (the address of a thread-local):
    no system call. */
const void* currentThreadToken() noexcept;

/** The thread an object belongs to: the first thread that checks becomes the owner, every later
    check must come from it. A copy has no owner yet. Empty and free in release builds. */
class ThreadOwnerCheck
{
public:
#if VANTREL_THREAD_CHECKS
    ThreadOwnerCheck() noexcept = default;
    ThreadOwnerCheck (const ThreadOwnerCheck&) noexcept {}
    ThreadOwnerCheck& operator= (const ThreadOwnerCheck&) noexcept { return *this; }

    /** True when the calling thread is the owner, or became it now. */
    bool isOwnerThread() const noexcept
    {
        const void* mine = currentThreadToken();
        const void* seen = owner.load (std::memory_order_relaxed);
        if (seen == mine)
            return true;
        return seen == nullptr && (owner.compare_exchange_strong (seen, mine, std::memory_order_relaxed) || seen == mine);
    }

    /** The next thread that checks becomes the owner (the object is handed over). */
    void release() noexcept  { owner.store (nullptr, std::memory_order_relaxed); }

private:
    mutable std::atomic<const void*> owner { nullptr };
#else
    void release() noexcept {}
#endif
};
} // namespace vantrel

#if VANTREL_THREAD_CHECKS
 #define VANTREL_ASSERT_THREAD_ROLE(role, name)                                                       \
    do {                                                                                               \
        if (::vantrel::currentThreadRole() != (role))                                                  \
            ::vantrel::threadContractBroken (name, __func__, __FILE__, __LINE__);                     \
    } while (false)
 #define VANTREL_ASSERT_NOT_THREAD_ROLE(role, name)                                                   \
    do {                                                                                               \
        if (::vantrel::currentThreadRole() == (role))                                                  \
            ::vantrel::threadContractBroken (name, __func__, __FILE__, __LINE__);                     \
    } while (false)
 #define VANTREL_ASSERT_OWNER_THREAD(check, name)                                                     \
    do {                                                                                               \
        if (! (check).isOwnerThread())                                                                 \
            ::vantrel::threadContractBroken (name, __func__, __FILE__, __LINE__);                     \
    } while (false)
 #define VANTREL_ASSERT_THREAD(condition, name)                                                       \
    do {                                                                                               \
        if (! (condition))                                                                             \
            ::vantrel::threadContractBroken (name, __func__, __FILE__, __LINE__);                     \
    } while (false)
#else
 #define VANTREL_ASSERT_THREAD_ROLE(role, name) do {} while (false)
 #define VANTREL_ASSERT_NOT_THREAD_ROLE(role, name) do {} while (false)
 #define VANTREL_ASSERT_OWNER_THREAD(check, name) do { (void) (check); } while (false)
 #define VANTREL_ASSERT_THREAD(condition, name) do {} while (false)
#endif

/** The calling thread is the message thread (took no other role). */
#define VANTREL_ASSERT_MESSAGE_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::message, "message thread")
/** The calling thread renders audio. */
#define VANTREL_ASSERT_AUDIO_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::audio, "audio thread")
/** The calling thread is the rack's control thread. */
#define VANTREL_ASSERT_CONTROL_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::control, "control thread")
/** The calling thread is the plug-in worker's UI thread (its message loop: a thread without a role). */
#define VANTREL_ASSERT_UI_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::message, "UI thread")
/** The calling thread is the plug-in worker's protocol thread. */
#define VANTREL_ASSERT_PROTOCOL_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::protocol, "protocol thread")
/** The calling thread may block (a loading, saving or scanning thread): never the audio thread. */
#define VANTREL_ASSERT_NOT_AUDIO_THREAD VANTREL_ASSERT_NOT_THREAD_ROLE (::vantrel::ThreadRole::audio, "non-audio thread")
