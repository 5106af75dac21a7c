// SPDX-License-Identifier: GPL-3.0-or-later
// The luminance sums of a frame's rows for the measuring walk, equal bit for bit to the loop that
// adds one pixel at a time, in far less time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wmf/wmsdk.h"

// Sums the luminance (CLuminanceTables::Of) of blue-green-red pixels, taken in the order their
// rows are added: of the pixels above dMinPixval (Bright, counted by BrightCount) and, with bAll,
// of every pixel (All). Each sum is the double that a loop adding the pixels one at a time gives,
// bit for bit, a pixel at or below the threshold adding 0.0 to the bright sum; the rows may be
// split into calls anywhere. dStart is what both sums start from (0.0 for a frame).
//
// Why it can go faster and stay exact: while a sum s lies in [2^k, 2^(k+1)), adding y >= 0 gives
// the multiple of ulp(s) nearest to s + y, so the sum moves by round(y / ulp(s)) whole units,
// unless s + y falls exactly halfway between two of them (a tie, rounded to the even one, which
// depends on s). Units are integers: they add up exactly in any order. So a block of pixels
// without a tie whose units keep the sum below 2^(k+1) is added in one step, its units counted
// with vector instructions where the processor has AVX2; any other block (the sum crosses a power
// of two, a tie, a processor without AVX2) is added one pixel at a time. Where the sums lie from
// 2^14 to 2^51 the units come from whole numbers, 16 pixels at a time (see RowMeasure.cpp).
class CLuminanceSums {
  public:
    CLuminanceSums(double dMinPixval, bool bAll, double dStart = 0.0);

    // nWidth pixels at pRow; nReadable (at least nWidth * 3) bytes from pRow may be read, so a
    // row's padding lets the vector loads run to its last pixel.
    void AddRow(const BYTE* pRow, size_t nWidth, size_t nReadable);

    double Bright() const { return m_dBright; }
    double All() const { return m_dAll; }
    uint64_t BrightCount() const { return m_nBright; }
    // Blocks added one pixel at a time, for tests and benchmarks.
    uint64_t SlowBlocks() const { return m_nSlowBlocks; }

  private:
    void AddBlock(const BYTE* p, size_t n, size_t nReadable);
    void AddPixels(const BYTE* p, size_t n);

    double m_dMinPixval;
    bool m_bAll;
    double m_dBright;
    double m_dAll;
    uint64_t m_nBright = 0;
    uint64_t m_nSlowBlocks = 0;
};
