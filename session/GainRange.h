#pragma once

namespace vantrel
{
/** The range of every gain the operator sets, in dB: a row's, a playlist's, a pad's, the pad
    bus's and the master's. Stored documents hold gains in it, the controls offer it and the mix
    clamps to it. */
constexpr float minGainDb = -60.0f;
constexpr float maxGainDb = 12.0f;
} // namespace vantrel
