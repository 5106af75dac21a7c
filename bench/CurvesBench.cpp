// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of the brightness curves in the dialog: FreePlay steps on a 1280x720 WMV2 clip with the
// "Brightness Curves" window closed, then open, and the redraw of a ten-hour run.
//
// The steps run at FreePlay's pace (one every 33 ms, the reader decoding ahead in between) on the
// offscreen platform; a step's time is the frame step itself plus the events that follow it until
// the next one (painting the dialog and, with the window open, its coalesced redraws, each
// counted in the step it falls on). Target: a step under 8 ms on average with the window open.
//
// Usage: curves_bench [steps]   (default 300; the clip has that many frames)

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "app/CurvesWnd.h"
#include "app/VarnelDlg.h"
#include "curves/CurveData.h"
#include "curves/CurveThinning.h"
#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"

namespace {

namespace fs = std::filesystem;

constexpr int kStepPeriodMs = 33;

// Milliseconds of processor time the calling thread has used.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Wall time (which the machine's other work inflates) and the thread's processor time.
struct StepTimes {
    double dMeanMs = 0.0;
    double dMedianMs = 0.0;
    double dCpuMeanMs = 0.0;
};

// Opens the clip in a fresh dialog and times nSteps FreePlay steps.
StepTimes TimeSteps(const fs::path& clip, const fs::path& output, int nSteps, bool bCurves) {
    CVarnelDlg dlg;
    dlg.Create();
    dlg.show();
    GetDlgItem<CEditBox>(&dlg, IDC_INPUT_NAME)->setText(QString::fromStdString(clip.string()));
    dlg.OnKillFocusInputName();
    GetDlgItem<CEditBox>(&dlg, IDC_OUTPUT_NAME)->setText(QString::fromStdString(output.string()));
    dlg.OnKillFocusOutputName();
    if (bCurves) dlg.OnSysCommand(CVarnelDlg::kCurvesCommand, 0);
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the reader fills up

    std::vector<double> wall;
    double dCpu = 0.0;
    for (int i = 0; i < nSteps; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double dCpuStart = ThreadCpuMs();
        dlg.OnNext();
        QApplication::processEvents();
        dCpu += ThreadCpuMs() - dCpuStart;
        const double dMs = timer.nsecsElapsed() / 1e6;
        wall.push_back(dMs);
        const auto rest = std::chrono::microseconds(
            std::max<long>(0, static_cast<long>((kStepPeriodMs - dMs) * 1000.0)));
        std::this_thread::sleep_for(rest);
    }
    StepTimes times;
    for (double dMs : wall) times.dMeanMs += dMs / nSteps;
    times.dMedianMs = Median(wall);
    times.dCpuMeanMs = dCpu / nSteps;
    return times;
}

// Thinning and drawing a run of a million frames (about ten hours), whole, in the window.
void TimeLongRun() {
    constexpr int kFrames = 1000000;
    CCurveData data;
    for (int n = 1; n <= kFrames; ++n) {
        data.Append(n, n / 29.97, 150.0 + 40.0 * ((n * 7919LL) % 13) / 13.0, 0.2, 160.0);
        if (n % 5 == 0) data.SetWritten(data.Size() - 1, 160.0, 160.0);
    }
    QElapsedTimer timer;
    timer.start();
    constexpr int kRounds = 10;
    for (int i = 0; i < kRounds; ++i) ThinCurves(data, 1, kFrames, 800);
    std::printf("thinning 1,000,000 frames to 800 columns   %.1f ms\n",
                timer.nsecsElapsed() / 1e6 / kRounds);

    QWidget owner;
    CCurvesWnd wnd(&data, &owner);
    wnd.show();
    QApplication::processEvents();
    // Processor time, the median of the rounds: wall time on a shared machine says little here.
    constexpr int kRedraws = 41;
    for (bool bWholeRun : {false, true}) {
        wnd.SetWholeRun(bWholeRun);
        std::vector<double> prepare;
        std::vector<double> paint;
        for (int i = 0; i < kRedraws; ++i) {
            double dStart = ThreadCpuMs();
            wnd.Follow(kFrames - i);
            wnd.RedrawNow();
            prepare.push_back(ThreadCpuMs() - dStart);
            dStart = ThreadCpuMs();
            QApplication::processEvents();  // the scene updates and paints
            paint.push_back(ThreadCpuMs() - dStart);
        }
        std::printf("redraw of %s   %.1f ms, of which painting %.1f ms (processor time)\n",
                    bWholeRun ? "the whole run       " : "the last 600 frames ",
                    Median(prepare) + Median(paint), Median(paint));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int nSteps = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    char szPattern[] = "/tmp/varnel-curvesbench-XXXXXX";
    if (mkdtemp(szPattern) == nullptr) return 1;
    const fs::path dir = szPattern;
    const fs::path clip = dir / "clip720.wmv";
    const std::string strMake =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30000/1001 "
        "-frames:v " +
        std::to_string(nSteps + 20) + " -c:v wmv2 -q:v 4 '" + clip.string() + "'";
    if (std::system(strMake.c_str()) != 0 || !fs::exists(clip)) {
        std::fprintf(stderr, "curves_bench: ffmpeg could not make the clip\n");
        return 1;
    }
    const fs::path workDir = fs::current_path();
    fs::current_path(dir);  // lastprofile.xml lands there

    const StepTimes closed = TimeSteps(clip, dir / "closed.wmv", nSteps, false);
    const StepTimes open = TimeSteps(clip, dir / "open.wmv", nSteps, true);
    std::printf("720p FreePlay step, %d steps at %d ms\n", nSteps, kStepPeriodMs);
    for (const auto& [pszName, times] :
         {std::pair{"curves closed", closed}, {"curves open  ", open}}) {
        std::printf("  %s   mean %.2f ms   median %.2f ms   processor time %.2f ms\n", pszName,
                    times.dMeanMs, times.dMedianMs, times.dCpuMeanMs);
    }
    std::printf("  (target: mean under 8 ms with the curves open)\n");
    TimeLongRun();

    fs::current_path(workDir);
    fs::remove_all(dir);
    return 0;
}
