// SPDX-License-Identifier: GPL-3.0-or-later
// CThumbnail: a frame shrunk to a few hundred bytes, for comparing frames without keeping them.
#pragma once

#include <array>
#include <cstdint>

#include "platform/wmf/wmsdk.h"

// A 12 x 9 grid of blocks over the frame, each with the mean luminance and the two colour
// differences (blue - luminance, red - luminance) of a fixed pattern of at most 8 x 8 pixels
// sampled in it. The same pixels are sampled in every frame of a size, so two frames that differ
// only in brightness give thumbnails that differ only in brightness. 432 bytes; it owns no
// pixels and refers to none. A frame without pixels (or with fewer pixels than blocks in a
// direction) gives an empty thumbnail.
class CThumbnail {
  public:
    static constexpr int kColumns = 12;
    static constexpr int kRows = 9;
    static constexpr int kBlocks = kColumns * kRows;

    CThumbnail() = default;
    // Samples the 24-bit blue-green-red frame that pFormat describes, rows at the DIB stride.
    CThumbnail(const BITMAPINFOHEADER* pFormat, const BYTE* pPixels);

    bool Empty() const { return !m_bFilled; }
    // Block i's mean luminance, 0..255, and its colour differences, -255..255 (kept to 2
    // levels).
    double Luma(int i) const { return m_luma[static_cast<size_t>(i)] / kLumaScale; }
    double BlueDifference(int i) const { return 2.0 * m_blue[static_cast<size_t>(i)]; }
    double RedDifference(int i) const { return 2.0 * m_red[static_cast<size_t>(i)]; }

  private:
    static constexpr double kLumaScale = 64.0;

    std::array<uint16_t, kBlocks> m_luma{};
    std::array<int8_t, kBlocks> m_blue{};
    std::array<int8_t, kBlocks> m_red{};
    bool m_bFilled = false;
};
