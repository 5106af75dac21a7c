#include "batch/BatchOptions.h"

#include <cmath>
#include <cstdlib>
#include <ostream>

#include <CLI/CLI.hpp>

#include "VarnelVersion.h"
#include "curves/CurvePlot.h"

namespace {

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

}  // namespace

int ParseBatchOptions(int argc, const char* const* argv, BatchOptions* pOptions, std::ostream& out,
                      std::ostream& err) {
    BatchOptions options;
    CLI::App app{
        "Turns a Windows Media video into one about four times shorter without flicker: out of\n"
        "every window of six frames it writes the one closest to the target brightness.",
        "varnel-batch"};
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
    app.add_option("--report", options.strReport, "Write one CSV row per frame read to FILE.csv")
        ->type_name("FILE.csv");
    app.add_option("--plot", options.strPlot,
                   "Draw the brightness curves of the whole run to FILE.svg or FILE.png")
        ->type_name("FILE.svg|FILE.png")
        ->check(kPlotName);
    app.add_flag("--quiet", options.bQuiet, "Print neither progress nor summary");
    app.add_option("INPUT", options.strInput, "Input video")->required();
    app.add_option("OUTPUT", options.strOutput, "Output Windows Media file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int nStatus = app.exit(e, out, err);
        return nStatus == 0 ? 0 : kExitUsage;
    }
    *pOptions = std::move(options);
    return -1;
}
