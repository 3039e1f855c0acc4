#pragma once

#include <array>

namespace vantrel
{
/** Filter shape codes of an EQ band, as stored in the session files. */
enum class EqShape : int
{
    bell = 0,
    lowShelf = 1,
    highShelf = 2,
    highPass = 3,
    lowPass = 4
};

/** One band of an 8-band parametric EQ. Floating-point members compare with
    IEEE equality (NaN never equal, +0 == -0). */
struct EqBand
{
    bool enabled = true;
    int shape = 0;            // an EqShape code
    double frequency = 1000.0; // Hz
    double gainDb = 0.0;
    double q = 1.0;

    bool operator== (const EqBand& other) const
    {
        return enabled == other.enabled && shape == other.shape && frequency == other.frequency
            && gainDb == other.gainDb && q == other.q;
    }
    bool operator!= (const EqBand& other) const  { return ! operator== (other); }
};

/** The EQ of a row, of a playlist bus and of the master bus. The default value
    is the EQ of every new row, playlist and master bus. */
struct EqSettings
{
    static constexpr int numBands = 8;

    bool enabled = false;
    std::array<EqBand, numBands> bands;

    EqSettings();

    /** True when every band has a known shape, 20..20000 Hz, -18..+18 dB and
        q 0.1..12, all finite. The enabled flags are not checked. */
    bool isValid() const;

    /** The band rules of isValid for one band. */
    static bool isValidBand (const EqBand& band);

    bool operator== (const EqSettings& other) const  { return enabled == other.enabled && bands == other.bands; }
    bool operator!= (const EqSettings& other) const  { return ! operator== (other); }
};
} // namespace vantrel
