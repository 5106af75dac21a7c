// CScaledSlider over the main dialog's boxes and trackbars, started as the dialog starts it.
#include <QDialog>
#include <QSignalSpy>
#include <string>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"
#include "ui/NumberText.h"
#include "ui/ScaledSlider.h"

// One slider column: its three boxes and trackbar.
struct SliderColumn {
    CEditBox* pMax;
    CEditBox* pMin;
    CEditBox* pValue;
    CTrackbar* pTrackbar;
};

class ScaledSliderTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(CDialogBuilder::Build(&m_dialog, IDD_VARNEL_DIALOG));
        m_brightness = Column(IDC_BRIGHTNESS_MAX, IDC_BRIGHTNESS_MIN, IDC_BRIGHTNESS_VALUE,
                              IDC_BRIGHTNESS_SLIDER);
        m_minPixval =
            Column(IDC_MINPIXVAL_MAX, IDC_MINPIXVAL_MIN, IDC_MINPIXVAL_VALUE, IDC_MINPIXVAL_SLIDER);
        m_darkFactor = Column(IDC_DARKFACTOR_MAX, IDC_DARKFACTOR_MIN, IDC_DARKFACTOR_VALUE,
                              IDC_DARKFACTOR_SLIDER);
        Init(m_brightnessSlider, m_brightness, 200.0, 100.0, 160.0);
        Init(m_minPixvalSlider, m_minPixval, 170.0, 20.0, 100.0);
        Init(m_darkFactorSlider, m_darkFactor, 100.0, 0.0, 10.0);
    }

    SliderColumn Column(int nMax, int nMin, int nValue, int nTrackbar) {
        return {GetDlgItem<CEditBox>(&m_dialog, nMax), GetDlgItem<CEditBox>(&m_dialog, nMin),
                GetDlgItem<CEditBox>(&m_dialog, nValue),
                GetDlgItem<CTrackbar>(&m_dialog, nTrackbar)};
    }

    static void Init(CScaledSlider& slider, const SliderColumn& column, double dMax, double dMin,
                     double dValue) {
        slider.Init(column.pMax, column.pMin, column.pValue, column.pTrackbar, dMax, dMin, dValue);
    }

    // The user drags the trackbar to a position: a scroll notification, then OnScrolled.
    static double DragTo(CScaledSlider& slider, const SliderColumn& column, int nPosition) {
        column.pTrackbar->setSliderPosition(nPosition);
        return slider.OnScrolled();
    }

    static std::string Text(const CEditBox* pEdit) { return pEdit->text().toStdString(); }

    QDialog m_dialog;
    SliderColumn m_brightness{};
    SliderColumn m_minPixval{};
    SliderColumn m_darkFactor{};
    CScaledSlider m_brightnessSlider;
    CScaledSlider m_minPixvalSlider;
    CScaledSlider m_darkFactorSlider;
};

TEST_F(ScaledSliderTest, StartUpRowsShowTheirNumbersAndPositions) {
    const struct {
        const SliderColumn& column;
        const CScaledSlider& slider;
        const char *pszMax, *pszMin, *pszValue;
        int nPosition;
        double dValue;
    } rows[] = {
        {m_brightness, m_brightnessSlider, "2.00e+02", "1.00e+02", "1.60e+02", 40, 160.0},
        {m_minPixval, m_minPixvalSlider, "1.70e+02", "2.00e+01", "1.00e+02", 47, 100.0},
        {m_darkFactor, m_darkFactorSlider, "1.00e+02", "0.00e+00", "1.00e+01", 90, 10.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszValue);
        EXPECT_EQ(Text(row.column.pMax), row.pszMax);
        EXPECT_EQ(Text(row.column.pMin), row.pszMin);
        EXPECT_EQ(Text(row.column.pValue), row.pszValue);
        EXPECT_EQ(row.column.pTrackbar->value(), row.nPosition);
        EXPECT_EQ(row.slider.GetValue(), row.dValue);
    }
}

TEST_F(ScaledSliderTest, DraggingMinPixvalToItsStartPositionGivesTheLowerStep) {
    EXPECT_DOUBLE_EQ(DragTo(m_minPixvalSlider, m_minPixval, 47), 99.5);
    EXPECT_DOUBLE_EQ(m_minPixvalSlider.GetValue(), 99.5);
    EXPECT_EQ(Text(m_minPixval.pValue), "9.95e+01");
    EXPECT_EQ(Text(m_minPixval.pMax), "1.70e+02");
}

// Each row types into the boxes of "Brightness" (200, 100, 160 at the start; nullptr leaves a box
// alone) and commits them. The boxes typed into keep what was typed; the others are rewritten.
// The drag afterwards shows the new step.
TEST_F(ScaledSliderTest, TypedNumbersMoveTheSpanValueAndTrackbar) {
    const struct {
        const char* pszCase;
        const char *pszTypedMax, *pszTypedMin, *pszTypedValue;
        double dCommitted;
        const char *pszMax, *pszMin, *pszValue;
        int nPosition;
        int nDragTo;
        double dDragged;
    } cases[] = {
        {"a value above the maximum becomes the maximum (step 1.5)", nullptr, nullptr, "250", 250.0,
         "2.50e+02", "1.00e+02", "250", 0, 50, 175.0},
        {"a value below the minimum becomes the minimum", nullptr, nullptr, "50", 50.0, "2.00e+02",
         "5.00e+01", "50", 100, 50, 125.0},
        {"a maximum below the value pulls the value down", "150", nullptr, nullptr, 150.0, "150",
         "1.00e+02", "1.50e+02", 0, 50, 125.0},
        {"a minimum above the maximum ends at the maximum with step -1", nullptr, "300", nullptr,
         200.0, "2.00e+02", "300", "2.00e+02", 0, 50, 250.0},
        {"letters as the value read as 0 and widen the span down", nullptr, nullptr, "abc", 0.0,
         "2.00e+02", "0.00e+00", "abc", 100, 50, 100.0},
        {"an empty value box changes nothing", nullptr, nullptr, "", 160.0, "2.00e+02", "1.00e+02",
         "", 40, 0, 200.0},
        {"equal maximum and minimum put the trackbar at the bottom", "10", "10", nullptr, 10.0,
         "10", "10", "1.00e+01", 100, 30, 10.0},
        {"empty range boxes change nothing", "", "", nullptr, 160.0, "", "", "1.60e+02", 40, 0,
         200.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        Init(m_brightnessSlider, m_brightness, 200.0, 100.0, 160.0);
        double dCommitted;
        if (c.pszTypedValue != nullptr) {
            m_brightness.pValue->setText(QString::fromLatin1(c.pszTypedValue));
            dCommitted = m_brightnessSlider.OnValueEdited();
        } else {
            if (c.pszTypedMax != nullptr)
                m_brightness.pMax->setText(QString::fromLatin1(c.pszTypedMax));
            if (c.pszTypedMin != nullptr)
                m_brightness.pMin->setText(QString::fromLatin1(c.pszTypedMin));
            dCommitted = m_brightnessSlider.OnRangeEdited();
        }
        EXPECT_EQ(dCommitted, c.dCommitted);
        EXPECT_EQ(Text(m_brightness.pMax), c.pszMax);
        EXPECT_EQ(Text(m_brightness.pMin), c.pszMin);
        EXPECT_EQ(Text(m_brightness.pValue), c.pszValue);
        EXPECT_EQ(m_brightness.pTrackbar->value(), c.nPosition);
        EXPECT_DOUBLE_EQ(DragTo(m_brightnessSlider, m_brightness, c.nDragTo), c.dDragged);
    }
}

TEST_F(ScaledSliderTest, ALeadingNumberCountsAndTheRestIsIgnored) {
    m_darkFactor.pValue->setText(QStringLiteral("  25.5xyz"));
    EXPECT_EQ(m_darkFactorSlider.OnValueEdited(), 25.5);
    m_darkFactor.pMax->setText(QStringLiteral("5e1 units"));
    EXPECT_EQ(m_darkFactorSlider.OnRangeEdited(), 25.5);
    EXPECT_EQ(m_darkFactor.pTrackbar->value(), 49);  // 100 - trunc(25.5 / 0.5)
}

TEST_F(ScaledSliderTest, NumbersBeyondTheTrackbarKeepItInRange) {
    for (const char* pszTyped : {"1e300", "-1e300", "1e999", "-1e999", "nan", "1e-320"}) {
        SCOPED_TRACE(pszTyped);
        m_minPixval.pValue->setText(QString::fromLatin1(pszTyped));
        m_minPixvalSlider.OnValueEdited();
        EXPECT_GE(m_minPixval.pTrackbar->value(), 0);
        EXPECT_LE(m_minPixval.pTrackbar->value(), 100);
        m_minPixval.pMax->setText(QString::fromLatin1(pszTyped));
        m_minPixvalSlider.OnRangeEdited();
        EXPECT_GE(m_minPixval.pTrackbar->value(), 0);
        EXPECT_LE(m_minPixval.pTrackbar->value(), 100);
    }
}

TEST_F(ScaledSliderTest, PositionsSetByTheSliderAreNoScrolls) {
    QSignalSpy scrolls(m_brightness.pTrackbar, &CTrackbar::scrolled);
    m_brightness.pValue->setText(QStringLiteral("101.7"));
    m_brightnessSlider.OnValueEdited();
    m_brightness.pMin->setText(QStringLiteral("0"));
    m_brightnessSlider.OnRangeEdited();
    EXPECT_EQ(scrolls.count(), 0);
    // The typed value stays as typed: no scroll rounded it to a trackbar point.
    EXPECT_EQ(m_brightnessSlider.GetValue(), 101.7);
    EXPECT_EQ(m_brightness.pTrackbar->value(), 50);  // 100 - trunc(101.7 / 2)
}

TEST(NumberTextTest, FormatsAndReadsWithTheCLibraryConventions) {
    EXPECT_EQ(FormatNumber("%3.2e", 160.0).toStdString(), "1.60e+02");
    EXPECT_EQ(FormatNumber("%3.2e", -0.000125).toStdString(), "-1.25e-04");
    EXPECT_EQ(FormatNumber("%e", 2.5).toStdString(), "2.500000e+00");
    EXPECT_EQ(ReadNumber(QStringLiteral("1.5e2")), 150.0);
    EXPECT_EQ(ReadNumber(QStringLiteral(" +7")), 7.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("0x10")), 16.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("x1")), 0.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("3\u20AC")), 3.0);  // a character beyond Latin-1
}
