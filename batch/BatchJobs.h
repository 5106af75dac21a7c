// SPDX-License-Identifier: GPL-3.0-or-later
// The single runs that a run of many inputs (--output-dir) is made of.
#pragma once

#include <string>
#include <vector>

#include "batch/BatchOptions.h"

// One input of a run of many: its files, each name as the single run takes it.
struct BatchJob {
    std::string strInput;
    std::string strOutput;  // DIR/NAME.EXT
    std::string strReport;  // DIR/NAME + the --report suffix; empty without --report
    std::string strPlot;    // DIR/NAME + the --plot suffix; empty without --plot
};

// NAME of an input's files: the file's name without its extension; a folder's name; a pattern's
// name without its extension and its '*' (IMG_*.JPG gives IMG_), or its folder's name when
// nothing is left.
std::string OutputStem(const std::string& strInput);

// One job per input of options.inputs, in their order. Empty, with the reason in *pProblem, when
// two inputs would write the same file, a suffix holds a '/', or a report or plot would take an
// output's name.
std::vector<BatchJob> PlanJobs(const BatchOptions& options, std::string* pProblem);

// The command line (without the program) of the single run of one job: the figures and switches
// of options, written so that they parse back to the same values, --quiet, --progress-fd
// nProgressFd, then "--" and the job's input and output.
std::vector<std::string> SingleRunArguments(const BatchOptions& options, const BatchJob& job,
                                            int nProgressFd);
