// SPDX-License-Identifier: GPL-3.0-or-later
// A run of many inputs (--output-dir): each input a single run in a process of its own.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/types.h>

#include "batch/BatchJobs.h"
#include "batch/BatchOptions.h"
#include "batch/ProgressPipe.h"

class CProgressDisplay;

// Runs the jobs of PlanJobs, at most options.nJobs at a time, each as a child process of this
// same program (/proc/self/exe) with the single-run command line of SingleRunArguments. A child
// shares nothing with the others but the working directory, where each writes
// "lastprofile.xml" through its staged file (the one written last stays): its own last-error
// record, random generator and still-image rate. Its standard error comes back through a pipe and
// is passed on whole lines at a time; its progress through another (CProgressPipe).
//
// Run creates DIR when it is missing, leaves out the inputs whose output exists with
// --skip-existing, draws one progress bar over all inputs' frames (on a terminal, without
// --quiet), and ends with one table on the output stream (without --quiet): a row per input with
// its status, frames read, output duration and wall time, then a total. An input that fails does
// not stop the others. Returns 0 when no input failed; 1 when one did (each is named, by its own
// message and in a last line that lists them all), when DIR cannot be made or when the table
// cannot be written; 128 plus the signal number when the interrupt flag was set: the children
// then get SIGINT, each leaves its output as it was, and no other input is started.
class CBatchQueue {
  public:
    CBatchQueue(const BatchOptions& options, std::FILE* pOut, std::FILE* pErr,
                const volatile std::sig_atomic_t* pInterrupted);

    int Run();

  private:
    enum class State { kWaiting, kSkipped, kRunning, kDone, kFailed, kInterrupted, kNotStarted };
    struct Job {
        BatchJob files;
        State state = State::kWaiting;
        pid_t pid = -1;
        int nErrFd = -1;                                // the child's standard error, read end
        int nProgressFd = -1;                           // its CProgressPipe, read end
        std::string strErrPending, strProgressPending;  // text after the last line feed
        JobProgress progress;
        int nProbedFrames = 0;  // the frames expected before the child started
        std::chrono::steady_clock::time_point start;
        double dWallTime = 0.0;
    };

    void Start(Job& job);
    // Waits up to the timeout for output of the running children and takes what came; reaps the
    // children whose pipes have closed.
    void Pump(int nTimeoutMs);
    void TakeErr(Job& job, const std::string& strText, bool bEnd);
    void Reap(Job& job);
    void ProbeExpectedFrames();
    bool WriteTable() const;

    const BatchOptions& m_options;
    std::FILE* m_pOut;
    std::FILE* m_pErr;
    const volatile std::sig_atomic_t* m_pInterrupted;
    std::vector<Job> m_jobs;
    CProgressDisplay* m_pProgress = nullptr;  // the bar while Run draws one
};
