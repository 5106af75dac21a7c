// SPDX-License-Identifier: GPL-3.0-or-later
// CScaledSlider over the "Brightness" column of the main dialog: what typing into its boxes and
// dragging its trackbar show and give.
#include <QDialog>
#include <QSignalSpy>
#include <cmath>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"
#include "ui/ScaledSlider.h"

namespace {

// One edit of the slider. The slider starts at dMax, dMin, dValue; then the typed boxes (null
// leaves a box alone) are committed: the value box when typed, else the range boxes. The boxes
// and the trackbar then show pszMax, pszMin, pszValue and nPosition, and a drag to nDragTo
// (-1: none) gives dDragged. No commit moves the trackbar with a scroll notification.
struct SliderEdit {
    const char* pszCase;
    double dMax, dMin, dValue;
    const char *pszTypedMax, *pszTypedMin, *pszTypedValue;
    double dCommitted;
    const char *pszMax, *pszMin, *pszValue;
    int nPosition;
    int nDragTo;
    double dDragged;
};

void PrintTo(const SliderEdit& edit, std::ostream* pStream) { *pStream << edit.pszCase; }

// clang-format off
const SliderEdit kEdits[] = {
    {"start: the position truncated", 170, 20, 100, nullptr, nullptr, nullptr,
     100, "1.70e+02", "2.00e+01", "1.00e+02", 47, 47, 99.5},
    {"a value above the maximum becomes the maximum", 200, 100, 160, nullptr, nullptr, "250",
     250, "2.50e+02", "1.00e+02", "250", 0, 50, 175},
    {"a maximum below the value pulls the value down", 200, 100, 160, "150", nullptr, nullptr,
     150, "150", "1.00e+02", "1.50e+02", 0, 50, 125},
    {"a minimum above the maximum gives a negative step", 200, 100, 160, nullptr, "300", nullptr,
     200, "2.00e+02", "300", "2.00e+02", 0, 50, 250},
    {"equal maximum and minimum: the trackbar at the bottom", 200, 100, 160, "10", "10", nullptr,
     10, "10", "10", "1.00e+01", 100, 30, 10},
    {"letters are put back", 200, 100, 160, nullptr, nullptr, "abc",
     160, "2.00e+02", "1.00e+02", "1.60e+02", 40, 0, 200},
    {"an empty value box changes nothing", 200, 100, 160, nullptr, nullptr, "",
     160, "2.00e+02", "1.00e+02", "", 40, 0, 200},
    {"a number followed by more is put back", 100, 0, 10, "5e1 units", nullptr, nullptr,
     10, "1.00e+02", "0.00e+00", "1.00e+01", 90, 49, 51},
    {"an infinite value is put back", 170, 20, 100, nullptr, nullptr, "-1e999",
     100, "1.70e+02", "2.00e+01", "1.00e+02", 47, -1, 0},
    {"nan is put back", 170, 20, 100, nullptr, nullptr, " nan ",
     100, "1.70e+02", "2.00e+01", "1.00e+02", 47, -1, 0},
    {"a number with spaces around counts", 170, 20, 100, nullptr, nullptr, " 1.5e2 ",
     150, "1.70e+02", "2.00e+01", " 1.5e2 ", 14, -1, 0},
};
// clang-format on

}  // namespace

class ScaledSliderTest : public testing::TestWithParam<SliderEdit> {};

TEST_P(ScaledSliderTest, TypedBoxesMoveTheSpanValueAndTrackbarWithoutAScroll) {
    const SliderEdit& c = GetParam();
    QDialog dialog;
    ASSERT_TRUE(CDialogBuilder::Build(&dialog, IDD_VARNEL_DIALOG));
    CEditBox* apBoxes[] = {GetDlgItem<CEditBox>(&dialog, IDC_BRIGHTNESS_MAX),
                           GetDlgItem<CEditBox>(&dialog, IDC_BRIGHTNESS_MIN),
                           GetDlgItem<CEditBox>(&dialog, IDC_BRIGHTNESS_VALUE)};
    auto* pTrackbar = GetDlgItem<CTrackbar>(&dialog, IDC_BRIGHTNESS_SLIDER);
    QSignalSpy scrolls(pTrackbar, &CTrackbar::scrolled);
    CScaledSlider slider;
    slider.Init(apBoxes[0], apBoxes[1], apBoxes[2], pTrackbar, c.dMax, c.dMin, c.dValue);
    const char* apszTyped[] = {c.pszTypedMax, c.pszTypedMin, c.pszTypedValue};
    for (int i = 0; i < 3; ++i) {
        if (apszTyped[i] != nullptr) apBoxes[i]->setText(QString::fromUtf8(apszTyped[i]));
    }
    double dCommitted = slider.GetValue();
    if (c.pszTypedValue != nullptr) {
        dCommitted = slider.OnValueEdited();
    } else if (c.pszTypedMax != nullptr || c.pszTypedMin != nullptr) {
        dCommitted = slider.OnRangeEdited();
    }
    EXPECT_TRUE(dCommitted == c.dCommitted || (std::isnan(dCommitted) && std::isnan(c.dCommitted)));
    const char* apszShown[] = {c.pszMax, c.pszMin, c.pszValue};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(apBoxes[i]->text().toStdString(), apszShown[i]) << i;
    EXPECT_EQ(pTrackbar->value(), c.nPosition);
    EXPECT_EQ(scrolls.count(), 0);
    if (c.nDragTo >= 0) {
        pTrackbar->setSliderPosition(c.nDragTo);
        EXPECT_DOUBLE_EQ(slider.OnScrolled(), c.dDragged);
    }
}

INSTANTIATE_TEST_SUITE_P(Edits, ScaledSliderTest, testing::ValuesIn(kEdits));
