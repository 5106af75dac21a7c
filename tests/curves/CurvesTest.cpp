// SPDX-License-Identifier: GPL-3.0-or-later
// The brightness curves: what the recorder makes of the processor's figures on a clip whose
// brightness is known frame by frame, and the thinning of a long run to the picture's columns.
#include <QApplication>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "curves/CurveChart.h"
#include "curves/CurveData.h"
#include "curves/CurvePlot.h"
#include "curves/CurveRecorder.h"
#include "curves/CurveThinning.h"
#include "media/MediaReader.h"
#include "processor/FrameProcessor.h"
#include "processor/FrameStep.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr double kTarget = 160.0;

// Grey levels of frames 1, 2, 3, ... in turn: the first is dark (at or below the threshold of
// 100), and the fourth of every six is the one at the target, so the window rule picks frames
// 4, 10, 16, ... 58.
int LevelOf(int nFrame) {
    constexpr int kLevels[6] = {50, 120, 200, 160, 230, 140};
    return kLevels[(nFrame - 1) % 6];
}

}  // namespace

TEST(CurveRecorderTest, EveryFrameReadIsAPointAndThePicksCarryTheirWrittenBrightness) {
    if (!varnel_test::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    // A lossless clip at 29.97 frames a second of 60 flat grey frames at those levels.
    varnel_test::CTempDir dir;
    const std::string strLevel =
        "50+70*eq(mod(N\\,6)\\,1)+150*eq(mod(N\\,6)\\,2)+110*eq(mod(N\\,6)\\,3)"
        "+180*eq(mod(N\\,6)\\,4)+90*eq(mod(N\\,6)\\,5)";
    ASSERT_TRUE(varnel_test::MakeClip(
        "-f lavfi -i 'color=c=black:size=64x48:rate=30000/1001,format=gbrp,geq=r=" + strLevel +
            ":g=" + strLevel + ":b=" + strLevel + "' -frames:v 60 -c:v ffv1",
        dir / "levels.mkv"));

    CMediaReader reader;
    ASSERT_EQ(reader.OpenByName((dir / "levels.mkv").c_str()), S_OK);
    CFrameProcessor processor(nullptr);  // picks all the same, writes nowhere
    processor.SetParameters(kTarget, 100.0, 10.0);
    CCurveData data;
    CCurveRecorder recorder(&data);
    // Recorded as the front ends record: after each frame step, to the input's end.
    struct {
        CFrameProcessor& processor;
        CCurveRecorder& recorder;
        int nFrame = 0;
        double dTime = 0.0;
        void OnFrameNumber(int n) { nFrame = n; }
        void OnFrameTime(double t) { dTime = t; }
        void OnDisplay(const FrameStepDisplay&) {
            recorder.Record(processor, nFrame, dTime, false);
        }
    } front{processor, recorder};
    while (SUCCEEDED(StepFrame(reader, processor, front))) {
    }

    ASSERT_EQ(data.Size(), 60u);
    for (int nFrame = 1; nFrame <= 60; ++nFrame) {
        const CurvePoint& point = data.At(nFrame - 1);
        const bool bDark = LevelOf(nFrame) <= 100;
        SCOPED_TRACE("frame " + std::to_string(nFrame));
        EXPECT_EQ(point.nFrame, nFrame);
        EXPECT_NEAR(point.fBefore, bDark ? 0.0 : LevelOf(nFrame), 1e-3);
        EXPECT_EQ(point.fDarkFraction, bDark ? 1.0f : 0.0f);
        EXPECT_EQ(point.fTarget, static_cast<float>(kTarget));
        // The last window ends at frame 60 (frames 55..60), so frame 58 is the last pick.
        EXPECT_EQ(point.bPicked, nFrame % 6 == 4);
        // Not manipulated: written as read.
        EXPECT_TRUE(point.bPicked ? std::fabs(point.fAfter - kTarget) < 1e-3
                                  : std::isnan(point.fAfter));
    }

    // Drawn whole at this length: the picks where they were read, and what they were written at.
    const CurveSeriesPoints points = ThinCurves(data, 1.0, 60.0, 800);
    ASSERT_EQ(points.before.size(), 60);
    ASSERT_EQ(points.picks.size(), 10);
    ASSERT_EQ(points.written.size(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(points.picks[i], QPointF(4 + 6 * i, kTarget));
        EXPECT_EQ(points.written[i], points.picks[i]);
    }
    EXPECT_EQ(points.dark.front().y(), 100.0);  // percent
}

TEST(CurveThinningTest, AMillionFramesThinToTheColumnsAndAOneFrameFlashStays) {
    constexpr int kLong = 1000000;
    constexpr int kFlash = 777777;
    CCurveData data;
    for (int n = 1; n <= kLong; ++n) {
        data.Append(n, n / 29.97, n == kFlash ? 250.0 : 100.0 + (n % 2), 0.1, kTarget);
        if (n % 5 == 0) data.SetWritten(data.Size() - 1, kTarget, kTarget);
        if (n == kFlash || n == kFlash + 1) data.SetCut(data.Size() - 1);
    }
    struct Case {
        double dFirst, dLast;
        int nMaxPoints;
    };
    // The whole run in 1000 columns, and a zoom narrow enough to be drawn whole (with the
    // frames on either side).
    for (const Case& c : {Case{1, kLong, 2000}, Case{kFlash - 50, kFlash + 50, 103}}) {
        const CurveSeriesPoints points = ThinCurves(data, c.dFirst, c.dLast, 1000);
        SCOPED_TRACE(c.dFirst);
        EXPECT_LE(points.before.size(), c.nMaxPoints);
        EXPECT_LE(points.picks.size(), c.nMaxPoints / 4 + 2);
        // In frame order; each column keeps its lowest and highest, the flash among them.
        EXPECT_EQ(
            std::adjacent_find(points.before.begin(), points.before.end(),
                               [](const QPointF& a, const QPointF& b) { return a.x() >= b.x(); }),
            points.before.end());
        const auto [lowest, highest] =
            std::minmax_element(points.before.begin(), points.before.end(),
                                [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
        EXPECT_EQ(highest->y(), 250.0);
        EXPECT_EQ(lowest->y(), 100.0);
        EXPECT_NEAR(points.dark.front().y(), 10.0, 1e-4);  // percent
        // Cuts: at most one a column.
        ASSERT_FALSE(points.cuts.empty());
        EXPECT_EQ(points.cuts.front().x(), kFlash);
        EXPECT_EQ(points.cuts.size(), c.nMaxPoints > 1000 ? 1 : 2);
    }
}

// Names with markup and control characters: the SVG is well-formed, and its title and headline
// show the names, a control character as '?'.
TEST(CurvePlotTest, NamesWithMarkupMakeWellFormedSvg) {
    const std::unique_ptr<QApplication> pApplication = MakeHeadlessApplication();
    const QString strNames = CurveTitleNames("/in/a&b<c\x01.wmv", "o&<\".svg");
    QByteArray svg;
    {
        CCurveChart chart;
        chart.SetHeadline(strNames, "options");
        svg = RenderCurvePlot(chart, CurvePlotFormat::kSvg, strNames + ": options");
    }
    pugi::xml_document document;
    ASSERT_TRUE(document.load_buffer(svg.constData(), svg.size())) << svg.left(400).constData();
    EXPECT_EQ(QString::fromUtf8(document.child("svg").child_value("title")),
              QStringLiteral("a&b<c?.wmv \u2192 o&<\".svg: options"));
    EXPECT_TRUE(document.select_node("//text[contains(., 'a&b<c?.wmv')]"));
}
