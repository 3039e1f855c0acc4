#include "audio/media/MediaFoundationScope.h"

extern "C"
{
#include <libavutil/log.h>
}

#include <mutex>

namespace vantrel
{
MediaFoundationScope::MediaFoundationScope() noexcept
{
    static std::once_flag quietLogging;
    std::call_once (quietLogging, [] { av_log_set_level (AV_LOG_QUIET); });
    startedOk = true;
}
} // namespace vantrel
