#pragma once

#include <chrono>
#include <thread>
#include <utility>

namespace vantrel::testing
{
/** Asks `condition` every `step` (calling `idle` in between) until it holds or `cap` has passed;
    answers the condition. It is asked once more after the cap, so a thread that was not scheduled
    for a while does not miss a condition that came true meanwhile. The cap only turns a hang into
    a failure: a passing test never waits that long. */
template <typename Condition, typename Idle>
bool waitUntil (Condition&& condition, std::chrono::milliseconds cap, std::chrono::milliseconds step, Idle&& idle)
{
    const auto giveUp = std::chrono::steady_clock::now() + cap;
    while (! condition())
    {
        if (std::chrono::steady_clock::now() >= giveUp)
            return condition();
        idle();
        std::this_thread::sleep_for (step);
    }
    return true;
}

/** As above, with nothing to do between the asks. */
template <typename Condition>
bool waitUntil (Condition&& condition, std::chrono::milliseconds cap, std::chrono::milliseconds step = std::chrono::milliseconds (1))
{
    return waitUntil (std::forward<Condition> (condition), cap, step, [] {});
}
} // namespace vantrel::testing
