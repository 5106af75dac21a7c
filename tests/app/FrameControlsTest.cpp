// The frame controls of the main window: "Next >", "FreePlay" on its one-shot timer,
// "Skip 100", the forward seek of the "Frame #" box, and "Show Write".
#include <QTest>
#include <climits>

#include "res/resource.h"
#include "tests/app/MainWindowFixture.h"
#include "ui/DialogControls.h"
#include "ui/NumberText.h"

class FrameControlsTest : public MainWindowTest {
  protected:
    // Types into "Frame #" and leaves it, then takes one step; gives the frame number shown.
    QString SeekThenStep(const QString& text) {
        TypeAndLeave(IDC_FRAME_NUMBER, text);
        ClickNext(1);
        return Text(IDC_FRAME_NUMBER);
    }
};

TEST_F(FrameControlsTest, NextShowsTheFrameNumberTimeAndStatistics) {
    OpenGreyClipAndOutput();
    ClickNext(2);
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "2");
    // The second sample of a 29.97 per second clip.
    EXPECT_NEAR(ReadNumber(Text(IDC_FRAME_TIME)), 1001.0 / 30000.0, 0.0015);
    EXPECT_EQ(Text(IDC_BEFORE), "1.280000e+02");
    EXPECT_EQ(Text(IDC_AFTER), "0.000000e+00");
    EXPECT_EQ(Text(IDC_DARK), "0.000000e+00");
    EXPECT_EQ(Picture().size(), QSize(kGreyWidth, kGreyHeight));
}

TEST_F(FrameControlsTest, FreePlayRunsToTheEndTurnsPlayOffAndFinishesTheOutput) {
    OpenGreyClipAndOutput();
    Click(IDC_FREEPLAY);
    EXPECT_EQ(m_pDlg->GetFreePlay(), 1);
    EXPECT_TRUE(m_pDlg->IsPlayTimerArmed());
    ASSERT_TRUE(WaitUntilPlayStops());

    // One step failed at the end (frame 61) and no step followed it.
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), QString::number(kGreyFrames + 1));
    const ProbedOutput probed = ProbeOutput(Output());
    EXPECT_EQ(probed.nStreams, 1);
    EXPECT_EQ(probed.strCodec, "wmv2");
    EXPECT_EQ(probed.nPackets, kGreySamplesWritten);
}

TEST_F(FrameControlsTest, FreePlayPressedTwiceBeforeTheTickTakesNoStep) {
    OpenGreyClipAndOutput();
    Click(IDC_FREEPLAY);
    Click(IDC_FREEPLAY);
    EXPECT_EQ(m_pDlg->GetFreePlay(), 0);
    ASSERT_TRUE(WaitUntilPlayStops());
    EXPECT_TRUE(Text(IDC_FRAME_NUMBER).isEmpty());
}

TEST_F(FrameControlsTest, StepsAfterTheEndAdvanceTheNumberKeepTheLastTimeAndFreePlayStops) {
    OpenGreyClipAndOutput();
    ClickNext(kGreyFrames);
    const QString lastTime = Text(IDC_FRAME_TIME);
    const QString lastBefore = Text(IDC_BEFORE);
    ClickNext(2);
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), QString::number(kGreyFrames + 2));
    EXPECT_EQ(Text(IDC_FRAME_TIME), lastTime);
    EXPECT_EQ(Text(IDC_BEFORE), lastBefore);
    EXPECT_EQ(m_pDlg->GetFreePlay(), 0);
    // "FreePlay" now takes one failing step and stops.
    Click(IDC_FREEPLAY);
    ASSERT_TRUE(WaitUntilPlayStops());
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), QString::number(kGreyFrames + 3));
    EXPECT_EQ(ProbeOutput(Output()).nPackets, kGreySamplesWritten);
}

TEST_F(FrameControlsTest, NextWithoutAnInputFailsLikeTheEndOfTheInput) {
    ClickNext(1);
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "1");
    EXPECT_TRUE(Text(IDC_BEFORE).isEmpty());
    EXPECT_TRUE(IsTestPattern(Picture()));
}

TEST_F(FrameControlsTest, Skip100MovesTheCounterWithoutShowingAnything) {
    OpenGreyClipAndOutput();
    ClickNext(1);
    Click(IDC_SKIP100);
    // The box keeps its text until the next step; the input ends on the way.
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "1");
    ClickNext(1);
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "102");
    // Nothing skipped was processed, so nothing was written.
    m_pDlg->reject();
    EXPECT_EQ(ProbeOutput(Output()).nPackets, 0);
}

TEST_F(FrameControlsTest, SkippedFramesAreNotProcessed) {
    OpenGreyClipAndOutput();
    TypeAndLeave(IDC_FRAME_NUMBER, QStringLiteral("40"));
    ClickNext(kGreyFrames - 40 + 1);
    m_pDlg->reject();
    // 20 frames reached the processor: picks at its frames 6, 9, ..., 18.
    EXPECT_EQ(ProbeOutput(Output()).nPackets, 5);
}

TEST_F(FrameControlsTest, SeekFromFrame10To25MakesTheNextStepShow26) {
    OpenGreyClipAndOutput();
    ClickNext(10);
    EXPECT_EQ(SeekThenStep(QStringLiteral("25")), "26");
}

TEST_F(FrameControlsTest, SeekReadsTheBoxWithAtofAndNeverMovesBack) {
    OpenGreyClipAndOutput();
    ClickNext(10);
    EXPECT_EQ(SeekThenStep(QStringLiteral("12.9")), "13");
    EXPECT_EQ(SeekThenStep(QString()), "14");
    EXPECT_EQ(SeekThenStep(QStringLiteral("abc")), "15");
    EXPECT_EQ(SeekThenStep(QStringLiteral("-5")), "16");
    EXPECT_EQ(SeekThenStep(QStringLiteral("nan")), "17");
    EXPECT_EQ(SeekThenStep(QStringLiteral("17")), "18");
    EXPECT_EQ(SeekThenStep(QStringLiteral("  20xyz")), "21");
}

TEST_F(FrameControlsTest, SeekBeyondTheInputStopsAtItsEndAndBeyondTheIntRangeClamps) {
    OpenGreyClipAndOutput();
    EXPECT_EQ(SeekThenStep(QStringLiteral("1000000")), "1000001");
    EXPECT_TRUE(Text(IDC_BEFORE).isEmpty());
    // The counter stops at the largest int; the step after the seek stays there.
    EXPECT_EQ(SeekThenStep(QStringLiteral("1e300")), QString::number(INT_MAX));
}

TEST_F(FrameControlsTest, ShowWriteBeforeTheFirstWriteShowsTheTestPattern) {
    OpenGreyClipAndOutput();
    Click(IDC_SHOW_WRITE);
    EXPECT_TRUE(Button(IDC_SHOW_WRITE)->isChecked());
    EXPECT_FALSE(Button(IDC_SHOW_READ)->isChecked());
    ClickNext(5);
    EXPECT_TRUE(IsTestPattern(Picture()));
    ClickNext(1);  // the first write
    EXPECT_EQ(Picture().size(), QSize(kGreyWidth, kGreyHeight));
}
