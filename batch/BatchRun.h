// SPDX-License-Identifier: GPL-3.0-or-later
// One run of varnel-batch: the dialog's road of a frame, from the first frame to the last.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "batch/BatchOptions.h"
#include "batch/FrameLog.h"
#include "batch/RunSummary.h"
#include "platform/wmf/wmsdk.h"

class CCurveData;
class CCurveRecorder;
class CFrameProcessor;
class CMediaReader;
class CMediaWriter;
class CPlotWriter;
class CReportWriter;

// Does what the dialog does when its user commits the input name, then the output name, then
// plays to the end: OpenByName and DeriveOutputProfile (which writes "lastprofile.xml" in the
// working directory), OpenOutput, frame steps (NextFrameNumber, GetFrameTime, GetNextFrame,
// ProcessSample) until a read fails, then CloseOutput. Along the way it keeps the report and
// the progress display.
//
// Run returns the exit status: 0 when the input was read to its end and the output finished;
// 1 when the input cannot be opened or has no video stream, the output or the report cannot be
// written, a read fails before the end of the input, or the summary cannot be written; 128 plus the
// signal number when a signal stopped the run; kExitUsage when the report or the plot would
// overwrite the output or each other. Each failure is one line on the error stream naming it with
// its status (g_lastErrorCode); names in it show their control characters as escapes
// (PrintableName). After a failure neither the output nor the report exists under its name: both
// are written to staged files (wmf::CStagedFile: nameless until committed) that replace the named
// files only at the end of a successful run, so whatever was there before stays. The plot
// (--plot) is drawn last, once the output is in place: a plot that cannot be drawn or written fails
// the run with 1 but leaves the output and the report where they are; so does a summary that
// cannot be written.
//
// The media objects live only for the run; the interrupt flag (set by a signal handler) is
// polled once per frame.
class CBatchRun {
  public:
    CBatchRun(const BatchOptions& options, std::FILE* pOut, std::FILE* pErr,
              const volatile std::sig_atomic_t* pInterrupted);
    ~CBatchRun();

    int Run();
    const RunSummary& Summary() const { return m_summary; }

  private:
    static void OnSampleWritten(void* pContext, INSSBuffer* pSample, QWORD cnsTime, HRESULT hr);

    int Fail(const std::string& strWhat, HRESULT hr);
    // The stages of Run, in order; each but Configure returns 0 to go on, else the exit status.
    // Configure: the processor's switches and figures, the writer's quality, the output held.
    void Configure(CMediaWriter& writer, CFrameProcessor& processor);
    // Open: the input (with the profile derivation), the output, the report and the plot.
    int Open(CMediaReader& reader, CMediaWriter& writer, CFrameProcessor& processor);
    // Play: the frame steps to the end of the input, then the output ended.
    int Play(CMediaReader& reader, CMediaWriter& writer, CFrameProcessor& processor);
    // Commit: the report, then the output, then the plot take their names; the summary.
    int Commit(CMediaWriter& writer);
    int OpenInput(CMediaReader& reader, CMediaWriter& writer);
    bool ValidatePaths();
    // Frame steps until a read fails, the output refuses a sample or the run is interrupted;
    // the status of the last read.
    HRESULT PlayToEnd(CMediaReader& reader, CFrameProcessor& processor);
    // The input rate the picking takes (--input-rate, or the stream's own for auto, the default
    // when it has none), with its source, into the summary.
    void ChooseInputRate(CMediaReader& reader);

    const BatchOptions& m_options;
    std::FILE* m_pOut;
    std::FILE* m_pErr;
    const volatile std::sig_atomic_t* m_pInterrupted;
    std::chrono::steady_clock::time_point m_start;
    // The --report file while a run writes one; a report not finished is removed with it.
    std::unique_ptr<CReportWriter> m_pReport;
    // The --plot picture while a run draws one, and the figures of every frame for it.
    std::unique_ptr<CPlotWriter> m_pPlot;
    std::unique_ptr<CCurveData> m_pCurveData;
    std::unique_ptr<CCurveRecorder> m_pCurveRecorder;
    CFrameLog m_log;
    HRESULT m_hrWriteFailure;
    RunSummary m_summary;
};
