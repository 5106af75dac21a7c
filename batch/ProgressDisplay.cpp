// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/ProgressDisplay.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

CProgressDisplay::CProgressDisplay(std::FILE* pStream, bool bEnabled)
    : m_pStream(pStream),
      m_bEnabled(bEnabled && pStream != nullptr),
      m_bDrawn(false),
      m_nExpectedFrames(0),
      m_start(Clock::now()),
      m_lastDraw(m_start),
      m_nLastLength(0) {}

std::string CProgressDisplay::FormatDuration(double dSeconds) {
    const long nTotal = std::isfinite(dSeconds) && dSeconds > 0.0
                            ? static_cast<long>(std::min(dSeconds, 1.0e9) + 0.5)
                            : 0;
    char szText[32];
    if (nTotal >= 3600) {
        std::snprintf(szText, sizeof szText, "%ld:%02ld:%02ld", nTotal / 3600, nTotal / 60 % 60,
                      nTotal % 60);
    } else {
        std::snprintf(szText, sizeof szText, "%ld:%02ld", nTotal / 60, nTotal % 60);
    }
    return szText;
}

std::string CProgressDisplay::FormatLine(int nDone, int nExpected, double dElapsed) {
    const double dRate = dElapsed > 0.0 ? nDone / dElapsed : 0.0;
    char szRate[48];
    std::snprintf(szRate, sizeof szRate, "%.1f fps", dRate);
    if (nExpected <= 0) {
        return std::to_string(nDone) + " frames  " + szRate;
    }
    // The expected total is an estimate from the input's duration; never show more than done.
    const int nTotal = std::max(nExpected, nDone);
    const int nFilled = static_cast<int>(static_cast<long long>(nDone) * kBarWidth / nTotal);
    std::string strLine = "[" + std::string(nFilled, '#') + std::string(kBarWidth - nFilled, '-') +
                          "] " + std::to_string(nDone) + "/" + std::to_string(nTotal) +
                          " frames  " + szRate;
    if (dRate > 0.0) strLine += "  " + FormatDuration((nTotal - nDone) / dRate) + " left";
    return strLine;
}

void CProgressDisplay::Update(int nFramesRead) {
    if (!m_bEnabled) return;
    const Clock::time_point now = Clock::now();
    if (m_bDrawn && now - m_lastDraw < kRedrawInterval) return;
    m_lastDraw = now;
    const std::string strLine = FormatLine(nFramesRead, m_nExpectedFrames,
                                           std::chrono::duration<double>(now - m_start).count());
    // Pad over the rest of a longer previous line.
    const size_t nPad = m_nLastLength > strLine.size() ? m_nLastLength - strLine.size() : 0;
    std::fprintf(m_pStream, "\r%s%*s", strLine.c_str(), static_cast<int>(nPad), "");
    std::fflush(m_pStream);
    m_nLastLength = strLine.size();
    m_bDrawn = true;
}

void CProgressDisplay::Finish() {
    if (!m_bEnabled || !m_bDrawn) return;
    std::fprintf(m_pStream, "\r%*s\r", static_cast<int>(m_nLastLength), "");
    std::fflush(m_pStream);
    m_bDrawn = false;
    m_nLastLength = 0;
}
