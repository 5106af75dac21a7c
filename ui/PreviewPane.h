// SPDX-License-Identifier: GPL-3.0-or-later
// CPreviewPane: draws a frame, or a test pattern, into the dialog's picture control.
#pragma once

#include <QImage>
#include <QSize>
#include <array>
#include <memory>

#include "platform/wmf/wmsdk.h"

class CBitmapStatic;
class QWidget;

// Shows one picture in the picture control: the frame handed to ShowFrame, or a test pattern
// when no frame is handed over. The pane converts the frame into an image of its own (32-bit,
// upright) and gives it to the control, which shows it at its own size from the top-left corner
// and paints it by itself.
//
// Fit (SetFitArea with a non-empty size): every picture is scaled, to the nearest pixel, to the
// largest size that fits the area with the picture's aspect kept; without it (the default) a
// picture is shown at its own size, as it comes.
//
// Ownership: the dialog and the picture control are not owned and outlive the pane. The control
// owns the image it shows; the pane keeps the one shown before it, to draw the next frame into
// (and, when fitting, the rows shown before they are scaled across), so that a step allocates
// nothing once the size stays. The caller's header and pixels need to stay valid only during
// ShowFrame: no pointer to them and no frame bytes are kept.
//
// Frames: the header describes biWidth x biHeight pixels of 3 bytes (blue, green, red), rows
// bottom-up, each padded to a multiple of 4 bytes (DibStride); a negative height means rows
// top-down, and 32-bit pixels (blue, green, red, unused) are drawn too. A biCompression above 3
// (a codec's four-character code) is rewritten to BI_RGB in the caller's header and stays so.
// A frame that cannot be converted (another compression or bit count, no pixels, a size beyond
// kMaxSide) is shown as a black picture of its size, or as no picture when it has no size that
// an image can have. Nothing is reported.
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
    // Pictures from the next ShowFrame on are scaled to fit `area`; an empty size turns it off.
    void SetFitArea(const QSize& area) { m_fitArea = area; }

  private:
    // Fills m_bmiTestPattern and m_abTestPattern: 256 x 256, blue = column, green 0,
    // red = (512 - (row + column)) mod 256, row 0 at the bottom.
    void BuildTestPattern();
    // The size a picture of `size` is shown at.
    QSize ShownSize(const QSize& size) const;
    // An image of that size to draw into: the spare one when it fits and nothing else uses it.
    static QImage TakeBuffer(QImage& spare, const QSize& size);
    // The frame converted into an image of the shown size; null when it cannot be converted.
    QImage Convert(const BITMAPINFOHEADER& header, const BYTE* pPixels);

    QWidget* m_pParent;
    CBitmapStatic* m_pPicture;
    QImage m_spare;  // the picture shown before the current one, drawn over next
    QImage m_full;   // when fitting: the rows shown at the frame's width, before scaling
    QSize m_fitArea;
    BITMAPINFO m_bmiTestPattern;
    std::array<BYTE, kTestPatternSide * kTestPatternSide * 3> m_abTestPattern;
};
