// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/RunSummary.h"

#include <cstdio>

namespace {

void AppendLine(std::string& strText, const char* pszLabel, const char* pszValue) {
    char szLine[160];
    std::snprintf(szLine, sizeof szLine, "%-18s %s\n", pszLabel, pszValue);
    strText += szLine;
}

}  // namespace

std::string FormatSummary(const RunSummary& summary) {
    std::string strText;
    char szValue[128];
    std::snprintf(szValue, sizeof szValue, "%d", summary.nFramesRead);
    AppendLine(strText, "frames read", szValue);
    std::snprintf(szValue, sizeof szValue, "%d", summary.nFramesPicked);
    AppendLine(strText, "pictures picked", szValue);
    std::snprintf(szValue, sizeof szValue, "%d", summary.nSamplesWritten);
    AppendLine(strText, "samples written", szValue);
    if (summary.dOutputDuration > 0.0 && summary.dInputDuration > 0.0) {
        std::snprintf(szValue, sizeof szValue, "%.3f s (input %.3f s, %.2f times shorter)",
                      summary.dOutputDuration, summary.dInputDuration,
                      summary.dInputDuration / summary.dOutputDuration);
    } else {
        std::snprintf(szValue, sizeof szValue, "%.3f s", summary.dOutputDuration);
    }
    AppendLine(strText, "output duration", szValue);
    std::snprintf(szValue, sizeof szValue, "%g (--speedup)", summary.dSpeedup);
    AppendLine(strText, "speed-up", szValue);
    if (!summary.strInputRateSource.empty()) {
        std::snprintf(szValue, sizeof szValue, "%.3f fps (%s)", summary.dInputRate,
                      summary.strInputRateSource.c_str());
        AppendLine(strText, "input rate", szValue);
    }
    std::snprintf(szValue, sizeof szValue, "%.2f s", summary.dWallTime);
    AppendLine(strText, "wall time", szValue);
    std::snprintf(szValue, sizeof szValue, "%.1f",
                  summary.dWallTime > 0.0 ? summary.nFramesRead / summary.dWallTime : 0.0);
    AppendLine(strText, "frames per second", szValue);
    return strText;
}
