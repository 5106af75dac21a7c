// SPDX-License-Identifier: GPL-3.0-or-later
// The pace of FreePlay in the dialog: frame steps on 1280x720 and 1920x1080 WMV2 clips at the
// timer's pace (one every 33 ms, the reader decoding ahead in between), with the preview at the
// frame's own size, with "Fit Preview", and with the "Brightness Curves" window open; then the
// redraw of a ten-hour run in the curves window.
//
// A step is the frame step itself plus the events that follow it until the next one (painting
// the dialog and, with the curves open, their coalesced redraws, each counted in the step it
// falls on). Its processor time is split into reading the frame, the processor, the readouts
// with their repaints, the preview's conversion, the events after the step (painting), and the
// curves' record. "all threads" is the whole process's processor time a step, the reader's
// decoding ahead, the writer's encoding and Qt's own worker threads included. Wall time is given
// too; on a shared machine it says less.
// Target: a step with its painting at most 4 ms at 720p and 9 ms at 1080p.
//
// Usage: curves_bench [steps]   (default 150 a configuration)
// Run it under Xvfb (QT_QPA_PLATFORM=xcb) for the cost of painting to a real X server; it uses
// the offscreen platform otherwise. The "Fit Preview" setting goes to a scratch folder.

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
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

// Milliseconds of processor time of the whole process: the reader's, the writer's and Qt's
// threads too.
double ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Means over the steps, in milliseconds: the parts of the processor time, its total, and the
// wall time (mean and median).
struct StepTimes {
    CVarnelDlg::StepCost cost;
    double dEventsMs = 0.0;
    double dCpuMs = 0.0;
    double dProcessCpuMs = 0.0;
    double dWallMeanMs = 0.0;
    double dWallMedianMs = 0.0;
};

enum class Setting { kPlain, kFit, kCurves };

// Opens the clip in a fresh dialog and times nSteps FreePlay steps.
StepTimes TimeSteps(const fs::path& clip, const fs::path& output, int nSteps, Setting setting) {
    CVarnelDlg dlg;
    dlg.Create();
    dlg.show();
    if (dlg.IsFitPreview() != (setting == Setting::kFit)) {
        dlg.OnSysCommand(CVarnelDlg::kFitPreviewCommand, 0);
    }
    GetDlgItem<CEditBox>(&dlg, IDC_INPUT_NAME)->setText(QString::fromStdString(clip.string()));
    dlg.OnKillFocusInputName();
    GetDlgItem<CEditBox>(&dlg, IDC_OUTPUT_NAME)->setText(QString::fromStdString(output.string()));
    dlg.OnKillFocusOutputName();
    if (setting == Setting::kCurves) dlg.OnSysCommand(CVarnelDlg::kCurvesCommand, 0);
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the reader fills up

    StepTimes times;
    std::vector<double> wall;
    const double dProcessStart = ProcessCpuMs();
    for (int i = 0; i < nSteps; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double dCpuStart = ThreadCpuMs();
        dlg.OnNext();
        const double dCpuEvents = ThreadCpuMs();
        QApplication::processEvents();
        const double dCpuEnd = ThreadCpuMs();
        const double dMs = timer.nsecsElapsed() / 1e6;
        wall.push_back(dMs);
        const CVarnelDlg::StepCost& cost = dlg.GetLastStepCost();
        times.cost.dRead += cost.dRead / nSteps;
        times.cost.dProcess += cost.dProcess / nSteps;
        times.cost.dReadouts += cost.dReadouts / nSteps;
        times.cost.dPreview += cost.dPreview / nSteps;
        times.cost.dCurves += cost.dCurves / nSteps;
        times.dEventsMs += (dCpuEnd - dCpuEvents) / nSteps;
        times.dCpuMs += (dCpuEnd - dCpuStart) / nSteps;
        times.dWallMeanMs += dMs / nSteps;
        const auto rest = std::chrono::microseconds(
            std::max<long>(0, static_cast<long>((kStepPeriodMs - dMs) * 1000.0)));
        std::this_thread::sleep_for(rest);
    }
    times.dProcessCpuMs = (ProcessCpuMs() - dProcessStart) / nSteps;
    times.dWallMedianMs = Median(wall);
    return times;
}

// Makes a WMV2 clip of nFrames frames of the given size; false when ffmpeg could not.
bool MakeClip(const fs::path& clip, const char* pszSize, int nFrames) {
    const std::string strMake =
        std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=") + pszSize +
        ":rate=30000/1001 -frames:v " + std::to_string(nFrames) + " -c:v wmv2 -q:v 4 '" +
        clip.string() + "'";
    return std::system(strMake.c_str()) == 0 && fs::exists(clip);
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
    const int nSteps = argc > 1 ? std::max(10, std::atoi(argv[1])) : 150;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    char szPattern[] = "/tmp/varnel-curvesbench-XXXXXX";
    if (mkdtemp(szPattern) == nullptr) return 1;
    const fs::path dir = szPattern;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((dir / "settings").string()));
    const fs::path workDir = fs::current_path();
    fs::current_path(dir);  // lastprofile.xml lands there

    std::printf("FreePlay steps, %d a row at %d ms, on %s; milliseconds a step\n", nSteps,
                kStepPeriodMs, qgetenv("QT_QPA_PLATFORM").constData());
    std::printf(
        "                    read  process readouts preview  events  curves |   cpu | "
        "all threads | wall mean median\n");
    for (const char* pszSize : {"1280x720", "1920x1080"}) {
        const fs::path clip = dir / (std::string(pszSize) + ".wmv");
        if (!MakeClip(clip, pszSize, nSteps + 20)) {
            std::fprintf(stderr, "curves_bench: ffmpeg could not make the clip\n");
            return 1;
        }
        for (const auto& [setting, pszName] : {std::pair{Setting::kPlain, "own size"},
                                               {Setting::kFit, "fit    "},
                                               {Setting::kCurves, "curves  "}}) {
            const StepTimes t = TimeSteps(clip, dir / "out.wmv", nSteps, setting);
            std::printf(
                "%-9s %s %6.2f %8.2f %8.2f %7.2f %7.2f %7.2f | %5.2f | %11.2f | %9.2f %6.2f\n",
                pszSize, pszName, t.cost.dRead, t.cost.dProcess, t.cost.dReadouts, t.cost.dPreview,
                t.dEventsMs, t.cost.dCurves, t.dCpuMs, t.dProcessCpuMs, t.dWallMeanMs,
                t.dWallMedianMs);
        }
        fs::remove(clip);
    }
    std::printf("(target: a step with its painting at most 4 ms at 720p, 9 ms at 1080p)\n");
    TimeLongRun();

    fs::current_path(workDir);
    fs::remove_all(dir);
    return 0;
}
