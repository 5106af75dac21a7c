// SPDX-License-Identifier: GPL-3.0-or-later
// varnel-batch: the headless front end. See CBatchRun for what a run does, and CBatchQueue for a
// run of many inputs.
#include <csignal>
#include <cstdio>
#include <iostream>

#include <signal.h>

#include "batch/BatchOptions.h"
#include "batch/BatchQueue.h"
#include "batch/BatchRun.h"
#include "platform/wmf/ThreadBudget.h"

namespace {

// The signal that asked the run to stop; 0 while none has.
volatile std::sig_atomic_t g_nInterruptSignal = 0;

extern "C" void OnInterruptSignal(int nSignal) { g_nInterruptSignal = nSignal; }

}  // namespace

int main(int argc, char** argv) {
    BatchOptions options;
    const int nParseStatus = ParseBatchOptions(argc, argv, &options, std::cout, std::cerr);
    if (nParseStatus >= 0) return nParseStatus;

    // A stopped run ends its frame loop and removes what it has written so far.
    struct sigaction action {};
    action.sa_handler = &OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    if (!options.strOutputDir.empty()) {
        return CBatchQueue(options, stdout, stderr, &g_nInterruptSignal).Run();
    }
    if (options.nThreads > 0) wmf::SetThreadBudget(options.nThreads);
    CBatchRun run(options, stdout, stderr, &g_nInterruptSignal);
    return run.Run();
}
