#include "audio/media/ResampleKernel.h"

#include "audio/media/MediaTexts.h"

#include <immintrin.h>

#include <algorithm>

namespace vantrel
{
namespace
{
constexpr std::size_t cancelInterval = 65536;

struct Position
{
    std::int64_t integer;     // d: the source frame at or before the exact position
    const double* phase;      // the 64 coefficients of the fraction's phase
};

inline Position positionOf (const ResampleJob& job, std::size_t i)
{
    const double t = (double) i * job.step;
    const auto d = (std::int64_t) t;
    const int p = std::clamp ((int) ((t - (double) d) * resamplePhases), 0, resamplePhases - 1);
    return { d, job.table + (std::size_t) p * resampleTaps };
}

inline bool allTapsInside (const ResampleJob& job, std::int64_t d)
{
    return d >= resampleTapsBefore && d + (resampleTaps - resampleTapsBefore) < (std::int64_t) job.sourceFrames;
}

/** The bounds-checked sum near the ends of the source: missing taps count as 0. */
void edgeFrame (const ResampleJob& job, std::size_t i, const Position& at)
{
    const int rightChannel = std::min (job.channels - 1, 1);
    double left = 0.0;
    double right = 0.0;
    for (int k = 0; k < resampleTaps; ++k)
    {
        const std::int64_t frame = at.integer - resampleTapsBefore + k;
        if (frame < 0 || frame >= (std::int64_t) job.sourceFrames)
            continue;
        const float* s = job.source + (std::size_t) frame * (std::size_t) job.channels;
        left += at.phase[k] * (double) s[0];
        right += at.phase[k] * (double) s[rightChannel];
    }
    job.left[i] = (float) left;
    job.right[i] = (float) right;
}

void checkCancel (const ResampleJob& job)
{
    if (isCancelled (job.cancel))
        failLoad (mediatext::cancelled);
}

//------------------------------------------------------------------------------
// Portable inner products (four partial sums, so the compiler can vectorise).

inline void monoPortable (const float* s, const double* c, float& out)
{
    double sum[4] = {};
    for (int k = 0; k < resampleTaps; k += 4)
        for (int j = 0; j < 4; ++j)
            sum[j] += c[k + j] * (double) s[k + j];
    out = (float) ((sum[0] + sum[1]) + (sum[2] + sum[3]));
}

inline void stereoPortable (const float* s, const double* c, float& left, float& right)
{
    double l[2] = {};
    double r[2] = {};
    for (int k = 0; k < resampleTaps; k += 2)
        for (int j = 0; j < 2; ++j)
        {
            l[j] += c[k + j] * (double) s[2 * (k + j)];
            r[j] += c[k + j] * (double) s[2 * (k + j) + 1];
        }
    left = (float) (l[0] + l[1]);
    right = (float) (r[0] + r[1]);
}

template <int Channels>
void rangePortable (const ResampleJob& job, std::size_t begin, std::size_t end)
{
    for (std::size_t i = begin; i < end; ++i)
    {
        if (i % cancelInterval == 0)
            checkCancel (job);

        const auto at = positionOf (job, i);
        if (! allTapsInside (job, at.integer))
        {
            edgeFrame (job, i, at);
            continue;
        }

        const float* s = job.source + (std::size_t) (at.integer - resampleTapsBefore) * Channels;
        if constexpr (Channels == 1)
        {
            monoPortable (s, at.phase, job.left[i]);
            job.right[i] = job.left[i];
        }
        else
        {
            stereoPortable (s, at.phase, job.left[i], job.right[i]);
        }
    }
}

//------------------------------------------------------------------------------
// AVX2 + FMA inner products.

__attribute__ ((target ("avx2,fma"))) inline double horizontalSum (__m256d v)
{
    const __m128d pair = _mm_add_pd (_mm256_castpd256_pd128 (v), _mm256_extractf128_pd (v, 1));
    return _mm_cvtsd_f64 (_mm_add_sd (pair, _mm_unpackhi_pd (pair, pair)));
}

__attribute__ ((target ("avx2,fma"))) inline float monoWide (const float* s, const double* c)
{
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (int k = 0; k < resampleTaps; k += 16)
    {
        a0 = _mm256_fmadd_pd (_mm256_loadu_pd (c + k),      _mm256_cvtps_pd (_mm_loadu_ps (s + k)),      a0);
        a1 = _mm256_fmadd_pd (_mm256_loadu_pd (c + k + 4),  _mm256_cvtps_pd (_mm_loadu_ps (s + k + 4)),  a1);
        a2 = _mm256_fmadd_pd (_mm256_loadu_pd (c + k + 8),  _mm256_cvtps_pd (_mm_loadu_ps (s + k + 8)),  a2);
        a3 = _mm256_fmadd_pd (_mm256_loadu_pd (c + k + 12), _mm256_cvtps_pd (_mm_loadu_ps (s + k + 12)), a3);
    }
    return (float) horizontalSum (_mm256_add_pd (_mm256_add_pd (a0, a1), _mm256_add_pd (a2, a3)));
}

/** Stereo frames are interleaved L R L R: each coefficient is doubled ([c0 c0 c1 c1]) so that
    one vector holds two taps of both channels; even lanes sum left, odd lanes right. */
__attribute__ ((target ("avx2,fma"))) inline void stereoWide (const float* s, const double* c, float& left, float& right)
{
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (int k = 0; k < resampleTaps; k += 8)
    {
        const __m256d c0 = _mm256_loadu_pd (c + k);
        const __m256d c1 = _mm256_loadu_pd (c + k + 4);
        a0 = _mm256_fmadd_pd (_mm256_permute4x64_pd (c0, 0x50), _mm256_cvtps_pd (_mm_loadu_ps (s + 2 * k)),      a0);
        a1 = _mm256_fmadd_pd (_mm256_permute4x64_pd (c0, 0xfa), _mm256_cvtps_pd (_mm_loadu_ps (s + 2 * k + 4)),  a1);
        a2 = _mm256_fmadd_pd (_mm256_permute4x64_pd (c1, 0x50), _mm256_cvtps_pd (_mm_loadu_ps (s + 2 * k + 8)),  a2);
        a3 = _mm256_fmadd_pd (_mm256_permute4x64_pd (c1, 0xfa), _mm256_cvtps_pd (_mm_loadu_ps (s + 2 * k + 12)), a3);
    }
    const __m256d sum = _mm256_add_pd (_mm256_add_pd (a0, a1), _mm256_add_pd (a2, a3));
    const __m128d pairs = _mm_add_pd (_mm256_castpd256_pd128 (sum), _mm256_extractf128_pd (sum, 1));
    left = (float) _mm_cvtsd_f64 (pairs);
    right = (float) _mm_cvtsd_f64 (_mm_unpackhi_pd (pairs, pairs));
}

template <int Channels>
__attribute__ ((target ("avx2,fma"))) void rangeWide (const ResampleJob& job, std::size_t begin, std::size_t end)
{
    for (std::size_t i = begin; i < end; ++i)
    {
        if (i % cancelInterval == 0)
            checkCancel (job);

        const auto at = positionOf (job, i);
        if (! allTapsInside (job, at.integer))
        {
            edgeFrame (job, i, at);
            continue;
        }

        const float* s = job.source + (std::size_t) (at.integer - resampleTapsBefore) * Channels;
        if constexpr (Channels == 1)
        {
            job.left[i] = monoWide (s, at.phase);
            job.right[i] = job.left[i];
        }
        else
        {
            stereoWide (s, at.phase, job.left[i], job.right[i]);
        }
    }
}

bool detectWideVectors()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma");
}
} // namespace

bool resampleUsesWideVectors()
{
    static const bool wide = detectWideVectors();
    return wide;
}

ResamplePath resamplePathInUse (ResamplePath path)
{
    if (path == ResamplePath::portable || ! detectWideVectors())
        return ResamplePath::portable;
    return ResamplePath::avx2;
}

const char* resamplePathName (ResamplePath path)
{
    switch (path)
    {
        case ResamplePath::portable: return "portable";
        case ResamplePath::avx512:   return "AVX-512";
        default:                     return "AVX2/FMA";
    }
}

void resampleRange (const ResampleJob& job, std::size_t begin, std::size_t end)
{
    const bool stereo = job.channels >= 2;
    if (resamplePathInUse (job.path) != ResamplePath::portable)
        stereo ? rangeWide<2> (job, begin, end) : rangeWide<1> (job, begin, end);
    else
        stereo ? rangePortable<2> (job, begin, end) : rangePortable<1> (job, begin, end);
}
} // namespace vantrel
