// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/RowMeasure.h"

#include <bit>
#include <cmath>

#include "processor/LuminanceTables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNEL_ROW_MEASURE_AVX2 1
#endif

namespace {

// Pixels added in one step at most (their units stay far below 2^63).
constexpr size_t kBlock = 128;
// 2^52: q + 2^52 holds round(q) in its low bits for 0 <= q < 2^52 (ties to even).
constexpr double kMagic = 4503599627370496.0;
constexpr int64_t kMagicBits = 0x4330000000000000;
constexpr int64_t kTwo53 = int64_t{1} << 53;
// Below this a sum's units would not fit the rounding above; such a sum takes a block at once
// only when the block adds nothing to it (every nonzero luminance is at least 0.11).
constexpr double kSmallSum = 256.0;

// The units of a sum: s = nUnits x dUnit exactly, and a luminance y moves it by y x dScale
// rounded.
struct Grid {
    double dScale;
    double dUnit;
    int64_t nUnits;
    bool bSmall;
};

Grid GridOf(double s) {
    if (s < kSmallSum) return {0x1p44, 0x1p-44, 0, true};
    int e = 0;
    std::frexp(s, &e);  // s = m x 2^e, 0.5 <= m < 1: ulp(s) = 2^(e - 53)
    const double dScale = std::ldexp(1.0, 53 - e);
    return {dScale, std::ldexp(1.0, e - 53), static_cast<int64_t>(s * dScale), false};
}

// The new sum when a block of `units` without a tie can be added in one step, else -1.
double Advance(const Grid& grid, int64_t units) {
    if (grid.bSmall) return units == 0 ? -2.0 : -1.0;  // -2: unchanged
    const int64_t nTotal = grid.nUnits + units;
    if (nTotal >= kTwo53) return -1.0;
    return static_cast<double>(nTotal) * grid.dUnit;
}

struct BlockUnits {
    int64_t nBright = 0;
    int64_t nAll = 0;
    uint64_t nCount = 0;
    bool bTie = false;
};

// round(y x scale) added to *pnUnits; a tie noted.
inline void AddUnits(double y, double dScale, int64_t* pnUnits, bool* pbTie) {
    const double q = y * dScale;
    const double t = q + kMagic;
    const double d = q - (t - kMagic);
    *pbTie = *pbTie || std::fabs(d) == 0.5;
    *pnUnits += std::bit_cast<int64_t>(t) - kMagicBits;
}

// The units of pixels [nFrom, n) one by one.
void ScalarUnits(const BYTE* p, size_t nFrom, size_t n, double dMinPixval, bool bAll,
                 double dScaleBright, double dScaleAll, BlockUnits* pUnits) {
    for (size_t i = nFrom; i < n; ++i) {
        const double y = CLuminanceTables::Of(p + 3 * i);
        const bool bBright = y > dMinPixval;
        AddUnits(bBright ? y : 0.0, dScaleBright, &pUnits->nBright, &pUnits->bTie);
        pUnits->nCount += bBright;
        if (bAll) AddUnits(y, dScaleAll, &pUnits->nAll, &pUnits->bTie);
    }
}

#ifdef VARNEL_ROW_MEASURE_AVX2
bool HasAvx2() {
    static const bool bAvx2 = __builtin_cpu_supports("avx2");
    return bAvx2;
}

// The units of the pixels from the start, four at a time while a 16-byte load stays within
// nReadable bytes; returns how many pixels it took. The same products and sums as the scalar
// formula (no fused multiply-add: the target has none), so every luminance is the same double.
template <bool kAll>
__attribute__((target("avx2"))) size_t VectorUnits(const BYTE* p, size_t n, size_t nReadable,
                                                   double dMinPixval, double dScaleBright,
                                                   double dScaleAll, BlockUnits* pUnits) {
    const __m128i shuffleBlue =
        _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
    const __m128i shuffleGreen =
        _mm_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1);
    const __m128i shuffleRed =
        _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1);
    const __m256d red = _mm256_set1_pd(0.30);
    const __m256d green = _mm256_set1_pd(0.59);
    const __m256d blue = _mm256_set1_pd(0.11);
    const __m256d threshold = _mm256_set1_pd(dMinPixval);
    const __m256d scaleBright = _mm256_set1_pd(dScaleBright);
    const __m256d scaleAll = _mm256_set1_pd(dScaleAll);
    const __m256d magic = _mm256_set1_pd(kMagic);
    const __m256i magicBits = _mm256_set1_epi64x(kMagicBits);
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d half = _mm256_set1_pd(0.5);
    __m256i unitsBright = _mm256_setzero_si256();
    __m256i unitsAll = _mm256_setzero_si256();
    __m256i count = _mm256_setzero_si256();
    __m256d tie = _mm256_setzero_pd();
    size_t i = 0;
    for (; i + 4 <= n && 3 * i + 16 <= nReadable; i += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * i));
        const __m256d b = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, shuffleBlue));
        const __m256d g = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, shuffleGreen));
        const __m256d r = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, shuffleRed));
        const __m256d y = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(red, r), _mm256_mul_pd(green, g)), _mm256_mul_pd(blue, b));
        const __m256d bright = _mm256_cmp_pd(y, threshold, _CMP_GT_OQ);
        count = _mm256_sub_epi64(count, _mm256_castpd_si256(bright));

        const __m256d q = _mm256_mul_pd(_mm256_and_pd(y, bright), scaleBright);
        const __m256d t = _mm256_add_pd(q, magic);
        const __m256d d = _mm256_sub_pd(q, _mm256_sub_pd(t, magic));
        tie = _mm256_or_pd(tie, _mm256_cmp_pd(_mm256_andnot_pd(sign, d), half, _CMP_EQ_OQ));
        unitsBright =
            _mm256_add_epi64(unitsBright, _mm256_sub_epi64(_mm256_castpd_si256(t), magicBits));
        if constexpr (kAll) {
            const __m256d qa = _mm256_mul_pd(y, scaleAll);
            const __m256d ta = _mm256_add_pd(qa, magic);
            const __m256d da = _mm256_sub_pd(qa, _mm256_sub_pd(ta, magic));
            tie = _mm256_or_pd(tie, _mm256_cmp_pd(_mm256_andnot_pd(sign, da), half, _CMP_EQ_OQ));
            unitsAll =
                _mm256_add_epi64(unitsAll, _mm256_sub_epi64(_mm256_castpd_si256(ta), magicBits));
        }
    }
    alignas(32) int64_t lanes[3][4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), unitsBright);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), unitsAll);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[2]), count);
    for (int lane = 0; lane < 4; ++lane) {
        pUnits->nBright += lanes[0][lane];
        pUnits->nAll += lanes[1][lane];
        pUnits->nCount += static_cast<uint64_t>(lanes[2][lane]);
    }
    pUnits->bTie = pUnits->bTie || _mm256_movemask_pd(tie) != 0;
    return i;
}
#endif

}  // namespace

CLuminanceSums::CLuminanceSums(double dMinPixval, bool bAll, double dStart)
    : m_dMinPixval(dMinPixval), m_bAll(bAll), m_dBright(dStart), m_dAll(dStart) {}

void CLuminanceSums::AddRow(const BYTE* pRow, size_t nWidth, size_t nReadable) {
    for (size_t x = 0; x < nWidth; x += kBlock) {
        const size_t n = nWidth - x < kBlock ? nWidth - x : kBlock;
        AddBlock(pRow + 3 * x, n, nReadable - 3 * x);
    }
}

void CLuminanceSums::AddBlock(const BYTE* p, size_t n, size_t nReadable) {
#ifdef VARNEL_ROW_MEASURE_AVX2
    if (HasAvx2()) {
        const Grid bright = GridOf(m_dBright);
        const Grid all = GridOf(m_dAll);
        BlockUnits units;
        const size_t nDone = m_bAll ? VectorUnits<true>(p, n, nReadable, m_dMinPixval,
                                                        bright.dScale, all.dScale, &units)
                                    : VectorUnits<false>(p, n, nReadable, m_dMinPixval,
                                                         bright.dScale, all.dScale, &units);
        ScalarUnits(p, nDone, n, m_dMinPixval, m_bAll, bright.dScale, all.dScale, &units);
        if (!units.bTie) {
            const double dBright = Advance(bright, units.nBright);
            const double dAll = m_bAll ? Advance(all, units.nAll) : -2.0;
            if (dBright != -1.0 && dAll != -1.0) {
                if (dBright != -2.0) m_dBright = dBright;
                if (dAll != -2.0) m_dAll = dAll;
                m_nBright += units.nCount;
                return;
            }
        }
    }
#endif
    ++m_nSlowBlocks;
    AddPixels(p, n);
}

void CLuminanceSums::AddPixels(const BYTE* p, size_t n) {
    double dBright = m_dBright;
    double dAll = m_dAll;
    uint64_t nBright = m_nBright;
    for (size_t i = 0; i < n; ++i, p += 3) {
        const double y = CLuminanceTables::Of(p);
        const bool bBright = y > m_dMinPixval;
        // Adding 0.0 leaves the sum as it is, so the sum is the same as with a branch.
        dBright += bBright ? y : 0.0;
        nBright += bBright;
        if (m_bAll) dAll += y;
    }
    m_dBright = dBright;
    m_dAll = dAll;
    m_nBright = nBright;
}
