#include "support/MessagePump.h"

#include <juce_events/juce_events.h>

#include <chrono>
#include <memory>

namespace juce
{
// JUCE's Linux loop step, defined in juce_events (the step runDispatchLoopUntil runs): waits for
// and delivers the next message or file-descriptor event (the X connection's among them).
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace vantrel::platform
{
namespace
{
// Keeps the loop waking while the condition is false: the step waits until something happens.
struct Heartbeat : juce::Timer
{
    void timerCallback() override {}
};
} // namespace

bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs)
{
    JUCE_ASSERT_MESSAGE_THREAD
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    Heartbeat heartbeat;
    heartbeat.startTimer (5);

    while (! condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();

        juce::dispatchNextMessageOnSystemQueue (false);
    }

    return true;
}

bool pumpPostedMessages (int timeoutMs)
{
    // Posted messages are delivered in order: once ours has come, every earlier one has.
    auto arrived = std::make_shared<bool> (false);
    juce::MessageManager::callAsync ([arrived] { *arrived = true; });
    return pumpMessagesUntil ([arrived] { return *arrived; }, timeoutMs);
}
bool dispatchReadyMessages()
{
    JUCE_ASSERT_MESSAGE_THREAD
    bool delivered = false;
    // Bounded: a message that posts another would keep the loop ready for ever.
    for (int pass = 0; pass < 1000 && juce::dispatchNextMessageOnSystemQueue (true); ++pass)
        delivered = true;
    return delivered;
}
} // namespace vantrel::platform
