#pragma once

#include <functional>

namespace vantrel::platform
{
/** Runs the JUCE message loop on the calling thread, which must be the message thread, until
    `condition` holds or `timeoutMs` has passed; true when it held. The loop also serves the X
    connection, so windows get their events. (MessageManager::runDispatchLoopUntil is compiled
    only with JUCE_MODAL_LOOPS_PERMITTED, which this build leaves off.) */
bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs = 60000);

/** Pumps until every message posted before the call has been delivered (at most `timeoutMs`). */
bool pumpPostedMessages (int timeoutMs = 60000);

/** Delivers what the message loop has ready now (posted messages, readable descriptors such as
    the X connection's) without waiting for anything more; true when something was delivered. */
bool dispatchReadyMessages();
} // namespace vantrel::platform
