#include "vsthost/ProcessInterleaved.h"

#include "vsthost/PluginBackend.h"
#include "vsthost/ProtocolWords.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <fstream>

namespace orvane::vsthost
{
ProcessResult processInterleaved (PluginBackend& backend, const ProcessConfig& config, std::vector<float>& samples,
                                  std::uint32_t frames, std::uint32_t channels)
{
    VANTREL_ASSERT_PROTOCOL_THREAD;
    const auto sampleCount = static_cast<std::uint64_t> (frames) * static_cast<std::uint64_t> (channels);

    if (frames == 0 || channels != config.channels || sampleCount != samples.size() || config.maxBlockFrames == 0)
        return ProcessResult::failure ("invalid process buffer shape");

    // One block, reused for every chunk of this call.
    thread_local ProcessBlock block;
    block.channels = channels;

    for (std::uint64_t frame = 0; frame < frames;)
    {
        const auto chunkFrames = static_cast<std::uint32_t> (std::min<std::uint64_t> (frames - frame, config.maxBlockFrames));
        const auto first = static_cast<std::size_t> (frame * channels);
        const auto count = static_cast<std::size_t> (static_cast<std::uint64_t> (chunkFrames) * channels);

        block.frames = chunkFrames;
        block.samples.assign (samples.begin() + static_cast<std::ptrdiff_t> (first),
                              samples.begin() + static_cast<std::ptrdiff_t> (first + count));

        auto result = backend.process (block);

        if (! result.ok)
            return result;

        if (block.samples.size() == count)
            std::copy (block.samples.begin(), block.samples.end(), samples.begin() + static_cast<std::ptrdiff_t> (first));

        frame += chunkFrames;
    }

    return ProcessResult::success();
}

bool readFloatFile (const std::string& path, std::vector<float>& samples)
{
    std::ifstream file (path, std::ios::binary | std::ios::ate);

    if (! file)
        return false;

    const auto size = static_cast<long long> (file.tellg());

    if (size < 0 || size % 4 != 0 || static_cast<std::uint64_t> (size) > protocol::maxFloatFileBytes)
        return false;

    samples.assign (static_cast<std::size_t> (size / 4), 0.0f);
    file.seekg (0);

    if (size > 0 && ! file.read (reinterpret_cast<char*> (samples.data()), size))
        return false;

    return true;
}

bool writeFloatFile (const std::string& path, const std::vector<float>& samples)
{
    std::ofstream file (path, std::ios::binary | std::ios::trunc);

    if (! file)
        return false;

    file.write (reinterpret_cast<const char*> (samples.data()), static_cast<std::streamsize> (samples.size() * sizeof (float)));
    file.flush();
    return static_cast<bool> (file);
}
} // namespace orvane::vsthost
