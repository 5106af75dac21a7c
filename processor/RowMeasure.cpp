// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/RowMeasure.h"

#include <array>
#include <bit>
#include <cmath>

#include "processor/LuminanceTables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNEL_ROW_MEASURE_AVX2 1
#endif

namespace {

// Pixels added in one step at most: a pixel moves a sum by less than 2^52 units (see GridOf), so
// a block's units stay below 2^62.
constexpr size_t kBlock = 1024;
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
    double dScale;  // 2^nShift
    double dUnit;
    int64_t nUnits;
    bool bSmall;
    bool bTies;  // whether a pixel's luminance can fall halfway between two units
    int nShift;
};

// The lowest set bit of every pixel's luminance, (0.30 red + 0.59 green) + 0.11 blue, is at
// 2^-56 .. 2^-40 or at 2^-2 .. 2^7, never between (a test goes through all 2^24 pixels). A tie
// against units of 2^(e - 53) needs a luminance whose lowest bit is 2^(e - 54): none exists for
// sums from 2^14 to 2^51, which is where a frame's sums spend nearly all their pixels.
constexpr int kFirstTieFreeExponent = 15;  // s = m x 2^e with 0.5 <= m < 1
constexpr int kLastTieFreeExponent = 51;

Grid GridOf(double s) {
    if (s < kSmallSum) return {0x1p44, 0x1p-44, 0, true, true, 44};
    // s = m x 2^e with 0.5 <= m < 1 (s is a normal number): ulp(s) = 2^(e - 53).
    const int e = static_cast<int>((std::bit_cast<uint64_t>(s) >> 52) & 0x7FF) - 1022;
    const double dScale = std::bit_cast<double>(static_cast<uint64_t>(1023 + 53 - e) << 52);
    const double dUnit = std::bit_cast<double>(static_cast<uint64_t>(1023 - 53 + e) << 52);
    return {dScale,
            dUnit,
            static_cast<int64_t>(s * dScale),
            false,
            e < kFirstTieFreeExponent || e > kLastTieFreeExponent,
            53 - e};
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

// The distance of q from its nearest unit, t - 2^52 (t = q + 2^52); 0.5 only for a tie.
__attribute__((target("avx2"), always_inline)) inline __m256d Distance(__m256d q, __m256d t) {
    const __m256d magic = _mm256_set1_pd(kMagic);
    return _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_sub_pd(q, _mm256_sub_pd(t, magic)));
}

// The units of the pixels from the start, four at a time while a 16-byte load stays within
// nReadable bytes; returns how many pixels it took. The luminance comes out already scaled, by
// products with the weights times the bright sum's scale, a power of two: the same double as the
// formula's times that power, exactly (no fused multiply-add: the target has none). With kTies
// it looks for ties.
template <bool kAll, bool kTies>
__attribute__((target("avx2"))) size_t VectorUnits(const BYTE* p, size_t n, size_t nReadable,
                                                   double dMinPixval, double dScaleBright,
                                                   double dScaleAll, BlockUnits* pUnits) {
    const __m128i shuffleBlue =
        _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
    const __m128i shuffleGreen =
        _mm_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1);
    const __m128i shuffleRed =
        _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1);
    const __m256d red = _mm256_set1_pd(0.30 * dScaleBright);
    const __m256d green = _mm256_set1_pd(0.59 * dScaleBright);
    const __m256d blue = _mm256_set1_pd(0.11 * dScaleBright);
    const __m256d threshold = _mm256_set1_pd(dMinPixval * dScaleBright);
    const __m256d ratio = _mm256_set1_pd(dScaleAll / dScaleBright);
    const __m256d magic = _mm256_set1_pd(kMagic);
    __m256i unitsBright = _mm256_setzero_si256();
    __m256i unitsAll = _mm256_setzero_si256();
    __m256i count = _mm256_setzero_si256();
    __m256d farthest = _mm256_setzero_pd();  // the largest distance from a unit seen
    size_t i = 0;
    for (; i + 4 <= n && 3 * i + 16 <= nReadable; i += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * i));
        const __m256d b = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, shuffleBlue));
        const __m256d g = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, shuffleGreen));
        const __m256d r = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, shuffleRed));
        const __m256d q = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(red, r), _mm256_mul_pd(green, g)), _mm256_mul_pd(blue, b));
        const __m256d bright = _mm256_cmp_pd(q, threshold, _CMP_GT_OQ);
        count = _mm256_sub_epi64(count, _mm256_castpd_si256(bright));
        const __m256d qBright = _mm256_and_pd(q, bright);
        const __m256d t = _mm256_add_pd(qBright, magic);
        unitsBright = _mm256_add_epi64(unitsBright, _mm256_castpd_si256(t));
        if constexpr (kTies) farthest = _mm256_max_pd(farthest, Distance(qBright, t));
        if constexpr (kAll) {
            const __m256d qAll = _mm256_mul_pd(q, ratio);
            const __m256d tAll = _mm256_add_pd(qAll, magic);
            unitsAll = _mm256_add_epi64(unitsAll, _mm256_castpd_si256(tAll));
            if constexpr (kTies) farthest = _mm256_max_pd(farthest, Distance(qAll, tAll));
        }
    }
    alignas(32) int64_t lanes[3][4];
    alignas(32) double distances[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), unitsBright);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), unitsAll);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[2]), count);
    _mm256_store_pd(distances, farthest);
    // Each lane added the bits of 2^52 once for every group of four (wrapping around, which
    // the subtraction undoes).
    const uint64_t nMagic = static_cast<uint64_t>(i / 4) * static_cast<uint64_t>(kMagicBits);
    for (int lane = 0; lane < 4; ++lane) {
        pUnits->nBright += static_cast<int64_t>(static_cast<uint64_t>(lanes[0][lane]) - nMagic);
        if constexpr (kAll) {
            pUnits->nAll += static_cast<int64_t>(static_cast<uint64_t>(lanes[1][lane]) - nMagic);
        }
        pUnits->nCount += static_cast<uint64_t>(lanes[2][lane]);
        pUnits->bTie = pUnits->bTie || distances[lane] == 0.5;
    }
    return i;
}

// Whole-number luminance. A pixel's luminance times 100, L = 30 red + 59 green + 11 blue, is an
// integer of at most 25500, and the double y that the formula gives lies within 5.7e-14 of L / 100
// (a test goes through every pixel). Against units of 2^-k with 2 <= k <= 38 (sums from 2^14 to
// 2^51) y therefore rounds to the same number of units as L / 100 does: L x 2^k / 100 = L x c / 25
// with c = 2^(k-2) lies at least 1/50 from halfway between two units, y x 2^k less than 0.016
// from L x 2^k / 100. And round(L c / 25) = (L c - g) / 25, where g is L c mod 25, less 25 when
// that is 13 or more: g depends on L mod 25 and c mod 25 alone. So a block's units come from the
// sum of its L and of its g, 16 pixels at a time in 16-bit lanes.
constexpr std::array<int8_t, 64> kPowersOfTwoMod25 = [] {
    std::array<int8_t, 64> powers{};
    int m = 1;
    for (int8_t& power : powers) {
        power = static_cast<int8_t>(m);
        m = m * 2 % 25;
    }
    return powers;
}();

// g for a pixel of luminance L (times 100) when c mod 25 is m.
int RemainderOf(int nLum, int m) {
    const int r = nLum % 25 * m % 25;
    return r >= 13 ? r - 25 : r;
}

// The bright pixels are those with L above nAbove; those with L equal to nEdge (-1: none) lie so
// near the threshold that the formula itself decides.
struct IntegerThreshold {
    int nAbove;
    int nEdge;
};

IntegerThreshold IntegerThresholdOf(double dMinPixval) {
    const double dHundred = dMinPixval * 100.0;
    if (std::isnan(dHundred) || dHundred > 25500.5) return {25500, -1};  // none bright
    if (dHundred < -0.5) return {-1, -1};                                // all bright
    const double dNearest = std::nearbyint(dHundred);
    if (std::fabs(dHundred - dNearest) < 1e-6) {
        return {static_cast<int>(dNearest), static_cast<int>(dNearest)};
    }
    return {static_cast<int>(std::floor(dHundred)), -1};
}

// v, kept in a register: the compiler would otherwise make such constants afresh in every
// round of a loop, two instructions each.
__attribute__((target("avx2"), always_inline)) inline __m256i InRegister(__m256i v) {
    __asm__("" : "+x"(v));
    return v;
}

// g of 16 luminances (see above), each in [-12, 12], for c mod 25 in every lane of m.
struct RemainderConstants {
    __m256i m;
    __m256i twentyFive = InRegister(_mm256_set1_epi16(25));
    __m256i twelve = InRegister(_mm256_set1_epi16(12));
    // floor(L / 25) = floor(L x 41944 / 2^20) for L <= 25500, floor(x / 25) = floor(x x 2622 /
    // 2^16) for x <= 576.
    __m256i byTwentyFiveLarge = InRegister(_mm256_set1_epi16(-23592));  // 41944
    __m256i byTwentyFiveSmall = InRegister(_mm256_set1_epi16(2622));
};

__attribute__((target("avx2"), always_inline)) inline __m256i Remainders(
    __m256i lum, const RemainderConstants& k) {
    const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(lum, k.byTwentyFiveLarge), 4);
    const __m256i x =
        _mm256_mullo_epi16(_mm256_sub_epi16(lum, _mm256_mullo_epi16(q, k.twentyFive)), k.m);
    const __m256i qx = _mm256_mulhi_epu16(x, k.byTwentyFiveSmall);
    const __m256i r = _mm256_sub_epi16(x, _mm256_mullo_epi16(qx, k.twentyFive));
    return _mm256_sub_epi16(r, _mm256_and_si256(_mm256_cmpgt_epi16(r, k.twelve), k.twentyFive));
}

// L of the eight pixels from pFrom (reading 28 bytes), in 32-bit lanes.
__attribute__((target("avx2"), always_inline)) inline __m256i FourTimesTwo(const BYTE* pFrom,
                                                                           __m256i order,
                                                                           __m256i weights,
                                                                           __m256i ones) {
    const __m256i pixels = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pFrom))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(pFrom + 12)), 1);
    return _mm256_madd_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(pixels, order), weights),
                             ones);
}

// The sum of 8 32-bit lanes.
__attribute__((target("avx2"), always_inline)) inline int64_t Total32(__m256i v) {
    alignas(32) int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    int64_t nTotal = 0;
    for (int32_t n : lanes) nTotal += n;
    return nTotal;
}

// The units of the pixels from the start, as VectorUnits<kAll, false> counts them (the sums'
// units are 2^-k with 2 <= k <= 38), 16 at a time in whole numbers while the loads stay within
// nReadable bytes and the rest four at a time; returns how many pixels it took.
template <bool kAll>
__attribute__((target("avx2"))) size_t IntegerUnits(const BYTE* p, size_t n, size_t nReadable,
                                                    double dMinPixval, const Grid& bright,
                                                    const Grid& all, BlockUnits* pUnits) {
    const IntegerThreshold threshold = IntegerThresholdOf(dMinPixval);
    // Blue, green, red, 0 of four pixels in each 128-bit half, weighed 11, 59, 30 and 0.
    const __m256i order = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                           1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i weights = InRegister(_mm256_set1_epi32(0x001E3B0B));
    const __m256i ones = InRegister(_mm256_set1_epi16(1));
    const __m256i above = _mm256_set1_epi16(static_cast<int16_t>(threshold.nAbove));
    const __m256i edge = _mm256_set1_epi16(static_cast<int16_t>(threshold.nEdge));
    const int mBright = kPowersOfTwoMod25[bright.nShift - 2];
    const int mAll = kAll ? kPowersOfTwoMod25[all.nShift - 2] : 0;
    const RemainderConstants remainderBright{_mm256_set1_epi16(static_cast<int16_t>(mBright))};
    const RemainderConstants remainderAll{_mm256_set1_epi16(static_cast<int16_t>(mAll))};
    // Lanes add at most 64 groups (a block): 16 bits hold the counts and the g, 32 the sums.
    __m256i sumBright = _mm256_setzero_si256();
    __m256i gBright = _mm256_setzero_si256();
    __m256i count = _mm256_setzero_si256();
    __m256i sumAll = _mm256_setzero_si256();
    __m256i gAll = _mm256_setzero_si256();
    int64_t nEdgeSum = 0, nEdgeG = 0;
    uint64_t nEdgeCount = 0;
    size_t i = 0;
    for (; i + 16 <= n && 3 * i + 52 <= nReadable; i += 16) {
        const BYTE* q = p + 3 * i;
        const __m256i lum = _mm256_packus_epi32(FourTimesTwo(q, order, weights, ones),
                                                FourTimesTwo(q + 24, order, weights, ones));
        const __m256i isBright = _mm256_cmpgt_epi16(lum, above);
        if (threshold.nEdge >= 0 &&
            !_mm256_testz_si256(_mm256_cmpeq_epi16(lum, edge), _mm256_cmpeq_epi16(lum, edge))) {
            for (size_t j = 0; j < 16; ++j) {
                const BYTE* pPixel = q + 3 * j;
                const int nLum = 30 * pPixel[2] + 59 * pPixel[1] + 11 * pPixel[0];
                if (nLum == threshold.nEdge && CLuminanceTables::Of(pPixel) > dMinPixval) {
                    nEdgeSum += nLum;
                    nEdgeG += RemainderOf(nLum, mBright);
                    ++nEdgeCount;
                }
            }
        }
        const __m256i lumBright = _mm256_and_si256(lum, isBright);
        count = _mm256_sub_epi16(count, isBright);
        sumBright = _mm256_add_epi32(sumBright, _mm256_madd_epi16(lumBright, ones));
        gBright = _mm256_add_epi16(gBright, Remainders(lumBright, remainderBright));
        if constexpr (kAll) {
            sumAll = _mm256_add_epi32(sumAll, _mm256_madd_epi16(lum, ones));
            gAll = _mm256_add_epi16(gAll, Remainders(lum, remainderAll));
        }
    }
    const auto units = [&](int nShift, int64_t nSum, int64_t nG) {
        return ((int64_t{1} << (nShift - 2)) * nSum - nG) / 25;
    };
    pUnits->nBright += units(bright.nShift, Total32(sumBright) + nEdgeSum,
                             Total32(_mm256_madd_epi16(gBright, ones)) + nEdgeG);
    pUnits->nCount += static_cast<uint64_t>(Total32(_mm256_madd_epi16(count, ones))) + nEdgeCount;
    if constexpr (kAll) {
        pUnits->nAll += units(all.nShift, Total32(sumAll), Total32(_mm256_madd_epi16(gAll, ones)));
    }
    return i + VectorUnits<kAll, false>(p + 3 * i, n - i, nReadable - 3 * i, dMinPixval,
                                        bright.dScale, all.dScale, pUnits);
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
        const bool bTies = bright.bTies || (m_bAll && all.bTies);
        size_t nDone = 0;
        if (bTies) {
            const auto vector = m_bAll ? VectorUnits<true, true> : VectorUnits<false, true>;
            nDone = vector(p, n, nReadable, m_dMinPixval, bright.dScale, all.dScale, &units);
        } else {
            const auto integer = m_bAll ? IntegerUnits<true> : IntegerUnits<false>;
            nDone = integer(p, n, nReadable, m_dMinPixval, bright, all, &units);
        }
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
