// SPDX-License-Identifier: GPL-3.0-or-later
// Deflicker's view of a scene: cuts that flicker does not fake, the level of a shot through
// fades, flashes and cuts, and the held picks reaching the writer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "processor/CutDetector.h"
#include "processor/SceneTarget.h"
#include "processor/Thumbnail.h"

namespace {

constexpr LONG kWidth = 48;
constexpr LONG kHeight = 36;

// A thumbnail of a textured picture (one of several, by nPicture), shifted by nShift pixels and
// with every colour scaled by dGain.
CThumbnail Picture(int nPicture, double dGain, int nShift = 0) {
    const BITMAPINFOHEADER header = DibHeader(kWidth, kHeight);
    std::vector<BYTE> pixels(DibStride(kWidth) * kHeight);
    for (LONG y = 0; y < kHeight; ++y) {
        for (LONG x = 0; x < kWidth; ++x) {
            BYTE* p = pixels.data() + y * DibStride(kWidth) + x * 3;
            const double u = (x + nShift) * (0.11 + 0.07 * nPicture);
            const double v = y * (0.19 - 0.05 * nPicture);
            for (int c = 0; c < 3; ++c) {
                const double dValue =
                    110.0 + 60.0 * std::sin(u + 1.7 * c * nPicture) * std::cos(v + nPicture + c);
                p[c] = static_cast<BYTE>(std::clamp(dValue * dGain, 0.0, 255.0));
            }
        }
    }
    return CThumbnail(&header, pixels.data());
}

// A pseudo-random gain of 1 +- dAmplitude for frame n (a hash of n, uniform over the range).
double Flicker(int n, double dAmplitude) {
    uint32_t x = static_cast<uint32_t>(n) * 2654435761u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return 1.0 + dAmplitude * (2.0 * (x % 10007) / 10006.0 - 1.0);
}

TEST(CutDetectorTest, FlickerMakesNoCutAndANewPictureDoes) {
    const struct {
        int nCutAt;  // the frame where picture 1 gives way to picture 2; 0 for none
        double dFlicker;
    } cases[] = {{0, 0.30}, {0, 0.0}, {20, 0.30}, {20, 0.0}};
    for (const auto& c : cases) {
        CCutDetector detector;
        std::vector<int> cuts;
        for (int n = 1; n <= 40; ++n) {
            const int nPicture = c.nCutAt != 0 && n >= c.nCutAt ? 2 : 1;
            if (detector.Add(Picture(nPicture, Flicker(n, c.dFlicker), n % 4))
                    .bPreviousStartsShot) {
                cuts.push_back(n - 1);
            }
        }
        EXPECT_EQ(cuts, c.nCutAt ? std::vector<int>{c.nCutAt} : std::vector<int>{})
            << "flicker " << c.dFlicker;
    }
}

TEST(CutDetectorTest, GainStepIsTheRatioOfMeanBrightness) {
    double dStep = 0.0;
    CCutDetector::Difference(Picture(1, 0.8), Picture(1, 1.1), &dStep);
    EXPECT_NEAR(dStep, std::log(1.1 / 0.8), 0.02);
    // One picture unlike its neighbours is a flash, not a cut.
    CCutDetector detector;
    int nCuts = 0;
    for (int n = 1; n <= 20; ++n)
        nCuts += detector.Add(Picture(n == 10 ? 3 : 1, 1.0)).bPreviousStartsShot;
    EXPECT_EQ(nCuts, 0);
}

// Frames fed as the processor feeds them: brightness, the step from the frame before, and the
// cuts; the shot's light is dLight(n), the flicker multiplies it.
class SceneTargetTest : public ::testing::Test {
  protected:
    template <class Light>
    void Feed(int nFirst, int nLast, Light light, double dAmplitude, int nCut = 0) {
        for (int n = nFirst; n <= nLast; ++n) {
            const double dBrightness = light(n) * Flicker(n, dAmplitude);
            const double dStep = m_dPrevious > 0.0 ? std::log(dBrightness / m_dPrevious) : 0.0;
            m_target.Add(n, dBrightness, n == nCut ? 5.0 : dStep);
            if (n == nCut) m_target.StartShot(n);
            m_dPrevious = dBrightness;
        }
    }
    double m_dPrevious = 0.0;
    CSceneTarget m_target{4.0, 30.0, 20};
};

TEST_F(SceneTargetTest, FadeIsFollowedAndItsFlickerTakenOut) {
    const auto fade = [](int n) { return 220.0 * std::exp(-0.005 * n); };
    Feed(1, 300, fade, 0.15);
    EXPECT_GT(m_target.Strength().Share(), 0.8);
    // Frames that the fit still holds (it keeps the last 96).
    for (int n = 220; n <= 280; n += 6) {
        EXPECT_NEAR(m_target.LevelAt(n), fade(n), 0.03 * fade(n)) << n;
        EXPECT_NEAR(m_target.FlickerAt(n), std::log(Flicker(n, 0.15)), 0.03) << n;
    }
}

TEST_F(SceneTargetTest, LightSwitchedOnIsFollowedAtOnce) {
    const auto lights = [](int n) { return n < 150 ? 80.0 : 140.0; };
    Feed(1, 200, lights, 0.15);
    for (int n : {146, 148, 149, 150, 151, 153}) {
        EXPECT_NEAR(m_target.LevelAt(n), lights(n), 0.05 * lights(n)) << n;
    }
}

TEST_F(SceneTargetTest, OneFrameFlashIsNotFollowed) {
    const auto steady = [](int n) { return n == 150 ? 240.0 : 120.0; };
    Feed(1, 200, steady, 0.0);
    EXPECT_NEAR(m_target.FlickerAt(150), std::log(2.0), 0.01);
    for (int n : {147, 149, 151, 153}) EXPECT_NEAR(m_target.FlickerAt(n), 0.0, 0.01) << n;
    EXPECT_NEAR(m_target.LevelAt(140), 120.0, 0.5);
}

TEST_F(SceneTargetTest, LevelRestartsAtACutAndTrustsItsFirstFramesLess) {
    const auto shots = [](int n) { return n < 100 ? 60.0 : 180.0; };
    Feed(1, 100, shots, 0.15, 100);
    // The first frame of a shot is its own level.
    EXPECT_DOUBLE_EQ(m_target.LevelAt(100), 180.0 * Flicker(100, 0.15));
    Feed(101, 140, shots, 0.15);
    // The old shot's light does not leak across the cut: the first frames after it come to the
    // new shot's level, as frames well inside it do.
    for (int n : {100, 101, 102, 103, 104, 120}) {
        EXPECT_NEAR(m_target.FlickerAt(n), std::log(Flicker(n, 0.15)), 0.04) << n;
        EXPECT_NEAR(m_target.LevelAt(n), 180.0, 0.04 * 180.0) << n;
    }
    EXPECT_NEAR(m_target.LevelAt(95), 60.0, 0.04 * 60.0);
}

}  // namespace
