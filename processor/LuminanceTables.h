// SPDX-License-Identifier: GPL-3.0-or-later
// Per-channel products of the luminance formula, for the pixel loops of the frame processor.
#pragma once

#include <array>

#include "platform/wmf/wmsdk.h"

// dWeight * v for every byte value v.
constexpr std::array<double, 256> LuminanceProducts(double dWeight) {
    std::array<double, 256> table{};
    for (int v = 0; v < 256; ++v) table[v] = dWeight * static_cast<double>(v);
    return table;
}

// kRed[v] = 0.30 * v, kGreen[v] = 0.59 * v, kBlue[v] = 0.11 * v for every byte value v, each
// the same correctly rounded double product that the formula forms at run time, so that
// (kRed[r] + kGreen[g]) + kBlue[b] equals CFrameProcessor::Luminance bit for bit.
struct CLuminanceTables {
    using Table = std::array<double, 256>;

    static constexpr Table kRed = LuminanceProducts(0.30);
    static constexpr Table kGreen = LuminanceProducts(0.59);
    static constexpr Table kBlue = LuminanceProducts(0.11);

    // Luminance of the blue-green-red pixel at pPixel.
    static double Of(const BYTE* pPixel) {
        return (kRed[pPixel[2]] + kGreen[pPixel[1]]) + kBlue[pPixel[0]];
    }
};
