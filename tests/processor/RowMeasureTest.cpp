// SPDX-License-Identifier: GPL-3.0-or-later
// The row sums of the measuring walk against the plain loop that adds one pixel at a time.
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "processor/LuminanceTables.h"
#include "processor/RowMeasure.h"

namespace {

struct Plain {
    double dBright = 0.0, dAll = 0.0;
    uint64_t nBright = 0;
};

// Frames of nWidth x nHeight pixels at the DIB stride; pixel bytes from byteOf(x, y, channel).
class RowMeasureTest : public ::testing::Test {
  protected:
    template <class ByteOf>
    void Make(size_t nWidth, size_t nHeight, ByteOf byteOf) {
        m_nWidth = nWidth;
        m_nHeight = nHeight;
        m_nStride = (nWidth * 3 + 3) & ~size_t{3};
        m_bytes.assign(m_nStride * nHeight, 0xEE);
        for (size_t y = 0; y < nHeight; ++y)
            for (size_t x = 0; x < nWidth; ++x)
                for (int c = 0; c < 3; ++c) m_bytes[y * m_nStride + x * 3 + c] = byteOf(x, y, c);
    }
    Plain PlainSums(double dMinPixval, double dStart) const {
        Plain sums{dStart, dStart, 0};
        for (size_t y = 0; y < m_nHeight; ++y) {
            for (size_t x = 0; x < m_nWidth; ++x) {
                const double dY = CLuminanceTables::Of(&m_bytes[y * m_nStride + x * 3]);
                sums.dBright += dY > dMinPixval ? dY : 0.0;
                sums.nBright += dY > dMinPixval;
                sums.dAll += dY;
            }
        }
        return sums;
    }
    // Both ways agree bit for bit; the number of blocks added one pixel at a time.
    uint64_t Compare(double dMinPixval, double dStart = 0.0) {
        const Plain plain = PlainSums(dMinPixval, dStart);
        CLuminanceSums sums(dMinPixval, true, dStart);
        for (size_t y = 0; y < m_nHeight; ++y)
            sums.AddRow(&m_bytes[y * m_nStride], m_nWidth, m_nStride);
        EXPECT_EQ(sums.Bright(), plain.dBright) << dMinPixval << " " << dStart;
        EXPECT_EQ(sums.All(), plain.dAll) << dMinPixval << " " << dStart;
        EXPECT_EQ(sums.BrightCount(), plain.nBright) << dMinPixval << " " << dStart;
        return sums.SlowBlocks();
    }

    size_t m_nWidth = 0, m_nHeight = 0, m_nStride = 0;
    std::vector<BYTE> m_bytes;
};

TEST_F(RowMeasureTest, NoiseAndGradientsSumAsThePlainLoopDoes) {
    std::mt19937 random(7);
    for (size_t nWidth : {1u, 5u, 131u, 1283u}) {
        Make(nWidth, 97, [&](size_t, size_t, int) { return static_cast<BYTE>(random()); });
        for (double dMinPixval : {-1.0, 0.0, 100.0, 254.5, 300.0}) Compare(dMinPixval);
        Make(nWidth, 61, [&](size_t x, size_t y, int c) {
            return static_cast<BYTE>((x * 255 / nWidth + y * 3 + c * 20 + random() % 9) % 256);
        });
        Compare(100.0);
    }
    // A whole high-definition frame goes almost entirely the fast way where it can.
    Make(1920, 1080,
         [&](size_t x, size_t y, int c) { return static_cast<BYTE>(x / 8 + y / 5 + c); });
    EXPECT_LT(Compare(100.0), 1080u * 2u / 10u);  // rows of 2 blocks
}

TEST_F(RowMeasureTest, TiesAndBlackFramesSumAsThePlainLoopDoes) {
    // Grey 3 has a luminance of exactly 3: against a sum of 2^53 (units of 2) every pixel is a
    // tie, which the sum rounds to even; against 2^52 + 1 the units are whole again.
    Make(300, 4, [](size_t, size_t, int) { return BYTE{3}; });
    ASSERT_EQ(CLuminanceTables::Of(m_bytes.data()), 3.0);
    for (double dStart : {0x1p53, 0x1p52 + 1.0, 0x1p40, 255.0, 256.0}) Compare(0.5, dStart);
    Make(700, 9, [](size_t, size_t, int) { return BYTE{0}; });
    Compare(100.0);
    Compare(-1.0);
}

TEST_F(RowMeasureTest, PixelsAtTheThresholdAndTheFinestUnitsSumAsThePlainLoopDoes) {
    // 100 x luminance is 10000 for each of these (blue, green, red): the formula puts two of
    // them a hair above 100, one a hair below and one at it, which only it can tell.
    const BYTE kAtHundred[][3] = {{13, 163, 8}, {114, 134, 28}, {8, 168, 0}, {100, 100, 100}};
    std::mt19937 random(11);
    Make(1001, 40, [&](size_t x, size_t, int c) {
        return x % 3 == 0 ? kAtHundred[random() % 4][c] : static_cast<BYTE>(random());
    });
    for (double dMinPixval : {100.0, std::nextafter(100.0, 0.0), std::nextafter(100.0, 200.0),
                              99.99999999, 100.00000001}) {
        Compare(dMinPixval);
    }
    // Sums from 2^14 (units of 2^-38) and up to 2^51 (units of 4), dark pixels so that most
    // blocks stay below the next power of two.
    Make(1000, 12, [&](size_t, size_t, int) { return static_cast<BYTE>(random() % 3); });
    EXPECT_LT(Compare(0.5, 0x1.8p14), 12u);
    Make(1000, 12, [&](size_t, size_t, int) { return static_cast<BYTE>(random()); });
    EXPECT_LT(Compare(50.0, 0x1.8p50), 12u);
}

// Whole-number luminance: 100 x y is L = 30 red + 59 green + 11 blue within 5.7e-12, so every
// pixel rounds to the same units as L / 100 does, down to units of 2^-38.
TEST(RowMeasureUnitsTest, EveryPixelRoundsToTheUnitsOfItsWholeNumberLuminance) {
    int nWrong = 0;
    for (int i = 0; i < (1 << 24); ++i) {
        const BYTE pixel[3] = {static_cast<BYTE>(i), static_cast<BYTE>(i >> 8),
                               static_cast<BYTE>(i >> 16)};
        const int64_t nLum = 30 * pixel[2] + 59 * pixel[1] + 11 * pixel[0];
        const double y = CLuminanceTables::Of(pixel);
        for (int k : {2, 38}) {
            // round(L x 2^(k-2) / 25), halves never arising
            const int64_t nScaled = nLum << (k - 2);
            const int64_t nUnits = (2 * nScaled + 25) / 50;
            nWrong += static_cast<int64_t>(std::nearbyint(std::ldexp(y, k))) != nUnits;
        }
    }
    EXPECT_EQ(nWrong, 0);
}

// The sums skip looking for ties from 2^14 to 2^51, where a tie would need a pixel whose
// luminance has its lowest set bit between 2^-39 and 2^-3: no pixel has one.
TEST(RowMeasureTieTest, NoLuminanceHasItsLowestBitBetween2ToThe39thAnd3rdNegative) {
    int nFound = 0;
    for (int i = 0; i < (1 << 24); ++i) {
        const BYTE pixel[3] = {static_cast<BYTE>(i), static_cast<BYTE>(i >> 8),
                               static_cast<BYTE>(i >> 16)};
        const double y = CLuminanceTables::Of(pixel);
        if (y == 0.0) continue;
        int e = 0;
        const double dMantissa = std::frexp(y, &e);  // y = m x 2^e, m in [0.5, 1)
        const auto nMantissa = static_cast<uint64_t>(std::ldexp(dMantissa, 53));
        const int nLowest = e - 53 + std::countr_zero(nMantissa);
        nFound += nLowest >= -39 && nLowest <= -3;
    }
    EXPECT_EQ(nFound, 0);
}

}  // namespace
