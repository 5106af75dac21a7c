// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/BatchOptions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "VarnelVersion.h"
#include "batch/BatchJobs.h"
#include "curves/CurvePlot.h"
#include "processor/SceneTarget.h"

namespace {

// Seconds as the help text and the messages write them: 4, 2.5.
std::string FormatSeconds(double dSeconds) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%g", dSeconds);
    return szText;
}

// The value of a text that is a number and nothing else; nullopt otherwise.
std::optional<double> WholeNumber(const std::string& strValue) {
    char* pEnd = nullptr;
    const double dValue = std::strtod(strValue.c_str(), &pEnd);
    if (pEnd == strValue.c_str() || *pEnd != '\0') return std::nullopt;
    return dValue;
}

// Figures must be plain finite numbers: a target or threshold of nan or inf has no meaning.
const CLI::Validator kFiniteNumber(
    [](std::string& strValue) -> std::string {
        const std::optional<double> dValue = WholeNumber(strValue);
        if (!dValue || !std::isfinite(*dValue)) {
            return "not a finite number: " + strValue;
        }
        return {};
    },
    "NUMBER");

// The picture's format follows its name.
const CLI::Validator kPlotName(
    [](std::string& strValue) -> std::string {
        if (CurvePlotFormatOf(strValue) == CurvePlotFormat::kUnknown) {
            return "the plot's name must end in .svg or .png: " + strValue;
        }
        return {};
    },
    "FILE");

// A smoothing span: seconds above 0, at most kMaxSceneSpan.
const CLI::Validator kSceneSpan(
    [](std::string& strValue) -> std::string {
        const std::optional<double> dValue = WholeNumber(strValue);
        if (!dValue || !(*dValue > 0.0) || !(*dValue <= kMaxSceneSpan)) {
            return "SECONDS must be a number above 0 and at most " + FormatSeconds(kMaxSceneSpan) +
                   ": " + strValue;
        }
        return {};
    },
    "");

// "auto", or a finite number of frames per second within the range.
const CLI::Validator kInputRate(
    [](std::string& strValue) -> std::string {
        if (strValue == "auto") return {};
        const std::optional<double> dValue = WholeNumber(strValue);
        if (!dValue || !(*dValue >= kMinInputRate) || !(*dValue <= kMaxInputRate)) {
            return "not auto nor a frame rate from 1 to 240: " + strValue;
        }
        return {};
    },
    "");

// A speed-up: a number from 1 to 1000.
const CLI::Validator kSpeedup(
    [](std::string& strValue) -> std::string {
        const std::optional<double> dValue = WholeNumber(strValue);
        if (!dValue || !(*dValue >= 1.0) || !(*dValue <= 1000.0)) {
            return "not a speed-up from 1 to 1000: " + strValue;
        }
        return {};
    },
    "");

// CLI11's formatter, except that a flag's default value ("--deflicker{4}") is not shown in
// its name: the help text says "--deflicker[=SECONDS]".
class CHelpFormatter : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App* /*pApp*/, std::string strName) const override {
        return "Usage: " + strName + " [OPTIONS] INPUT OUTPUT\n       " + strName +
               " [OPTIONS] --output-dir DIR INPUT...\n";
    }
    std::string make_option_name(const CLI::Option* pOption, bool bPositional) const override {
        std::string strName = CLI::Formatter::make_option_name(pOption, bPositional);
        const size_t nOpen = strName.find('{');
        const size_t nClose = strName.find('}', nOpen);
        if (nOpen != std::string::npos && nClose != std::string::npos) {
            strName.replace(nOpen, nClose - nOpen + 1, "[=SECONDS]");
        }
        return strName;
    }
};
// Bits a second with an optional k (1000) or M (1000000); 0 when the text is not one from 1000 to
// 4000000000.
uint32_t ParseBitRate(const std::string& strValue) {
    char* pEnd = nullptr;
    double dValue = std::strtod(strValue.c_str(), &pEnd);
    if (pEnd == strValue.c_str()) return 0;
    if (*pEnd == 'k') {
        dValue *= 1e3;
        ++pEnd;
    } else if (*pEnd == 'M') {
        dValue *= 1e6;
        ++pEnd;
    }
    if (*pEnd != '\0' || !(dValue >= 1000.0) || !(dValue <= 4e9)) return 0;
    return static_cast<uint32_t>(dValue);
}

const CLI::Validator kBitRate(
    [](std::string& strValue) -> std::string {
        if (strValue == "auto" || ParseBitRate(strValue) != 0) return {};
        return "not auto nor a bit rate from 1000 to 4000M: " + strValue;
    },
    "");

}  // namespace

int ParseBatchOptions(int argc, const char* const* argv, BatchOptions* pOptions, std::ostream& out,
                      std::ostream& err) {
    BatchOptions options;
    CLI::App app{
        "Turns a video into one about four times shorter (--speedup X: X times) without flicker:\n"
        "out of every window of six frames (at 29.97 frames a second and X = 4) it writes the one\n"
        "closest to the target brightness.",
        "varnel-batch"};
    app.formatter(std::make_shared<CHelpFormatter>());
    app.set_version_flag("--version", "varnel-batch " VARNEL_VERSION);
    app.add_option("--brightness", options.dBrightness, "Target brightness (luminance 0..255)")
        ->type_name("B")
        ->check(kFiniteNumber)
        ->capture_default_str();
    app.add_option("--min-pixval", options.dMinPixval,
                   "Luminance at or below which a pixel counts as dark")
        ->type_name("M")
        ->check(kFiniteNumber)
        ->capture_default_str();
    app.add_option("--dark-factor", options.dDarkFactor,
                   "Weight of the dark fraction when scaling towards the target")
        ->type_name("D")
        ->check(kFiniteNumber)
        ->capture_default_str();
    app.add_flag("--manipulate", options.bManipulate,
                 "Scale each written frame's pixels towards the target brightness");
    app.add_flag("--mark-crossings", options.bMarkCrossings,
                 "Paint the pixels where luminance crosses the dark threshold");
    // A flag with a value (a double would be counted as a whole number): "--deflicker" alone
    // takes the default span, "--deflicker=S" the span S, and the next argument stays free.
    std::string strDeflicker;
    app.add_flag(
           "--deflicker{" + FormatSeconds(kDefaultSceneSpan) + "}", strDeflicker,
           "Follow the scene: each shot's own level, flicker taken out over SECONDS (default " +
               FormatSeconds(kDefaultSceneSpan) + ")")
        ->check(kSceneSpan);
    app.add_option("--report", options.strReport,
                   "Write one CSV row per frame read to FILE.csv (with --output-dir: a suffix)")
        ->type_name("FILE.csv");
    app.add_option("--plot", options.strPlot,
                   "Draw the brightness curves of the whole run to FILE.svg or FILE.png (with "
                   "--output-dir: a suffix)")
        ->type_name("FILE.svg|FILE.png")
        ->check(kPlotName);
    app.add_flag("--quiet", options.bQuiet, "Print neither progress nor summary");
    std::string strInputRate;
    app.add_option("--input-rate", strInputRate,
                   "Input frames per second (default 29.97), or auto for the stream's own")
        ->type_name("auto|R")
        ->check(kInputRate);
    app.add_option("--speedup", options.dSpeedup,
                   "How many times shorter the output is than the input, 1 to 1000 (default 4); "
                   "one frame is picked per X / 24 s of input, and at 1 every frame is kept")
        ->type_name("X")
        ->check(kSpeedup);
    CLI::Option* pCrf =
        app.add_option("--crf", options.nQuality,
                       "Constant rate factor of MP4, Matroska and WebM outputs (default 20 for "
                       "H.264, 32 for VP9; lower is better)")
            ->type_name("N")
            ->check(CLI::Range(0, 63));
    std::string strBitRate;
    app.add_option("--bitrate", strBitRate,
                   "Bit rate instead of a rate factor: bits a second (k and M suffixes), or "
                   "auto for the input's")
        ->type_name("auto|N")
        ->check(kBitRate)
        ->excludes(pCrf);
    CLI::Option* pOutputDir =
        app.add_option("--output-dir", options.strOutputDir,
                       "Many inputs: write each INPUT to DIR/NAME.EXT, NAME its name without its "
                       "extension; --report and --plot then give suffixes (.csv, .png) of files "
                       "beside each output. lastprofile.xml is written for each input; the one "
                       "written last stays")
            ->type_name("DIR");
    app.add_option("--format", options.strFormat, "With --output-dir: EXT of the outputs")
        ->type_name("mp4|mkv|webm|wmv")
        ->check(CLI::IsMember({"mp4", "mkv", "webm", "wmv"}))
        ->needs(pOutputDir);
    app.add_option("--jobs", options.nJobs, "With --output-dir: inputs run at once (default 1)")
        ->type_name("N")
        ->check(CLI::Range(1, 64))
        ->needs(pOutputDir);
    app.add_flag("--skip-existing", options.bSkipExisting,
                 "With --output-dir: leave out the inputs whose output exists")
        ->needs(pOutputDir);
    app.add_option("--progress-fd", options.nProgressFd)->group("")->check(CLI::Range(0, 1023));
    app.add_option("--threads", options.nThreads)->group("")->check(CLI::Range(1, 1024));
    std::vector<std::string> files;
    app.add_option("FILES", files,
                   "INPUT OUTPUT, or with --output-dir one INPUT or more. INPUT: a video, a folder "
                   "of images or a quoted pattern with * naming them (read at --input-rate). "
                   "OUTPUT: .mp4, .m4v, .mov (H.264), .mkv (H.264), .webm (VP9), else Windows "
                   "Media")
        ->required();

    // CLI11 takes "--deflicker=" for "--deflicker"; an empty span is no number.
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
        if (std::string(argv[i]) == "--deflicker=") {
            err << "--deflicker: SECONDS must be a number above 0 and at most "
                << FormatSeconds(kMaxSceneSpan) << ": (empty)\n"
                << "Run with --help for more information.\n";
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int nStatus = app.exit(e, out, err);
        return nStatus == 0 ? 0 : kExitUsage;
    }
    if (options.strOutputDir.empty()) {
        if (files.size() != 2) {
            err << "varnel-batch: give INPUT and OUTPUT, or --output-dir DIR and INPUT...\n"
                << "Run with --help for more information.\n";
            return kExitUsage;
        }
        options.strInput = files[0];
        options.strOutput = files[1];
    } else {
        options.inputs = std::move(files);
        std::string strProblem;
        if (PlanJobs(options, &strProblem).empty()) {
            err << "varnel-batch: " << strProblem << "\nRun with --help for more information.\n";
            return kExitUsage;
        }
    }
    if (!strDeflicker.empty()) options.dDeflicker = std::strtod(strDeflicker.c_str(), nullptr);
    if (strInputRate == "auto") {
        options.bInputRateAuto = true;
    } else if (!strInputRate.empty()) {
        options.dInputRate = std::strtod(strInputRate.c_str(), nullptr);
    }
    if (!strBitRate.empty()) {
        options.bBitRate = true;
        options.dwBitRate = strBitRate == "auto" ? 0 : ParseBitRate(strBitRate);
    }
    *pOptions = std::move(options);
    return -1;
}
