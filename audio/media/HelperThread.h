#pragma once

#include <functional>

namespace vantrel
{
/** Runs helperWork on one short-lived helper thread (below-normal priority) while the calling
    thread runs ownWork, then joins the helper. An exception of ownWork is rethrown after the
    join; otherwise an exception of the helper is rethrown on the calling thread. Throws the
    standard system error when the helper thread cannot be started (ownWork has not run then). */
void runWithHelperThread (const std::function<void()>& helperWork, const std::function<void()>& ownWork);
} // namespace vantrel
