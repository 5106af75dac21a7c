// SPDX-License-Identifier: GPL-3.0-or-later
// The --report file: one CSV row per frame read.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "batch/FrameRecord.h"
#include "batch/RunSummary.h"
#include "common/Defaults.h"
#include "platform/wmf/StagedFile.h"
#include "platform/wmf/wmsdk.h"

// Writes a header line, then one row per frame: frame number, time in seconds, brightness
// before, dark fraction, picked (0/1), brightness after, the output times in 100-ns units
// separated by spaces (empty for a frame not written), the target brightness, the input's
// frames per second that the picking used, and the speed-up. The rows are staged and take the named
// file's place only when Finish succeeds; Abandon, or destruction before Finish, leaves the named
// file as it was.
//
// Open and Finish return S_OK or a failure status: the statuses of wmf::CStagedFile (a
// name that is the open input, not a regular file, in a missing or read-only folder), or the
// errno status of a failed write.
class CReportWriter {
  public:
    explicit CReportWriter(std::string strPath, double dInputRate = varnel::kDefaultInputRate,
                           double dSpeedup = kDefaultSpeedup);

    HRESULT Open();
    void Write(const FrameRecord& record);
    HRESULT Finish();
    void Abandon();

    // The row for one frame, without the line end.
    static std::string FormatRow(const FrameRecord& record, double dInputRate, double dSpeedup);
    static const char* Header();

  private:
    struct FileCloser {
        void operator()(std::FILE* pFile) const { std::fclose(pFile); }
    };

    std::string m_strPath;
    double m_dInputRate;
    double m_dSpeedup;
    std::unique_ptr<wmf::CStagedFile> m_pStaged;
    std::unique_ptr<std::FILE, FileCloser> m_pFile;
};
