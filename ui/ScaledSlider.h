// SPDX-License-Identifier: GPL-3.0-or-later
// CScaledSlider: one trackbar and three edit boxes that show a floating-point quantity.
#pragma once

class QLineEdit;
class QSlider;

// Ties a vertical trackbar (positions 0..100, 0 at the top) and three boxes of the dialog to
// a value within a span: the box above the trackbar shows the maximum, the box below it the
// minimum and the third box the value. Position 0 stands for the maximum, 100 for the minimum,
// each position for one step of (maximum - minimum) / 100:
//     position = 100 - trunc((value - minimum) / step)
//     value    = (100 - position) * step + minimum
//
// The controls belong to the dialog, which outlives the slider; the slider only uses them. The
// dialog routes to it: a range box losing the focus to OnRangeEdited, the value box losing it to
// OnValueEdited, every scroll notification of the trackbar to OnScrolled. Each returns the value.
// Construction does nothing: Init comes before any other call.
//
// Edited range boxes keep their text as typed; the slider rewrites them only when a typed value
// widens the span. OnRangeEdited pulls the value into the span, OnValueEdited widens the span to
// the value; nothing keeps the maximum above the minimum (the step is then negative). Boxes show
// numbers as "%3.2e". An empty box changes nothing. A box whose text is not a finite number
// ("abc", "12abc", "inf") is put back: it shows its last number again, the edit changes nothing
// (of a range edit, neither end), and EditRejected tells the dialog not to pass the values on.
//
// The trackbar shows positions 0..100 only: a position outside that range is shown at the
// nearer end; with a step of 0 (maximum equal to minimum), or a value that is not a number,
// the trackbar stands at 100. Moving the trackbar from code sends no scroll notification.
class CScaledSlider {
  public:
    CScaledSlider();
    CScaledSlider(const CScaledSlider&) = delete;
    CScaledSlider& operator=(const CScaledSlider&) = delete;

    void Init(QLineEdit* pMaxEdit, QLineEdit* pMinEdit, QLineEdit* pValueEdit, QSlider* pTrackbar,
              double dMax, double dMin, double dValue);
    double OnRangeEdited();
    double OnValueEdited();
    double OnScrolled();
    double GetValue() const;
    // Whether the last OnRangeEdited or OnValueEdited put a box back (see the class comment).
    bool EditRejected() const { return m_bEditRejected; }
    // Shows dShown in the value box and on the trackbar in place of the value, which stays what
    // it is: the dialog shows a figure that stands in for the value for a while. ShowOwnValue
    // shows the value again; so does any of the three operations above.
    void ShowInstead(double dShown);
    void ShowOwnValue();

  private:
    void WidenRange();
    void ClampValue();
    void ShowRange();
    void ShowValue();
    void UpdatePosition();
    void ShowPosition(double dValue);

    QLineEdit* m_pMaxEdit;
    QLineEdit* m_pMinEdit;
    QLineEdit* m_pValueEdit;
    QSlider* m_pTrackbar;
    double m_dMax;
    double m_dMin;
    double m_dValue;
    double m_dStep;
    bool m_bEditRejected;
};
