// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/ReportWriter.h"

#include <cerrno>
#include <cinttypes>
#include <utility>

#include "platform/wmf/StagedFile.h"

CReportWriter::CReportWriter(std::string strPath, double dInputRate, double dSpeedup)
    : m_strPath(std::move(strPath)), m_dInputRate(dInputRate), m_dSpeedup(dSpeedup) {}

const char* CReportWriter::Header() {
    return "frame,time_s,brightness_before,dark_fraction,picked,brightness_after,"
           "output_times_100ns,target,input_rate,speedup,cut";
}

std::string CReportWriter::FormatRow(const FrameRecord& record, double dInputRate,
                                     double dSpeedup) {
    char szFigures[160];
    std::snprintf(szFigures, sizeof szFigures, "%d,%.7f,%.6f,%.6f,%d,%.6f,", record.nFrame,
                  record.dTime, record.dBefore, record.dDarkFraction, record.bPicked ? 1 : 0,
                  record.dAfter);
    std::string strRow = szFigures;
    for (size_t i = 0; i < record.outputTimes.size(); ++i) {
        char szTime[24];
        std::snprintf(szTime, sizeof szTime, "%s%" PRIu64, i == 0 ? "" : " ",
                      static_cast<uint64_t>(record.outputTimes[i]));
        strRow += szTime;
    }
    char szTail[64];
    std::snprintf(szTail, sizeof szTail, ",%.6f,%.3f,%g,%d", record.dTarget, dInputRate, dSpeedup,
                  record.bCut ? 1 : 0);
    return strRow + szTail;
}

HRESULT CReportWriter::Open() {
    const HRESULT hr = wmf::CStagedFile::Create(m_strPath, &m_pStaged);
    if (FAILED(hr)) return hr;
    m_pFile.reset(std::fopen(m_pStaged->WritePath().c_str(), "w"));
    if (!m_pFile) {
        const HRESULT hrOpen = wmf::StatusFromErrno(errno);
        Abandon();
        return hrOpen;
    }
    std::fprintf(m_pFile.get(), "%s\n", Header());
    return S_OK;
}

void CReportWriter::Write(const FrameRecord& record) {
    if (!m_pFile) return;
    std::fprintf(m_pFile.get(), "%s\n", FormatRow(record, m_dInputRate, m_dSpeedup).c_str());
}

HRESULT CReportWriter::Finish() {
    if (!m_pFile || !m_pStaged) return NS_E_INVALID_REQUEST;
    HRESULT hr = std::ferror(m_pFile.get()) != 0 ? wmf::StatusFromErrno(errno) : S_OK;
    if (std::fclose(m_pFile.release()) != 0 && SUCCEEDED(hr)) hr = wmf::StatusFromErrno(errno);
    if (FAILED(hr)) {
        Abandon();
        return hr;
    }
    hr = m_pStaged->Commit();
    m_pStaged.reset();
    return hr;
}

void CReportWriter::Abandon() {
    m_pFile.reset();
    m_pStaged.reset();  // removes the temporary
}
