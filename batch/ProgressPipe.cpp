// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/ProgressPipe.h"

#include <cstdio>

#include <unistd.h>

void CProgressPipe::WriteLine(const std::string& strLine) {
    if (m_nFd < 0) return;
    const std::string strText = strLine + "\n";
    [[maybe_unused]] const ssize_t nWritten = ::write(m_nFd, strText.data(), strText.size());
}

void CProgressPipe::Expect(int nFrames) { WriteLine("expect " + std::to_string(nFrames)); }

void CProgressPipe::Frames(int nFrames) {
    if (nFrames % 8 == 0) WriteLine("frames " + std::to_string(nFrames));
}

void CProgressPipe::Done(const RunSummary& summary) {
    char szLine[160];
    std::snprintf(szLine, sizeof szLine, "done %d %d %d %.17g %.17g", summary.nFramesRead,
                  summary.nFramesPicked, summary.nSamplesWritten, summary.dInputDuration,
                  summary.dOutputDuration);
    WriteLine(szLine);
}

void JobProgress::Take(const std::string& strLine) {
    int nValue = 0;
    if (std::sscanf(strLine.c_str(), "expect %d", &nValue) == 1) {
        nExpected = nValue;
    } else if (std::sscanf(strLine.c_str(), "frames %d", &nValue) == 1) {
        nFrames = nValue;
    } else if (std::sscanf(strLine.c_str(), "done %d %d %d %lf %lf", &summary.nFramesRead,
                           &summary.nFramesPicked, &summary.nSamplesWritten,
                           &summary.dInputDuration, &summary.dOutputDuration) == 5) {
        nFrames = summary.nFramesRead;
        bDone = true;
    }
}
