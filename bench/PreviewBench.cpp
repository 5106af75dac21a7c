// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of drawing one frame into the picture control, per frame size, at the frame's own size and
// fitted to the dialog's picture area (826 x 474 pixels with DejaVu Sans), on the offscreen
// platform: the conversion only; painting it is part of curves_bench's steps.
#include <QApplication>
#include <QWidget>
#include <vector>

#include <benchmark/benchmark.h>

#include "ui/DialogControls.h"
#include "ui/PreviewPane.h"

namespace {

void BM_ShowFrame(benchmark::State& state) {
    const LONG nWidth = static_cast<LONG>(state.range(0));
    const LONG nHeight = static_cast<LONG>(state.range(1));
    QWidget dialog;
    CBitmapStatic picture(&dialog);
    CPreviewPane pane(&dialog, &picture);
    if (state.range(2) != 0) pane.SetFitArea(QSize(826, 474));
    std::vector<BYTE> frame(DibStride(nWidth) * nHeight);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<BYTE>(i * 7);
    }
    BITMAPINFOHEADER header = DibHeader(nWidth, nHeight);
    for (auto _ : state) {
        pane.ShowFrame(&header, frame.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_ShowFrame)
    ->ArgNames({"width", "height", "fit"})
    ->Args({640, 480, 0})
    ->Args({1280, 720, 0})
    ->Args({1920, 1080, 0})
    ->Args({1280, 720, 1})
    ->Args({1920, 1080, 1});

void BM_ShowTestPattern(benchmark::State& state) {
    QWidget dialog;
    CBitmapStatic picture(&dialog);
    CPreviewPane pane(&dialog, &picture);
    for (auto _ : state) {
        pane.ShowFrame(nullptr, nullptr);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShowTestPattern);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
