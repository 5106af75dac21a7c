// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the frame processor's pixel work on 1280x720 frames, one core.
// Targets: analysis at least 250 megapixels per second, manipulation at least 100.

#include <cstdint>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "processor/FrameProcessor.h"
#include "processor/FrameProcessorProbe.h"

namespace {

constexpr LONG kWidth = 1280;
constexpr LONG kHeight = 720;

// A picture with smooth gradients and grain, about half of it above the default threshold.
std::vector<BYTE> MakeFrame() {
    std::vector<BYTE> bytes(static_cast<size_t>(DibStride(kWidth)) * kHeight);
    uint32_t noise = 12345u;
    for (LONG y = 0; y < kHeight; ++y) {
        BYTE* p = bytes.data() + static_cast<size_t>(y) * DibStride(kWidth);
        for (LONG x = 0; x < kWidth; ++x, p += 3) {
            noise = noise * 1103515245u + 12345u;
            const int grain = static_cast<int>(noise >> 27) - 16;
            const int base = (x * 255 / kWidth + y * 255 / kHeight) / 2;
            for (int c = 0; c < 3; ++c) {
                const int v = base + grain + c * 20;
                p[c] = static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return bytes;
}

void SetPixelRate(benchmark::State& state) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6,
                           benchmark::Counter::kIsRate);
}

void AnalyseFrame(benchmark::State& state, bool bMark) {
    CFrameProcessor processor(nullptr);
    processor.SetParameters(165.0, 100.0, 10.0);
    processor.SetMarkCrossings(bMark ? 1 : 0);
    const BITMAPINFOHEADER header = DibHeader(kWidth, kHeight);
    std::vector<BYTE> frame = MakeFrame();
    double dDark = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(processor.AnalyseFrame(&header, frame.data(), &dDark));
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
}

void BM_AnalyseFrame(benchmark::State& state) { AnalyseFrame(state, false); }
void BM_AnalyseFrameMarking(benchmark::State& state) { AnalyseFrame(state, true); }

// Each iteration scales a fresh copy of the same frame; the copy is not timed.
void BM_ManipulateFrame(benchmark::State& state) {
    CFrameProcessor processor(nullptr);
    processor.SetParameters(165.0, 100.0, 10.0);
    processor.SetManipulation(1);
    CFrameProcessorProbe probe(processor);
    BITMAPINFOHEADER header = DibHeader(kWidth, kHeight);
    const std::vector<BYTE> original = MakeFrame();
    std::vector<BYTE> frame = original;
    double dDark = 0.0;
    const double dBefore = processor.AnalyseFrame(&header, frame.data(), &dDark);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame.data(), original.data(), frame.size());
        FrameEntry entry{nullptr, &header, frame.data(), dBefore, 0.0, dDark, 1, header};
        state.ResumeTiming();
        probe.Manipulate(entry);
        benchmark::DoNotOptimize(entry.dAfter);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state);
}

}  // namespace

BENCHMARK(BM_AnalyseFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyseFrameMarking)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManipulateFrame)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
