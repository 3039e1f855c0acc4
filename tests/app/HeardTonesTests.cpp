// The tests' listener of a growing capture: the same levels as a look at the whole signal, each
// window worked out once however often a test looks again.
#include "SessionTestSupport.h"

#include "support/HeardTones.h"

#include <gtest/gtest.h>

namespace
{
using vantrel::test::HeardTones;
using vantrel::test::toneAmplitude;

std::vector<float> sines (const std::vector<double>& frequencies, std::size_t framesEach)
{
    std::vector<float> out;
    for (const auto frequency : frequencies)
        for (std::size_t i = 0; i < framesEach; ++i)
            out.push_back (0.25f * (float) std::sin (2.0 * 3.141592653589793 * frequency * (double) i / 48000.0));
    return out;
}

TEST (HeardTones, EveryLookGivesTheWholeSignalsLevelsAndWorksEachWindowOutOnce)
{
    const std::vector<double> frequencies { 600.0, 700.0, 800.0 };
    for (const auto& signal : { sines (frequencies, 4800), sines ({ 800.0, 600.0 }, 7000) })
    {
        SCOPED_TRACE (signal.size());
        HeardTones tones (960, 240);
        std::size_t taken = 0, chunk = 1;
        while (taken < signal.size())   // chunks of 1, 8, 64, ... frames, as cycles arrive
        {
            const auto count = std::min (chunk, signal.size() - taken);
            tones.append (signal.data() + taken, count);
            taken += count;
            chunk = chunk * 8 % 1531;
            const std::vector<float> heard (signal.begin(), signal.begin() + (std::ptrdiff_t) taken);
            for (std::size_t frame = 0; frame + 960 <= taken; frame += 240)
                for (const auto frequency : frequencies)
                    ASSERT_DOUBLE_EQ (tones.level (frequency, frame), toneAmplitude (heard, frame, frame + 960, frequency))
                        << frequency << " Hz at " << frame << " of " << taken;
        }
        // Each window on the grid, at each frequency, was worked out once.
        EXPECT_EQ (tones.windowsWorkedOut(), (signal.size() - 960) / 240 * 3 + 3);
        // Off the grid and past the end: worked out as asked, the same figure.
        EXPECT_DOUBLE_EQ (tones.level (700.0, 1001), toneAmplitude (signal, 1001, 1961, 700.0));
        EXPECT_DOUBLE_EQ (tones.level (700.0, signal.size() - 500), toneAmplitude (signal, signal.size() - 500, signal.size(), 700.0));
        // Started again: the new frames' levels.
        tones.clear();
        tones.append (signal.data() + 4800, 960);
        EXPECT_DOUBLE_EQ (tones.level (700.0, 0), toneAmplitude (signal, 4800, 5760, 700.0));
    }
}
} // namespace
