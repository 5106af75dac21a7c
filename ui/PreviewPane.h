// SPDX-License-Identifier: GPL-3.0-or-later
// CPreviewPane: draws a frame, or a test pattern, into the dialog's picture control.
#pragma once

#include <QPixmap>
#include <array>
#include <memory>

#include "platform/wmf/wmsdk.h"

class CBitmapStatic;
class QWidget;

// Shows one picture in the picture control: the frame handed to ShowFrame, or a test pattern
// when no frame is handed over. The pane converts the frame into one QPixmap of its own and
// gives it to the control, which shows it at its own size from the top-left corner and repaints
// it by itself.
//
// Ownership: the dialog and the picture control are not owned and outlive the pane. The pane
// owns m_pBitmap, the one QPixmap that exists, shared with the control; each frame replaces it
// (the previous one is destroyed first). The caller's header and pixels need to stay valid only
// during ShowFrame: no pointer to them and no frame bytes are kept.
//
// Frames: the header describes biWidth x biHeight pixels of 3 bytes (blue, green, red), rows
// bottom-up, each padded to a multiple of 4 bytes (DibStride); a negative height means rows
// top-down, and 32-bit pixels (blue, green, red, unused) are drawn too. A biCompression above 3
// (a codec's four-character code) is rewritten to BI_RGB in the caller's header and stays so.
// A frame that cannot be converted (another compression or bit count, no pixels, a size beyond
// kMaxSide) is shown as a black picture of its size, or as no picture when it has no size that
// a pixmap can have. Nothing is reported.
class CPreviewPane {
  public:
    static constexpr int kTestPatternSide = 256;
    static constexpr int kMaxSide = 16384;

    CPreviewPane(QWidget* pParent, CBitmapStatic* pPicture);
    ~CPreviewPane();
    CPreviewPane(const CPreviewPane&) = delete;
    CPreviewPane& operator=(const CPreviewPane&) = delete;

    // Draws the frame, or the test pattern when either pointer is null.
    void ShowFrame(BITMAPINFOHEADER* pHeader, const BYTE* pPixels);

  private:
    // Fills m_bmiTestPattern and m_abTestPattern: 256 x 256, blue = column, green 0,
    // red = (512 - (row + column)) mod 256, row 0 at the bottom.
    void BuildTestPattern();

    QWidget* m_pParent;
    CBitmapStatic* m_pPicture;
    std::unique_ptr<QPixmap> m_pBitmap;
    BITMAPINFO m_bmiTestPattern;
    std::array<BYTE, kTestPatternSide * kTestPatternSide * 3> m_abTestPattern;
};
