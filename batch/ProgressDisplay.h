// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar that varnel-batch draws on a terminal while it runs.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// Draws one line, rewritten in place with a carriage return: a bar of frames read against the
// expected total, the count, frames per second and the time left. Without an expected total
// (0) it shows the count and the rate only. Redraws at most ten times a second; Finish erases
// the line. A display constructed disabled writes nothing at all.
class CProgressDisplay {
  public:
    CProgressDisplay(std::FILE* pStream, bool bEnabled);

    void SetExpectedFrames(int nFrames) { m_nExpectedFrames = nFrames; }
    void Update(int nFramesRead);
    void Finish();

    // The line for nDone frames read after dElapsed seconds, without the carriage return.
    static std::string FormatLine(int nDone, int nExpected, double dElapsed);
    // "m:ss", or "h:mm:ss" from an hour on; negative or non-finite values count as 0.
    static std::string FormatDuration(double dSeconds);

  private:
    using Clock = std::chrono::steady_clock;

    std::FILE* m_pStream;
    bool m_bEnabled;
    bool m_bDrawn;
    int m_nExpectedFrames;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
    size_t m_nLastLength;
};
