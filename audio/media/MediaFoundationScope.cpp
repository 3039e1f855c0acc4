#include "audio/media/MediaFoundationScope.h"

#include "audio/media/FfmpegStream.h"

namespace vantrel
{
MediaFoundationScope::MediaFoundationScope() noexcept
{
    quietFfmpegLogging();
    startedOk = true;
}
} // namespace vantrel
