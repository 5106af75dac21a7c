// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of varnel-batch.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "batch/RunSummary.h"
#include "common/Defaults.h"

// What a run is asked to do. The three figures and the input rate start at the dialog's values.
struct BatchOptions {
    std::string strInput;
    std::string strOutput;
    // Many inputs (--output-dir): each INPUT to DIR/NAME.strFormat, nJobs at a time; strReport
    // and strPlot are then suffixes of NAME. Empty strOutputDir: one INPUT to one OUTPUT.
    std::vector<std::string> inputs;
    std::string strOutputDir;
    std::string strFormat = "mp4";
    int nJobs = 1;
    bool bSkipExisting = false;
    // A run started by a run of many inputs tells it its progress through this descriptor, and
    // keeps nThreads cores busy, its share of the machine's (0: all of them).
    int nProgressFd = -1;
    int nThreads = 0;
    double dBrightness = varnel::kDefaultBrightness;
    double dMinPixval = varnel::kDefaultMinPixval;
    double dDarkFactor = varnel::kDefaultDarkFactor;
    bool bManipulate = false;
    bool bMarkCrossings = false;
    double dDeflicker = 0.0;  // smoothing span of deflicker in seconds; 0: off
    std::string strReport;    // empty: no report
    std::string strPlot;      // empty: no picture of the brightness curves
    bool bQuiet = false;
    // --input-rate: frames per second of the input, or the stream's own rate (bInputRateAuto).
    double dInputRate = varnel::kDefaultInputRate;
    bool bInputRateAuto = false;
    // --speedup: the output lasts the input / dSpeedup.
    double dSpeedup = kDefaultSpeedup;
    // --crf: constant rate factor of H.264 and VP9 outputs; -1 for the codec's usual one.
    int nQuality = -1;
    // --bitrate: bit-rate control instead, at dwBitRate bits a second (0 for the profile's).
    bool bBitRate = false;
    uint32_t dwBitRate = 0;
};

// The range of --input-rate R, frames per second.
constexpr double kMinInputRate = 1.0;
constexpr double kMaxInputRate = 240.0;

// Exit status of varnel-batch for a command line it cannot use.
constexpr int kExitUsage = 2;

// Parses argv. Returns -1 when the run should go ahead with *pOptions filled; otherwise the exit
// status to end with, the text already printed: 0 after --help (to out) or --version (to out),
// kExitUsage after a usage error (to err).
int ParseBatchOptions(int argc, const char* const* argv, BatchOptions* pOptions, std::ostream& out,
                      std::ostream& err);
