#include "audio/media/HelperThread.h"

#include "platform/BelowNormalPriority.h"
#include "platform/ThreadName.h"

#include <exception>
#include <thread>

namespace vantrel
{
void runWithHelperThread (const std::function<void()>& helperWork, const std::function<void()>& ownWork)
{
    std::exception_ptr helperFailure;
    std::thread helper ([&helperWork, &helperFailure]
    {
        platform::nameCurrentThread ("media helper");
        platform::setBelowNormalPriority();
        try
        {
            helperWork();
        }
        catch (...)
        {
            helperFailure = std::current_exception();
        }
    });

    std::exception_ptr ownFailure;
    try
    {
        ownWork();
    }
    catch (...)
    {
        ownFailure = std::current_exception();
    }

    helper.join();
    if (ownFailure)
        std::rethrow_exception (ownFailure);
    if (helperFailure)
        std::rethrow_exception (helperFailure);
}
} // namespace vantrel
