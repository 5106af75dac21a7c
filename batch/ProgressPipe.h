// SPDX-License-Identifier: GPL-3.0-or-later
// How a single run tells the run of many inputs that started it how far it has come.
#pragma once

#include <string>

#include "batch/RunSummary.h"

// The single run's side: one text line per event, each written whole (lines are shorter than
// PIPE_BUF, so they never interleave): "expect N" once the input is open (its estimated frame
// count), "frames N" as frames are read (every few frames), and "done" with the summary's counts
// and durations when the run has succeeded. Write failures are ignored: the progress is a
// courtesy, the exit status and the error stream carry the outcome. The descriptor is not owned.
class CProgressPipe {
  public:
    explicit CProgressPipe(int nFd) : m_nFd(nFd) {}

    void Expect(int nFrames);
    // Frames read so far; sent on every eighth frame.
    void Frames(int nFrames);
    void Done(const RunSummary& summary);

  private:
    void WriteLine(const std::string& strLine);

    int m_nFd;
};

// The run of many inputs' side: what one single run has said so far.
struct JobProgress {
    int nExpected = 0;
    int nFrames = 0;
    bool bDone = false;
    RunSummary summary;  // the counts and durations of "done"

    // Takes one line (without its line feed); lines it does not know are ignored.
    void Take(const std::string& strLine);
};
