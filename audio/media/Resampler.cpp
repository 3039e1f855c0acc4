#include "audio/media/Resampler.h"

#include "audio/media/HelperThread.h"
#include "audio/media/LargeBuffers.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/ResampleKernel.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>

namespace vantrel
{
namespace
{
constexpr double pi = 3.141592653589793238462643383279502884;

/** Copies frame by frame when the rates are the same; frames beyond the source stay 0. */
void copyFrames (const std::vector<float>& samples, int channels, std::size_t sourceFrames, PreparedPcm& pcm)
{
    const int rightChannel = std::min (channels - 1, 1);
    const std::size_t frames = std::min (sourceFrames, pcm.left.size());
    for (std::size_t i = 0; i < frames; ++i)
    {
        pcm.left[i] = samples[i * (std::size_t) channels];
        pcm.right[i] = samples[i * (std::size_t) channels + (std::size_t) rightChannel];
    }
}
} // namespace

std::vector<double> buildResampleTable (double cutoff)
{
    std::vector<double> table ((std::size_t) resamplePhases * resampleTaps);
    for (int p = 0; p < resamplePhases; ++p)
    {
        double* phase = table.data() + (std::size_t) p * resampleTaps;
        double sum = 0.0;
        for (int k = 0; k < resampleTaps; ++k)
        {
            const double u = (double) k - resampleTapsBefore - (double) p / resamplePhases;
            const double v = pi * u * cutoff;
            const double sinc = std::abs (v) < 1.0e-12 ? cutoff : cutoff * std::sin (v) / v;
            const double window = 0.42 + 0.5 * std::cos (pi * u / 32.0) + 0.08 * std::cos (2.0 * pi * u / 32.0);
            phase[k] = window * sinc;
            sum += phase[k];
        }
        for (int k = 0; k < resampleTaps; ++k)
            phase[k] /= sum;
    }
    return table;
}

std::shared_ptr<PreparedPcm> resamplePcm (const std::vector<float>& samples, int channels, double sourceRate,
                                          double targetRate, CancelFlag cancel)
{
    const auto frames = channels > 0 ? (std::uint64_t) samples.size() / (std::uint64_t) channels : 0;
    return resamplePcm (samples, channels, sourceRate, targetRate, cancel,
                        resampleWorkerCount (processorTopology(), frames, sourceRate));
}

std::shared_ptr<PreparedPcm> resamplePcm (const std::vector<float>& samples, int channels, double sourceRate,
                                          double targetRate, CancelFlag cancel, int workers, ResamplePath path)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    if (channels < 1 || channels > 2 || ! (sourceRate > 0.0) || ! std::isfinite (targetRate))
        failLoad (mediatext::noPlayablePcm);

    const std::size_t n = samples.size() / (std::size_t) channels;
    const double exactFrames = std::round ((double) n * targetRate / sourceRate);
    if (! (exactFrames >= 1.0 && exactFrames <= (double) preparedFrameLimit))
        failLoad (mediatext::memoryLimit);
    const auto m = (std::size_t) exactFrames;

    auto pcm = std::make_shared<PreparedPcm>();
    pcm->sampleRate = targetRate;
    resizeLarge (pcm->left, m);
    resizeLarge (pcm->right, m);

    if (std::abs (sourceRate - targetRate) < sameRateTolerance)
    {
        copyFrames (samples, channels, n, *pcm);
        return pcm;
    }

    const auto table = buildResampleTable (std::min (targetRate / sourceRate, 1.0) * 0.94);
    ResampleJob job;
    job.source = samples.data();
    job.sourceFrames = n;
    job.channels = channels;
    job.step = sourceRate / targetRate;
    job.table = table.data();
    job.left = pcm->left.data();
    job.right = pcm->right.data();
    job.cancel = cancel;
    job.path = path;

    if (workers >= 2)
        runWithHelperThread ([&job, m] { resampleRange (job, m / 2, m); },
                             [&job, m] { resampleRange (job, 0, m / 2); });
    else
        resampleRange (job, 0, m);

    if (isCancelled (cancel))
        failLoad (mediatext::cancelled);
    return pcm;
}
} // namespace vantrel
