// SPDX-License-Identifier: GPL-3.0-or-later
// The frame controls of the main window: "Next >", the forward seek of the "Frame #" box,
// "Skip 100", and "FreePlay" on its one-shot timer.
#include <climits>

#include "tests/app/MainWindowFixture.h"
#include "ui/NumberText.h"

class FrameControlsTest : public MainWindowTest {};

// From frame 10 of the grey clip, each row types into "Frame #" and leaves it (or clicks
// "Skip 100"), then takes one step; the box then shows pszFrame. A seek reads the box with atof
// and never moves back; what is skipped is read but not processed.
TEST_F(FrameControlsTest, SeeksAndSkipsMoveOnWithoutProcessingWhatTheyPass) {
    OpenGreyClipAndOutput();
    Click(IDC_NEXT, 10);
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "10");
    EXPECT_NEAR(ReadNumber(Text(IDC_FRAME_TIME)), 9 * 1001.0 / 30000.0, 0.0015);
    EXPECT_EQ(Text(IDC_BEFORE), "1.280000e+02");
    EXPECT_EQ(Text(IDC_DARK), "0.000000e+00");
    EXPECT_EQ(Text(IDC_STATUS), "Frame 10 of about 60");

    const struct {
        const char* pszTyped;  // null: "Skip 100"
        QString frame;
    } steps[] = {
        {"25", "26"},
        {"12.9", "27"},
        {"abc", "28"},
        {"-5", "29"},
        {"nan", "30"},
        {"30", "31"},
        {"  40.7xyz", "41"},
        {nullptr, "142"},  // the input ends on the way
        {"1000000", "1000001"},
        {"1e300", QString::number(INT_MAX)},  // the counter stops at the largest int
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.pszTyped != nullptr ? step.pszTyped : "Skip 100");
        if (step.pszTyped != nullptr) {
            TypeAndLeave(IDC_FRAME_NUMBER, QString::fromLatin1(step.pszTyped));
        } else {
            Click(IDC_SKIP100);
        }
        Click(IDC_NEXT);
        EXPECT_EQ(Text(IDC_FRAME_NUMBER), step.frame);
    }
    // 17 frames reached the processor (1-10, 26-31 and 41): picks at its frames 6, 9, ..., 15.
    m_pDlg->reject();
    EXPECT_EQ(ProbeFrameCount(Output()), 4);
}

TEST_F(FrameControlsTest, FreePlayRunsToTheEndFinishesTheOutputAndStepsOnlyOnceMore) {
    // Until play is off and no tick is pending; the bound is against a hang.
    const auto WaitUntilPlayStops = [this] {
        return QTest::qWaitFor(
            [this] { return m_pDlg->GetFreePlay() == 0 && !m_pDlg->IsPlayTimerArmed(); }, 300000);
    };
    OpenGreyClipAndOutput();
    Click(IDC_FREEPLAY);
    Click(IDC_FREEPLAY);  // pressed twice before the tick: no step
    ASSERT_TRUE(WaitUntilPlayStops());
    EXPECT_TRUE(Text(IDC_FRAME_NUMBER).isEmpty());
    Click(IDC_FREEPLAY);
    ASSERT_TRUE(WaitUntilPlayStops());
    // One step failed at the end (frame 61) and no step followed it.
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), QString::number(kGreyFrames + 1));
    EXPECT_EQ(ProbeFrameCount(Output()), 19);
    EXPECT_EQ(Text(IDC_STATUS),
              "Finished: 19 pictures written to " + PathText(Output()) + " (0.634 s)");
    Click(IDC_FREEPLAY);  // after the end: one failing step, and play stops
    ASSERT_TRUE(WaitUntilPlayStops());
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), QString::number(kGreyFrames + 2));
}
