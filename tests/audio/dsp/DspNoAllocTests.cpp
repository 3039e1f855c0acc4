#include "tests/audio/AllocationCounter.h"
#include "support/SignalMeasures.h"

#include "audio/dsp/AnalyzerTap.h"
#include "audio/dsp/EqProcessor.h"
#include "audio/dsp/MasterOutputProcessor.h"
#include "platform/ThreadContract.h"

#include <gtest/gtest.h>

#include <memory>

using namespace orvane::audio;
using namespace orvane::audio::testing;

TEST (DspNoAlloc, TheAudioThreadWorkAllocatesNothing)
{
    // Everything the device thread calls here: the master stage over blocks of every size, EQ
    // changes and processing, and the analyser tap with frames completing and overflowing.
    auto stage = std::make_unique<MasterOutputProcessor>();
    auto tap = std::make_unique<AnalyzerTap>();
    auto frame = std::make_unique<AnalyzerFrame>();
    vantrel::EqSettings settings;
    settings.enabled = true;
    settings.bands[0].gainDb = 9.0;
    settings.bands[4].gainDb = -6.0;
    const auto boosted = designEq (settings, 48000.0);
    const auto flat = EqCoefficients::identity();
    EqProcessor eq;

    const auto sizes = blockSizesCovering (200000, 17, { 0, 1, 7, 63, 64, 65, 511, 512, 4096 });
    std::vector<float> left (4096), right (4096);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = right[i] = (float) std::sin (0.01 * (double) i) * 3.0f;

    ScopedAllocationCount count;
    tap->setSourceSelection (AnalyzerFrame::masterOutput);
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);   // as the device thread
    for (size_t b = 0; b < sizes.size(); ++b)
    {
        const int n = std::min (sizes[b], 4096);
        float* channels[] = { left.data(), right.data() };
        if (b % 5 == 0)
            eq.rampTo (b % 10 == 0 ? boosted : flat, 960);
        if (b % 23 == 0)
            eq.setCoefficients (boosted);

        const auto selection = tap->beginBlock (48000.0);
        for (int i = 0; i < n; ++i)
        {
            double l = left[(size_t) i], r = right[(size_t) i];
            eq.process (l, r);
            tap->push ((float) l, (float) r, selection, 48000.0);
        }
        stage->process (channels, 2, n);
        if (b % 3 == 0)
            tap->pop (*frame);
    }
    EXPECT_EQ (count.allocations(), 0u);
    EXPECT_GT (tap->overflowCount(), 0u) << "frames completed and the ring filled up";
}
