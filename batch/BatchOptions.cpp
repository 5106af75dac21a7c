#include "batch/BatchOptions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "VarnelVersion.h"
#include "curves/CurvePlot.h"
#include "processor/SceneTarget.h"

namespace {

// Seconds as the help text and the messages write them: 4, 2.5.
std::string FormatSeconds(double dSeconds) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%g", dSeconds);
    return szText;
}

// Figures must be plain finite numbers: a target or threshold of nan or inf has no meaning.
const CLI::Validator kFiniteNumber(
    [](std::string& strValue) -> std::string {
        char* pEnd = nullptr;
        const double dValue = std::strtod(strValue.c_str(), &pEnd);
        if (pEnd == strValue.c_str() || *pEnd != '\0' || !std::isfinite(dValue)) {
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
        char* pEnd = nullptr;
        const double dValue = std::strtod(strValue.c_str(), &pEnd);
        if (pEnd == strValue.c_str() || *pEnd != '\0' || !(dValue > 0.0) ||
            !(dValue <= kMaxSceneSpan)) {
            return "SECONDS must be a number above 0 and at most " + FormatSeconds(kMaxSceneSpan) +
                   ": " + strValue;
        }
        return {};
    },
    "");

// CLI11's formatter, except that a flag's default value ("--deflicker{4}") is not shown in
// its name: the help text says "--deflicker[=SECONDS]".
class CHelpFormatter : public CLI::Formatter {
  public:
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

}  // namespace

int ParseBatchOptions(int argc, const char* const* argv, BatchOptions* pOptions, std::ostream& out,
                      std::ostream& err) {
    BatchOptions options;
    CLI::App app{
        "Turns a Windows Media video into one about four times shorter without flicker: out of\n"
        "every window of six frames it writes the one closest to the target brightness.",
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
    app.add_flag("--deflicker{" + FormatSeconds(kDefaultSceneSpan) + "}", strDeflicker,
                 "Follow the scene: a local target smoothed over SECONDS (default " +
                     FormatSeconds(kDefaultSceneSpan) + ")")
        ->check(kSceneSpan);
    app.add_option("--report", options.strReport, "Write one CSV row per frame read to FILE.csv")
        ->type_name("FILE.csv");
    app.add_option("--plot", options.strPlot,
                   "Draw the brightness curves of the whole run to FILE.svg or FILE.png")
        ->type_name("FILE.svg|FILE.png")
        ->check(kPlotName);
    app.add_flag("--quiet", options.bQuiet, "Print neither progress nor summary");
    app.add_option("INPUT", options.strInput, "Input video")->required();
    app.add_option("OUTPUT", options.strOutput, "Output Windows Media file")->required();

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
    if (!strDeflicker.empty()) options.dDeflicker = std::strtod(strDeflicker.c_str(), nullptr);
    *pOptions = std::move(options);
    return -1;
}
