// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/PlotWriter.h"

#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "batch/BatchOptions.h"
#include "curves/CurveChart.h"
#include "curves/CurveData.h"
#include "curves/CurvePlot.h"

namespace {

HRESULT WriteBytes(const std::string& strPath, const QByteArray& bytes) {
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (pFile == nullptr) return wmf::StatusFromErrno(errno);
    const size_t nWritten = std::fwrite(bytes.constData(), 1, bytes.size(), pFile);
    HRESULT hr = nWritten == static_cast<size_t>(bytes.size()) ? S_OK : wmf::StatusFromErrno(errno);
    if (std::fclose(pFile) != 0 && SUCCEEDED(hr)) hr = wmf::StatusFromErrno(errno);
    return hr;
}

}  // namespace

CPlotWriter::CPlotWriter(std::string strPath) : m_strPath(std::move(strPath)) {}

HRESULT CPlotWriter::Open() { return wmf::CStagedFile::Create(m_strPath, &m_pStaged); }

HRESULT CPlotWriter::Finish(const CCurveData& data, const BatchOptions& options,
                            double dInputRate) {
    if (!m_pStaged) return NS_E_INVALID_REQUEST;
    QByteArray bytes;
    {
        const std::unique_ptr<QApplication> pApplication = MakeHeadlessApplication();
        CCurveChart chart;  // gone before the application
        const QString strNames = CurveTitleNames(QString::fromLocal8Bit(options.strInput.c_str()),
                                                 QString::fromLocal8Bit(options.strOutput.c_str()));
        QString strOptions =
            CurveTitleOptions(options.dBrightness, options.dMinPixval, options.dDarkFactor,
                              options.bManipulate, options.bMarkCrossings, options.dDeflicker);
        strOptions += QStringLiteral(", input %1 fps, speed-up %2")
                          .arg(dInputRate, 0, 'f', 3)
                          .arg(options.dSpeedup, 0, 'g', 6);
        if (options.nQuality >= 0) strOptions += QStringLiteral(", CRF %1").arg(options.nQuality);
        if (options.bBitRate && options.dwBitRate > 0) {
            strOptions += QStringLiteral(", %1 bit/s").arg(options.dwBitRate);
        }
        chart.SetHeadline(strNames, strOptions);
        const double dFirst = data.Empty() ? 1.0 : data.At(0).nFrame;
        const double dLast = data.Empty() ? 1.0 : data.Points().back().nFrame;
        chart.ShowRange(data, dFirst, dLast, kCurvePlotSize.width());
        bytes = RenderCurvePlot(chart, CurvePlotFormatOf(m_strPath), strNames + ": " + strOptions);
    }
    HRESULT hr = bytes.isEmpty() ? E_FAIL : WriteBytes(m_pStaged->WritePath(), bytes);
    if (SUCCEEDED(hr)) hr = m_pStaged->Commit();
    m_pStaged.reset();  // drops the staging file after a failure
    return hr;
}
