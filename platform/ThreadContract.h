#pragma once

// Checks of the threading contracts that headers state in words ("message thread only", "audio
// thread, realtime-safe", "control thread only"). A thread takes its role with a ThreadRoleScope
// where it starts its work (the device callback, the rack's control loop); entry points check the
// calling thread's role with the macros below. The checks are compiled in debug and sanitizer
// builds (VANTREL_THREAD_CHECKS) and print the broken contract and abort; release builds compile
// them to nothing. Reading and setting the role is a thread-local access: realtime-safe.

namespace vantrel
{
enum class ThreadRole
{
    message,   // every thread that took no other role: the message thread, and test threads
    audio,     // the device callback and the offline renderer
    control    // the master rack's control thread
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
} // namespace vantrel

#if VANTREL_THREAD_CHECKS
 #define VANTREL_ASSERT_THREAD_ROLE(role, name)                                                       \
    do {                                                                                               \
        if (::vantrel::currentThreadRole() != (role))                                                  \
            ::vantrel::threadContractBroken (name, __func__, __FILE__, __LINE__);                     \
    } while (false)
#else
 #define VANTREL_ASSERT_THREAD_ROLE(role, name) do {} while (false)
#endif

/** The calling thread is the message thread (took no other role). */
#define VANTREL_ASSERT_MESSAGE_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::message, "message thread")
/** The calling thread renders audio. */
#define VANTREL_ASSERT_AUDIO_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::audio, "audio thread")
/** The calling thread is the rack's control thread. */
#define VANTREL_ASSERT_CONTROL_THREAD VANTREL_ASSERT_THREAD_ROLE (::vantrel::ThreadRole::control, "control thread")
