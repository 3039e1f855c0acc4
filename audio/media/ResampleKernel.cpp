#include "audio/media/ResampleKernel.h"

#include "audio/media/MediaTexts.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantrel
{
namespace
{
constexpr std::size_t cancelInterval = 65536;

/** Source frames per channel a call converts to double at a time: 64 KB for stereo, so the
    window stays in the cache while some 4,000 output frames read it. */
constexpr std::int64_t windowFrames = 4096;

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

/** The bounds-checked sum near the ends of the source: missing taps count as 0. Kept out of
    line so that no vector path's compilation can fuse its multiplies and adds. */
__attribute__ ((noinline)) void edgeFrame (const ResampleJob& job, std::size_t i, const Position& at)
{
    const int rightChannel = std::min (job.channels - 1, 1);
    double left = 0.0;
    double right = 0.0;
    for (int k = 0; k < resampleTaps; ++k)
    {
        const std::int64_t frame = at.integer - resampleTapsBefore + k;
        if (frame < 0 || frame >= (std::int64_t) job.sourceFrames)
            continue;
        const float* s = job.source + ((std::size_t) frame - job.sourceFirst) * (std::size_t) job.channels;
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

        const float* s = job.source + ((std::size_t) (at.integer - resampleTapsBefore) - job.sourceFirst) * Channels;
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
// The FMA paths. Every output frame sums its taps in fixed chains, each a fused multiply-add
// chain starting from 0 in tap order, combined in a fixed order:
//   stereo: 8 chains per channel (taps t, t+8, ... t+56), each channel
//           ((c0+c2)+(c4+c6)) + ((c1+c3)+(c5+c7));
//   mono:   16 chains (taps t, t+16, t+32, t+48), v[j] = (c[j]+c[4+j]) + (c[8+j]+c[12+j]),
//           then (v0+v2)+(v1+v3).
// A vector lane holds one chain of one frame; several frames are computed together and their
// chains combined with shuffles, so one vector of sums holds consecutive output frames.

/** The source converted to double for a stretch of frames, one array per channel: each source
    frame is converted once instead of once per output frame reading it, and one coefficient
    vector serves both channels. Owned by one call. */
struct Window
{
    double* left = nullptr;     // windowFrames doubles; the right channel follows them
    std::int64_t first = 0;     // the source frame at left[0]
    std::int64_t limit = 0;     // one past the last frame converted

    bool covers (std::int64_t d) const
    {
        return d - resampleTapsBefore >= first && d + (resampleTaps - resampleTapsBefore) <= limit;
    }
};

/** Converts up to windowFrames source frames from first on (exact: every float is a double). */
template <int Channels>
__attribute__ ((target ("avx2,fma"))) void fillWindow (const ResampleJob& job, Window& w, std::int64_t first)
{
    const std::int64_t present = (std::int64_t) (job.sourceLimit > 0 ? job.sourceLimit : job.sourceFrames);
    const std::int64_t count = std::min (windowFrames, present - first);
    const float* s = job.source + ((std::size_t) first - job.sourceFirst) * Channels;
    double* left = w.left;
    std::int64_t j = 0;
    if constexpr (Channels == 1)
    {
        for (; j + 4 <= count; j += 4)
            _mm256_store_pd (left + j, _mm256_cvtps_pd (_mm_loadu_ps (s + j)));
        for (; j < count; ++j)
            left[j] = (double) s[j];
    }
    else
    {
        double* right = left + windowFrames;
        const __m256i split = _mm256_setr_epi32 (0, 2, 4, 6, 1, 3, 5, 7);
        for (; j + 4 <= count; j += 4)
        {
            const __m256 lr = _mm256_permutevar8x32_ps (_mm256_loadu_ps (s + 2 * j), split);
            _mm256_store_pd (left + j, _mm256_cvtps_pd (_mm256_castps256_ps128 (lr)));
            _mm256_store_pd (right + j, _mm256_cvtps_pd (_mm256_extractf128_ps (lr, 1)));
        }
        for (; j < count; ++j)
        {
            left[j] = (double) s[2 * j];
            right[j] = (double) s[2 * j + 1];
        }
    }
    w.first = first;
    w.limit = first + count;
}

/** Up to Width consecutive output frames whose taps lie inside the source and the window; a
    short batch repeats its last frame in the lanes it does not store. */
template <int Width>
struct Batch
{
    const double* phase[Width];
    const double* taps[Width];     // the frame's tap 0 in the window's left array
    int count = 0;
};

template <int Width>
inline Batch<Width> nextBatch (const ResampleJob& job, const Window& w, std::size_t i, std::size_t end)
{
    Batch<Width> b;
    for (; b.count < Width && i + (std::size_t) b.count < end; ++b.count)
    {
        const auto at = positionOf (job, i + (std::size_t) b.count);
        if (! allTapsInside (job, at.integer) || ! w.covers (at.integer))
            break;
        b.phase[b.count] = at.phase;
        b.taps[b.count] = w.left + (at.integer - resampleTapsBefore - w.first);
    }
    for (int f = b.count; f > 0 && f < Width; ++f)
    {
        b.phase[f] = b.phase[b.count - 1];
        b.taps[f] = b.taps[b.count - 1];
    }
    return b;
}

/** Stores the first count of a batch's frames (planar, mono on both sides). */
inline void storeFrames (const ResampleJob& job, std::size_t i, int count, const float* left, const float* right)
{
    std::memcpy (job.left + i, left, sizeof (float) * (std::size_t) count);
    std::memcpy (job.right + i, right, sizeof (float) * (std::size_t) count);
}

//------------------------------------------------------------------------------
// AVX2 + FMA: four frames at a time, two in flight per pass.

/** [a0+a2, a1+a3, b0+b2, b1+b3] of two 4-lane vectors. */
__attribute__ ((target ("avx2,fma"))) inline __m256d halfSums (__m256d a, __m256d b)
{
    return _mm256_add_pd (_mm256_permute2f128_pd (a, b, 0x20), _mm256_permute2f128_pd (a, b, 0x31));
}

/** [a0+a1, b0+b1, c0+c1, d0+d1] from ab = [a0 a1 b0 b1] and cd = [c0 c1 d0 d1]. */
__attribute__ ((target ("avx2,fma"))) inline __m256d pairSums4 (__m256d ab, __m256d cd)
{
    const __m256d sums = _mm256_add_pd (_mm256_unpacklo_pd (ab, cd), _mm256_unpackhi_pd (ab, cd));   // a c b d
    return _mm256_permute4x64_pd (sums, 0xd8);
}

template <int Channels>
__attribute__ ((target ("avx2,fma"))) std::size_t runAvx2 (const ResampleJob& job, const Window& w, std::size_t i, std::size_t end)
{
    while (i < end)
    {
        const auto b = nextBatch<4> (job, w, i, end);
        if (b.count == 0)
            break;

        __m256d left, right;
        if constexpr (Channels == 2)
        {
            __m256d halvesLeft[2], halvesRight[2];
            for (int g = 0; g < 4; g += 2)
            {
                __m256d l0[2], l1[2], r0[2], r1[2];
                for (int f = 0; f < 2; ++f)
                    l0[f] = l1[f] = r0[f] = r1[f] = _mm256_setzero_pd();
                for (int k = 0; k < resampleTaps; k += 8)
                    for (int f = 0; f < 2; ++f)
                    {
                        const double* c = b.phase[g + f] + k;
                        const double* s = b.taps[g + f] + k;
                        const __m256d c0 = _mm256_loadu_pd (c);
                        const __m256d c1 = _mm256_loadu_pd (c + 4);
                        l0[f] = _mm256_fmadd_pd (c0, _mm256_loadu_pd (s), l0[f]);
                        l1[f] = _mm256_fmadd_pd (c1, _mm256_loadu_pd (s + 4), l1[f]);
                        r0[f] = _mm256_fmadd_pd (c0, _mm256_loadu_pd (s + windowFrames), r0[f]);
                        r1[f] = _mm256_fmadd_pd (c1, _mm256_loadu_pd (s + windowFrames + 4), r1[f]);
                    }
                halvesLeft[g / 2] = _mm256_add_pd (halfSums (l0[0], l0[1]), halfSums (l1[0], l1[1]));
                halvesRight[g / 2] = _mm256_add_pd (halfSums (r0[0], r0[1]), halfSums (r1[0], r1[1]));
            }
            left = pairSums4 (halvesLeft[0], halvesLeft[1]);
            right = pairSums4 (halvesRight[0], halvesRight[1]);
        }
        else
        {
            __m256d halves[2];
            for (int g = 0; g < 4; g += 2)
            {
                __m256d a[2][4];
                for (int f = 0; f < 2; ++f)
                    for (int m = 0; m < 4; ++m)
                        a[f][m] = _mm256_setzero_pd();
                for (int k = 0; k < resampleTaps; k += 16)
                    for (int f = 0; f < 2; ++f)
                        for (int m = 0; m < 4; ++m)
                            a[f][m] = _mm256_fmadd_pd (_mm256_loadu_pd (b.phase[g + f] + k + 4 * m),
                                                       _mm256_loadu_pd (b.taps[g + f] + k + 4 * m), a[f][m]);
                __m256d v[2];
                for (int f = 0; f < 2; ++f)
                    v[f] = _mm256_add_pd (_mm256_add_pd (a[f][0], a[f][1]), _mm256_add_pd (a[f][2], a[f][3]));
                halves[g / 2] = halfSums (v[0], v[1]);
            }
            left = right = pairSums4 (halves[0], halves[1]);
        }

        if (b.count == 4)
        {
            _mm_storeu_ps (job.left + i, _mm256_cvtpd_ps (left));
            _mm_storeu_ps (job.right + i, _mm256_cvtpd_ps (right));
        }
        else
        {
            alignas (16) float l[4], r[4];
            _mm_store_ps (l, _mm256_cvtpd_ps (left));
            _mm_store_ps (r, _mm256_cvtpd_ps (right));
            storeFrames (job, i, b.count, l, r);
        }
        i += (std::size_t) b.count;
    }
    return i;
}

//------------------------------------------------------------------------------
// AVX-512: eight frames at a time, their positions computed together.

// GCC 12's AVX-512 intrinsics fill unused results with a self-initialised placeholder, which
// -Wmaybe-uninitialized reports wherever they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#define VANTREL_AVX512 __attribute__ ((target ("avx512f,avx512dq,avx2,fma")))

/** a's 128-bit blocks 0 and 2 plus 1 and 3, then b's: [a0+a2 a1+a3 a4+a6 a5+a7 b0+b2 ...]. */
VANTREL_AVX512 inline __m512d blockPairSums (__m512d a, __m512d b)
{
    return _mm512_add_pd (_mm512_shuffle_f64x2 (a, b, 0x88), _mm512_shuffle_f64x2 (a, b, 0xdd));
}

/** a's 256-bit halves summed, then b's: [a0+a4 a1+a5 a2+a6 a3+a7 b0+b4 ...]. */
VANTREL_AVX512 inline __m512d halfSums (__m512d a, __m512d b)
{
    return _mm512_add_pd (_mm512_shuffle_f64x2 (a, b, 0x44), _mm512_shuffle_f64x2 (a, b, 0xee));
}

/** Each even lane plus the odd lane after it, a's four then b's. */
VANTREL_AVX512 inline __m512d neighbourSums (__m512d a, __m512d b)
{
    const __m512i even = _mm512_setr_epi64 (0, 2, 4, 6, 8, 10, 12, 14);
    const __m512i odd = _mm512_setr_epi64 (1, 3, 5, 7, 9, 11, 13, 15);
    return _mm512_add_pd (_mm512_permutex2var_pd (a, even, b), _mm512_permutex2var_pd (a, odd, b));
}

/** One channel of eight stereo frames, each chain t in lane t: the frames' sums in order. */
VANTREL_AVX512 inline __m512d stereoSums (const __m512d* acc)
{
    const __m512d first = blockPairSums (blockPairSums (acc[0], acc[1]), blockPairSums (acc[2], acc[3]));
    const __m512d second = blockPairSums (blockPairSums (acc[4], acc[5]), blockPairSums (acc[6], acc[7]));
    return neighbourSums (first, second);
}

/** Eight mono frames from each frame's chains 0-7 (lo) and 8-15 (hi): the sums in order. */
VANTREL_AVX512 inline __m512d monoSums (const __m512d* lo, const __m512d* hi)
{
    __m512d v[4];   // frames 2j and 2j+1: (c[j]+c[4+j]) + (c[8+j]+c[12+j]), 4 lanes each
    for (int f = 0; f < 8; f += 2)
        v[f / 2] = _mm512_add_pd (halfSums (lo[f], lo[f + 1]), halfSums (hi[f], hi[f + 1]));
    return neighbourSums (blockPairSums (v[0], v[1]), blockPairSums (v[2], v[3]));
}

/** Eight frames, four in flight: each frame reads its own taps from the window. */
template <int Channels>
VANTREL_AVX512 void windowBatch (const Batch<8>& b, __m512d& left, __m512d& right)
{
    __m512d l[8], r[8];
    for (int g = 0; g < 8; g += 4)
    {
        for (int f = g; f < g + 4; ++f)
            l[f] = r[f] = _mm512_setzero_pd();
        if constexpr (Channels == 2)
        {
            for (int k = 0; k < resampleTaps; k += 8)
                for (int f = g; f < g + 4; ++f)
                {
                    const __m512d c = _mm512_loadu_pd (b.phase[f] + k);
                    l[f] = _mm512_fmadd_pd (c, _mm512_loadu_pd (b.taps[f] + k), l[f]);
                    r[f] = _mm512_fmadd_pd (c, _mm512_loadu_pd (b.taps[f] + k + windowFrames), r[f]);
                }
        }
        else
        {
            for (int k = 0; k < resampleTaps; k += 16)   // chains 0-7 in l, 8-15 in r
                for (int f = g; f < g + 4; ++f)
                {
                    l[f] = _mm512_fmadd_pd (_mm512_loadu_pd (b.phase[f] + k), _mm512_loadu_pd (b.taps[f] + k), l[f]);
                    r[f] = _mm512_fmadd_pd (_mm512_loadu_pd (b.phase[f] + k + 8), _mm512_loadu_pd (b.taps[f] + k + 8), r[f]);
                }
        }
    }
    if constexpr (Channels == 2)
    {
        left = stereoSums (l);
        right = stereoSums (r);
    }
    else
    {
        left = right = monoSums (l, r);
    }
}

/** nextBatch for eight frames at once: positionOf's arithmetic lane by lane (the same
    conversions, truncations and clamp as the scalar code). */
VANTREL_AVX512 inline Batch<8> nextBatch8 (const ResampleJob& job, const Window& w, std::size_t i, std::size_t end)
{
    const __m512i iota = _mm512_setr_epi64 (0, 1, 2, 3, 4, 5, 6, 7);
    const __m512i frame = _mm512_add_epi64 (_mm512_set1_epi64 ((std::int64_t) i), iota);
    const __m512d t = _mm512_mul_pd (_mm512_cvtepu64_pd (frame), _mm512_set1_pd (job.step));
    const __m512i d = _mm512_cvttpd_epi64 (t);
    const __m256i fraction = _mm512_cvttpd_epi32 (_mm512_mul_pd (_mm512_sub_pd (t, _mm512_cvtepi64_pd (d)),
                                                                 _mm512_set1_pd ((double) resamplePhases)));
    const __m256i p = _mm256_min_epi32 (_mm256_max_epi32 (fraction, _mm256_setzero_si256()),
                                        _mm256_set1_epi32 (resamplePhases - 1));

    const __m512i first = _mm512_sub_epi64 (d, _mm512_set1_epi64 (resampleTapsBefore));   // tap 0's frame
    const __m512i last = _mm512_add_epi64 (d, _mm512_set1_epi64 (resampleTaps - resampleTapsBefore));
    __mmask8 valid = _mm512_cmplt_epu64_mask (frame, _mm512_set1_epi64 ((std::int64_t) end));
    valid &= _mm512_cmpge_epi64_mask (d, _mm512_set1_epi64 (resampleTapsBefore));
    valid &= _mm512_cmplt_epi64_mask (last, _mm512_set1_epi64 ((std::int64_t) job.sourceFrames));
    valid &= _mm512_cmpge_epi64_mask (first, _mm512_set1_epi64 (w.first));
    valid &= _mm512_cmple_epi64_mask (last, _mm512_set1_epi64 (w.limit));
    const __m512i offset = _mm512_sub_epi64 (first, _mm512_set1_epi64 (w.first));

    Batch<8> b;
    b.count = __builtin_ctz ((unsigned) valid ^ 0x1ffu);   // the leading valid frames
    if (b.count == 0)
        return b;
    const __m512i repeat = _mm512_min_epi64 (iota, _mm512_set1_epi64 (b.count - 1));
    const __m512i phase = _mm512_add_epi64 (_mm512_set1_epi64 ((std::int64_t) job.table),
                                            _mm512_slli_epi64 (_mm512_cvtepi32_epi64 (p), 9));   // x 64 taps x 8 bytes
    const __m512i taps = _mm512_add_epi64 (_mm512_set1_epi64 ((std::int64_t) w.left), _mm512_slli_epi64 (offset, 3));
    _mm512_storeu_si512 (b.phase, _mm512_permutexvar_epi64 (repeat, phase));
    _mm512_storeu_si512 (b.taps, _mm512_permutexvar_epi64 (repeat, taps));
    return b;
}

template <int Channels>
VANTREL_AVX512 std::size_t runAvx512 (const ResampleJob& job, const Window& w, std::size_t i, std::size_t end)
{
    while (i < end)
    {
        const auto b = nextBatch8 (job, w, i, end);
        if (b.count == 0)
            break;

        __m512d left, right;
        windowBatch<Channels> (b, left, right);

        if (b.count == 8)
        {
            _mm256_storeu_ps (job.left + i, _mm512_cvtpd_ps (left));
            _mm256_storeu_ps (job.right + i, _mm512_cvtpd_ps (right));
        }
        else
        {
            alignas (32) float l[8], r[8];
            _mm256_store_ps (l, _mm512_cvtpd_ps (left));
            _mm256_store_ps (r, _mm512_cvtpd_ps (right));
            storeFrames (job, i, b.count, l, r);
        }
        i += (std::size_t) b.count;
    }
    return i;
}

#undef VANTREL_AVX512
#pragma GCC diagnostic pop

using RunFrames = std::size_t (*) (const ResampleJob&, const Window&, std::size_t, std::size_t);

/** Edge frames one by one, the others in batches from a window moved along the source. */
template <int Channels>
void rangeWide (const ResampleJob& job, std::size_t begin, std::size_t end, RunFrames run)
{
    std::vector<double> storage ((std::size_t) (windowFrames * Channels) + 8);
    Window w;
    w.left = reinterpret_cast<double*> ((reinterpret_cast<std::uintptr_t> (storage.data()) + 63) & ~(std::uintptr_t) 63);

    for (std::size_t i = begin; i < end;)
    {
        if (i % cancelInterval == 0)
            checkCancel (job);
        const std::size_t stretchEnd = std::min (end, (i / cancelInterval + 1) * cancelInterval);
        while (i < stretchEnd)
        {
            const auto at = positionOf (job, i);
            if (! allTapsInside (job, at.integer))
            {
                edgeFrame (job, i, at);
                ++i;
                continue;
            }
            if (! w.covers (at.integer))
                fillWindow<Channels> (job, w, at.integer - resampleTapsBefore);
            i = run (job, w, i, stretchEnd);   // at least frame i
        }
    }
}

struct Processor
{
    bool avx2 = false;     // AVX2 and FMA
    bool avx512 = false;   // AVX-512F and DQ besides
};

const Processor& processor()
{
    static const Processor detected = []
    {
        __builtin_cpu_init();
        Processor p;
        p.avx2 = __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma");
        p.avx512 = p.avx2 && __builtin_cpu_supports ("avx512f") && __builtin_cpu_supports ("avx512dq");
        return p;
    }();
    return detected;
}
} // namespace

ResamplePath resamplePathInUse (ResamplePath path)
{
    const auto& cpu = processor();
    if ((path == ResamplePath::widest || path == ResamplePath::avx512) && cpu.avx512)
        return ResamplePath::avx512;
    if (path != ResamplePath::portable && cpu.avx2)
        return ResamplePath::avx2;
    return ResamplePath::portable;
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
    switch (resamplePathInUse (job.path))
    {
        case ResamplePath::avx512:
            stereo ? rangeWide<2> (job, begin, end, runAvx512<2>) : rangeWide<1> (job, begin, end, runAvx512<1>);
            break;
        case ResamplePath::avx2:
            stereo ? rangeWide<2> (job, begin, end, runAvx2<2>) : rangeWide<1> (job, begin, end, runAvx2<1>);
            break;
        default:
            stereo ? rangePortable<2> (job, begin, end) : rangePortable<1> (job, begin, end);
            break;
    }
}
} // namespace vantrel
