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
    EXPECT_EQ(Text(m_brightness.pMax), "2.00e+02");
    EXPECT_EQ(Text(m_brightness.pMin), "1.00e+02");
    EXPECT_EQ(Text(m_brightness.pValue), "1.60e+02");
    EXPECT_EQ(m_brightness.pTrackbar->value(), 40);
    EXPECT_EQ(Text(m_minPixval.pMax), "1.70e+02");
    EXPECT_EQ(Text(m_minPixval.pMin), "2.00e+01");
    EXPECT_EQ(Text(m_minPixval.pValue), "1.00e+02");
    EXPECT_EQ(m_minPixval.pTrackbar->value(), 47);
    EXPECT_EQ(Text(m_darkFactor.pMax), "1.00e+02");
    EXPECT_EQ(Text(m_darkFactor.pMin), "0.00e+00");
    EXPECT_EQ(Text(m_darkFactor.pValue), "1.00e+01");
    EXPECT_EQ(m_darkFactor.pTrackbar->value(), 90);
    EXPECT_EQ(m_brightnessSlider.GetValue(), 160.0);
    EXPECT_EQ(m_minPixvalSlider.GetValue(), 100.0);
    EXPECT_EQ(m_darkFactorSlider.GetValue(), 10.0);
}

TEST_F(ScaledSliderTest, DraggingMinPixvalToItsStartPositionGivesTheLowerStep) {
    EXPECT_DOUBLE_EQ(DragTo(m_minPixvalSlider, m_minPixval, 47), 99.5);
    EXPECT_DOUBLE_EQ(m_minPixvalSlider.GetValue(), 99.5);
    EXPECT_EQ(Text(m_minPixval.pValue), "9.95e+01");
    EXPECT_EQ(Text(m_minPixval.pMax), "1.70e+02");
}

TEST_F(ScaledSliderTest, TypingAValueAboveTheMaximumMakesItTheMaximum) {
    m_brightness.pValue->setText(QStringLiteral("250"));
    EXPECT_EQ(m_brightnessSlider.OnValueEdited(), 250.0);
    EXPECT_EQ(Text(m_brightness.pMax), "2.50e+02");
    EXPECT_EQ(Text(m_brightness.pMin), "1.00e+02");
    EXPECT_EQ(Text(m_brightness.pValue), "250");  // the value box keeps what was typed
    EXPECT_EQ(m_brightness.pTrackbar->value(), 0);
    // The step is now 1.5.
    EXPECT_DOUBLE_EQ(DragTo(m_brightnessSlider, m_brightness, 50), 175.0);
}

TEST_F(ScaledSliderTest, TypingAValueBelowTheMinimumMakesItTheMinimum) {
    m_brightness.pValue->setText(QStringLiteral("50"));
    EXPECT_EQ(m_brightnessSlider.OnValueEdited(), 50.0);
    EXPECT_EQ(Text(m_brightness.pMax), "2.00e+02");
    EXPECT_EQ(Text(m_brightness.pMin), "5.00e+01");
    EXPECT_EQ(m_brightness.pTrackbar->value(), 100);
}

TEST_F(ScaledSliderTest, AMaximumBelowTheValuePullsTheValueDown) {
    m_brightness.pMax->setText(QStringLiteral("150"));
    EXPECT_EQ(m_brightnessSlider.OnRangeEdited(), 150.0);
    EXPECT_EQ(Text(m_brightness.pValue), "1.50e+02");
    EXPECT_EQ(Text(m_brightness.pMax), "150");  // range boxes keep what was typed
    EXPECT_EQ(Text(m_brightness.pMin), "1.00e+02");
    EXPECT_EQ(m_brightness.pTrackbar->value(), 0);
}

TEST_F(ScaledSliderTest, AMinimumAboveTheMaximumEndsAtTheMaximumWithANegativeStep) {
    m_brightness.pMin->setText(QStringLiteral("300"));
    EXPECT_EQ(m_brightnessSlider.OnRangeEdited(), 200.0);
    EXPECT_EQ(Text(m_brightness.pValue), "2.00e+02");
    EXPECT_EQ(Text(m_brightness.pMin), "300");
    EXPECT_EQ(m_brightness.pTrackbar->value(), 0);
    // Step -1: half-way down is 300 - 50.
    EXPECT_DOUBLE_EQ(DragTo(m_brightnessSlider, m_brightness, 50), 250.0);
}

TEST_F(ScaledSliderTest, LettersAsTheValueReadAsZeroAndWidenTheSpanDown) {
    m_brightness.pValue->setText(QStringLiteral("abc"));
    EXPECT_EQ(m_brightnessSlider.OnValueEdited(), 0.0);
    EXPECT_EQ(Text(m_brightness.pMin), "0.00e+00");
    EXPECT_EQ(Text(m_brightness.pMax), "2.00e+02");
    EXPECT_EQ(Text(m_brightness.pValue), "abc");
    EXPECT_EQ(m_brightness.pTrackbar->value(), 100);
}

TEST_F(ScaledSliderTest, AnEmptyBoxChangesNothing) {
    m_brightness.pValue->clear();
    EXPECT_EQ(m_brightnessSlider.OnValueEdited(), 160.0);
    EXPECT_EQ(Text(m_brightness.pValue), "");
    m_brightness.pMax->clear();
    m_brightness.pMin->clear();
    EXPECT_EQ(m_brightnessSlider.OnRangeEdited(), 160.0);
    EXPECT_EQ(Text(m_brightness.pMax), "");
    EXPECT_EQ(Text(m_brightness.pMin), "");
    EXPECT_EQ(m_brightness.pTrackbar->value(), 40);
    EXPECT_DOUBLE_EQ(DragTo(m_brightnessSlider, m_brightness, 0), 200.0);
}

TEST_F(ScaledSliderTest, ALeadingNumberCountsAndTheRestIsIgnored) {
    m_darkFactor.pValue->setText(QStringLiteral("  25.5xyz"));
    EXPECT_EQ(m_darkFactorSlider.OnValueEdited(), 25.5);
    m_darkFactor.pMax->setText(QStringLiteral("5e1 units"));
    EXPECT_EQ(m_darkFactorSlider.OnRangeEdited(), 25.5);
    EXPECT_EQ(m_darkFactor.pTrackbar->value(), 49);  // 100 - trunc(25.5 / 0.5)
}

TEST_F(ScaledSliderTest, EqualMaximumAndMinimumPutTheTrackbarAtTheBottom) {
    m_darkFactor.pMax->setText(QStringLiteral("10"));
    m_darkFactor.pMin->setText(QStringLiteral("10"));
    EXPECT_EQ(m_darkFactorSlider.OnRangeEdited(), 10.0);
    EXPECT_EQ(m_darkFactor.pTrackbar->value(), 100);
    EXPECT_EQ(DragTo(m_darkFactorSlider, m_darkFactor, 30), 10.0);
    EXPECT_EQ(Text(m_darkFactor.pValue), "1.00e+01");
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

class NumberTextTest : public testing::Test {};

TEST_F(NumberTextTest, FormatsAndReadsWithTheCLibraryConventions) {
    EXPECT_EQ(FormatNumber("%3.2e", 160.0).toStdString(), "1.60e+02");
    EXPECT_EQ(FormatNumber("%3.2e", -0.000125).toStdString(), "-1.25e-04");
    EXPECT_EQ(FormatNumber("%e", 2.5).toStdString(), "2.500000e+00");
    EXPECT_EQ(ReadNumber(QStringLiteral("1.5e2")), 150.0);
    EXPECT_EQ(ReadNumber(QStringLiteral(" +7")), 7.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("0x10")), 16.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("x1")), 0.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("3\u20AC")), 3.0);  // a character beyond Latin-1
}
