// The brightness curves: what the recorder makes of the processor's figures on a clip whose
// brightness is known frame by frame, the thinning of a long run, and the two picture formats.
#include <QImage>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSvgRenderer>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "curves/CurveChart.h"
#include "curves/CurveData.h"
#include "curves/CurvePlot.h"
#include "curves/CurveRecorder.h"
#include "curves/CurveThinning.h"
#include "media/MediaReader.h"
#include "processor/FrameProcessor.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int kFrames = 60;
constexpr double kTarget = 160.0;
// Grey levels of frames 1, 2, 3, ... in turn: the first is dark (at or below the threshold of
// 100), and the fourth of every six is the one at the target, so the window rule picks frames
// 4, 10, 16, ... 58.
constexpr int kLevels[6] = {50, 120, 200, 160, 230, 140};

int LevelOf(int nFrame) { return kLevels[(nFrame - 1) % 6]; }

// A lossless 64x48 clip at 29.97 frames per second of flat grey frames at those levels.
const std::filesystem::path& LevelClip() {
    static varnel_test::CTempDir s_dir;
    static const std::filesystem::path s_clip = [] {
        std::string strLevel = "50";
        const int nSteps[6] = {0, 70, 150, 110, 180, 90};
        for (int i = 1; i < 6; ++i) {
            strLevel +=
                "+" + std::to_string(nSteps[i]) + "*eq(mod(N\\,6)\\," + std::to_string(i) + ")";
        }
        const std::filesystem::path clip = s_dir / "levels.mkv";
        varnel_test::MakeClip(
            "-f lavfi -i 'color=c=black:size=64x48:rate=30000/1001,format=gbrp,"
            "geq=r=" +
                strLevel + ":g=" + strLevel + ":b=" + strLevel + "' -frames:v " +
                std::to_string(kFrames) + " -c:v ffv1",
            clip);
        return clip;
    }();
    return s_clip;
}

// The colour of the pen (or the markers) of a series, as SVG writes it.
std::string ColourName(const QColor& colour) { return colour.name().toStdString(); }

}  // namespace

TEST(CurveRecorderTest, EveryFrameReadIsAPointAndThePicksCarryTheirWrittenBrightness) {
    ASSERT_TRUE(std::filesystem::exists(LevelClip())) << "ffmpeg could not make the test clip";
    CMediaReader reader;
    ASSERT_EQ(reader.OpenByName(LevelClip().c_str()), S_OK);
    CFrameProcessor processor(nullptr);  // picks all the same, writes nowhere
    processor.SetParameters(kTarget, 100.0, 10.0);
    CCurveData data;
    CCurveRecorder recorder(&data);
    for (;;) {
        const int nFrame = reader.NextFrameNumber();
        const double dTime = reader.GetFrameTime();
        INSSBuffer* pSample = nullptr;
        BITMAPINFOHEADER* pFormat = nullptr;
        if (FAILED(reader.GetNextFrame(&pSample, &pFormat))) break;
        processor.ProcessSample(pSample, pFormat, nullptr, nullptr);
        recorder.Record(processor, nFrame, dTime, false);
    }

    ASSERT_EQ(data.Size(), static_cast<size_t>(kFrames));
    int nPicks = 0;
    for (size_t i = 0; i < data.Size(); ++i) {
        const CurvePoint& point = data.At(i);
        const int nFrame = static_cast<int>(i) + 1;
        const bool bDark = LevelOf(nFrame) <= 100;
        SCOPED_TRACE("frame " + std::to_string(nFrame));
        EXPECT_EQ(point.nFrame, nFrame);
        EXPECT_NEAR(point.dTime, (nFrame - 1) * 1001.0 / 30000.0, 0.0015);
        EXPECT_NEAR(point.fBefore, bDark ? 0.0 : LevelOf(nFrame), 1e-3);
        EXPECT_EQ(point.fDarkFraction, bDark ? 1.0f : 0.0f);
        EXPECT_EQ(point.fTarget, static_cast<float>(kTarget));
        // The last window ends at frame 60 (frames 55..60), so frame 58 is the last pick.
        EXPECT_EQ(point.bPicked, nFrame % 6 == 4);
        if (point.bPicked) {
            ++nPicks;
            EXPECT_NEAR(point.fAfter, kTarget, 1e-3);  // not manipulated: as read
        } else {
            EXPECT_TRUE(std::isnan(point.fAfter));
        }
    }
    EXPECT_EQ(nPicks, 10);

    // The chart's series, drawn whole at this length.
    CCurveChart chart;
    chart.ShowRange(data, 1.0, kFrames, 800);
    ASSERT_EQ(chart.BeforeSeries()->count(), kFrames);
    EXPECT_EQ(chart.TargetSeries()->count(), kFrames);
    ASSERT_EQ(chart.PicksSeries()->count(), nPicks);
    ASSERT_EQ(chart.WrittenSeries()->count(), nPicks);
    for (int i = 0; i < nPicks; ++i) {
        EXPECT_EQ(chart.PicksSeries()->at(i), QPointF(4 + 6 * i, chart.WrittenSeries()->at(i).y()));
        EXPECT_NEAR(chart.PicksSeries()->at(i).y(), kTarget, 1e-3);
    }
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(chart.DarkSeries()->at(i).y(), LevelOf(i + 1) <= 100 ? 100.0 : 0.0);
    }
}

TEST(CurveThinningTest, AMillionFramesThinToTheColumnsAndAOneFrameFlashStays) {
    constexpr int kLong = 1000000;
    constexpr int kFlash = 777777;
    CCurveData data;
    for (int n = 1; n <= kLong; ++n) {
        data.Append(n, n / 29.97, n == kFlash ? 250.0 : 100.0 + (n % 2), 0.1, kTarget);
        if (n % 5 == 0) data.SetWritten(data.Size() - 1, kTarget, kTarget);
    }
    struct Case {
        double dFirst;
        double dLast;
        int nMaxPoints;
    };
    // The whole run in 1000 columns, and a zoom narrow enough to be drawn whole (with the
    // frames on either side).
    for (const Case& c : {Case{1, kLong, 2000}, Case{kFlash - 50, kFlash + 50, 103}}) {
        const CurveSeriesPoints points = ThinCurves(data, c.dFirst, c.dLast, 1000);
        SCOPED_TRACE(c.dFirst);
        EXPECT_LE(points.before.size(), c.nMaxPoints);
        EXPECT_LE(points.picks.size(), c.nMaxPoints / 4 + 2);
        double dHighest = 0.0;
        double dLowest = 255.0;
        for (qsizetype i = 0; i < points.before.size(); ++i) {
            if (i > 0) {
                EXPECT_LT(points.before[i - 1].x(), points.before[i].x());
            }
            dHighest = std::max(dHighest, points.before[i].y());
            dLowest = std::min(dLowest, points.before[i].y());
        }
        EXPECT_EQ(dHighest, 250.0);                        // the flash
        EXPECT_EQ(dLowest, 100.0);                         // and the flicker between 100 and 101
        EXPECT_NEAR(points.dark.front().y(), 10.0, 1e-4);  // percent
    }
}

TEST(CurvePlotTest, SvgAndPngAreValidPicturesOfEverySeries) {
    CCurveData data;
    for (int n = 1; n <= 300; ++n) {
        data.Append(n, n / 29.97, 150.0 + (n % 3) * 20.0, 0.3, kTarget);
        if (n % 5 == 0) data.SetWritten(data.Size() - 1, 158.0, kTarget);
    }
    CCurveChart chart;
    chart.SetHeadline(CurveTitleNames("in/clip.wmv", "out.wmv"),
                      CurveTitleOptions(kTarget, 100.0, 10.0, true, false, 0.0));
    chart.ShowRange(data, 1.0, 300.0, kCurvePlotSize.width());
    const std::string strColours[] = {ColourName(chart.BeforeSeries()->pen().color()),
                                      ColourName(chart.WrittenSeries()->pen().color()),
                                      ColourName(chart.PicksSeries()->color()),
                                      ColourName(chart.TargetSeries()->pen().color()),
                                      ColourName(chart.DarkSeries()->pen().color())};

    const QByteArray svg = RenderCurvePlot(chart, CurvePlotFormat::kSvg, QStringLiteral("t"));
    EXPECT_TRUE(QSvgRenderer(svg).isValid());
    const std::string strSvg = svg.toStdString();
    for (const std::string& strColour : strColours) {
        // Lines are stroked in their colour, the markers filled with it.
        EXPECT_TRUE(strSvg.find("stroke=\"" + strColour + "\"") != std::string::npos ||
                    strSvg.find("fill=\"" + strColour + "\"") != std::string::npos)
            << strColour;
    }
    for (const char* pszText : {"clip.wmv", CCurveChart::kBeforeName, CCurveChart::kPicksName,
                                CCurveChart::kDarkName, "manipulation on"}) {
        EXPECT_NE(strSvg.find(QString::fromUtf8(pszText).toHtmlEscaped().toStdString()),
                  std::string::npos)
            << pszText;
    }

    QImage png;
    ASSERT_TRUE(png.loadFromData(RenderCurvePlot(chart, CurvePlotFormat::kPng, QString()), "PNG"));
    EXPECT_EQ(png.size(), kCurvePlotSize);
    // Every series leaves pixels of its colour (or nearly: lines are smoothed).
    for (const std::string& strColour : strColours) {
        const QColor wanted(QString::fromStdString(strColour));
        int nNear = 0;
        for (int y = 0; y < png.height(); ++y) {
            for (int x = 0; x < png.width(); ++x) {
                const QColor pixel = png.pixelColor(x, y);
                nNear += std::abs(pixel.red() - wanted.red()) +
                             std::abs(pixel.green() - wanted.green()) +
                             std::abs(pixel.blue() - wanted.blue()) <
                         30;
            }
        }
        EXPECT_GT(nNear, 50) << strColour;
    }
}

TEST(CurvePlotTest, FormatFollowsTheExtension) {
    EXPECT_EQ(CurvePlotFormatOf("a/curves.svg"), CurvePlotFormat::kSvg);
    EXPECT_EQ(CurvePlotFormatOf("Curves.PNG"), CurvePlotFormat::kPng);
    for (const char* pszName : {"curves.pdf", "svg", "plot.svg/curves", "curves."}) {
        EXPECT_EQ(CurvePlotFormatOf(pszName), CurvePlotFormat::kUnknown) << pszName;
    }
}
