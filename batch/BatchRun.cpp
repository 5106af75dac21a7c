// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/BatchRun.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

#include <unistd.h>

#include "batch/PlotWriter.h"
#include "batch/PrintableName.h"
#include "batch/ProgressDisplay.h"
#include "batch/ProgressPipe.h"
#include "batch/ReportWriter.h"
#include "common/Defaults.h"
#include "common/LastError.h"
#include "common/StatusText.h"
#include "curves/CurveData.h"
#include "curves/CurveRecorder.h"
#include "media/MediaReader.h"
#include "media/MediaWriter.h"
#include "platform/wmf/StagedFile.h"
#include "platform/wmf/StillImages.h"
#include "processor/FrameProcessor.h"
#include "processor/FrameStep.h"

namespace {

// Whether two names stand for the same file, for files that need not exist yet.
bool SamePath(const std::string& strFirst, const std::string& strSecond) {
    std::error_code error;
    const std::filesystem::path first =
        std::filesystem::weakly_canonical(std::filesystem::absolute(strFirst, error), error);
    if (error) return strFirst == strSecond;
    const std::filesystem::path second =
        std::filesystem::weakly_canonical(std::filesystem::absolute(strSecond, error), error);
    if (error) return strFirst == strSecond;
    return first == second;
}

// The stream's own frame rate from its AvgTimePerFrame, to a thousandth of a frame a second (so
// that 333667 units give the default rate); 0 when unknown or outside the range of --input-rate.
double StreamFrameRate(REFERENCE_TIME nFrameTime) {
    if (nFrameTime <= 0) return 0.0;
    const double dRate = std::round(static_cast<double>(varnel::kUnitsPerSecond) /
                                    static_cast<double>(nFrameTime) * 1000.0) /
                         1000.0;
    return dRate >= kMinInputRate && dRate <= kMaxInputRate ? dRate : 0.0;
}

}  // namespace

CBatchRun::CBatchRun(const BatchOptions& options, std::FILE* pOut, std::FILE* pErr,
                     const volatile std::sig_atomic_t* pInterrupted)
    : m_options(options),
      m_pOut(pOut),
      m_pErr(pErr),
      m_pInterrupted(pInterrupted),
      m_log([this](const FrameRecord& record) {
          if (m_pReport) m_pReport->Write(record);
      }),
      m_hrWriteFailure(S_OK) {}

// Out of line, where CReportWriter is complete.
CBatchRun::~CBatchRun() = default;

int CBatchRun::Fail(const std::string& strWhat, HRESULT hr) {
    std::fprintf(m_pErr, "varnel-batch: %s: %s\n", strWhat.c_str(), DescribeStatus(hr).c_str());
    return 1;
}

void CBatchRun::OnSampleWritten(void* pContext, INSSBuffer* pSample, QWORD cnsTime, HRESULT hr) {
    CBatchRun* pRun = static_cast<CBatchRun*>(pContext);
    if (FAILED(hr)) {
        if (SUCCEEDED(pRun->m_hrWriteFailure)) pRun->m_hrWriteFailure = hr;
        return;
    }
    pRun->m_log.OnWritten(pSample, cnsTime);
}

bool CBatchRun::ValidatePaths() {
    if (!m_options.strReport.empty() && SamePath(m_options.strReport, m_options.strOutput)) {
        std::fprintf(m_pErr, "varnel-batch: the report and the output must be different files\n");
        return false;
    }
    if (!m_options.strPlot.empty() &&
        (SamePath(m_options.strPlot, m_options.strOutput) ||
         (!m_options.strReport.empty() && SamePath(m_options.strPlot, m_options.strReport)))) {
        std::fprintf(m_pErr,
                     "varnel-batch: the plot must be a file other than the output and the "
                     "report\n");
        return false;
    }
    return true;
}

int CBatchRun::OpenInput(CMediaReader& reader, CMediaWriter& writer) {
    const std::string strWhat = "could not open input " + QuotedName(m_options.strInput);
    // Stills are read at the input rate; with auto they have none of their own but the default.
    wmf::SetStillImageRate(m_options.bInputRateAuto ? varnel::kDefaultInputRate
                                                    : m_options.dInputRate);
    const HRESULT hrOpen = reader.OpenByName(m_options.strInput.c_str());
    const HRESULT hrOpenRecord = g_lastErrorCode;
    if (FAILED(hrOpen) && wmf::IsStillImageSequence(m_options.strInput) &&
        wmf::ListStillImages(m_options.strInput).empty()) {
        std::string strExtensions;
        for (const std::string& strExtension : wmf::StillImageExtensions()) {
            strExtensions += (strExtensions.empty() ? "." : ", .") + strExtension;
        }
        return Fail("no image (" + strExtensions + ") in " + QuotedName(m_options.strInput),
                    hrOpenRecord);
    }
    // As in the dialog, the output profile is derived from whatever the open obtained, which
    // writes "lastprofile.xml"; without a profile there is nothing to derive from.
    if (reader.GetProfile() == nullptr) return Fail(strWhat, hrOpenRecord);
    const HRESULT hrDerive = writer.DeriveOutputProfile(reader.GetProfile());
    const HRESULT hrDeriveRecord = g_lastErrorCode;

    // A profile without a video stream leaves the stream number at 0, whether or not the
    // runtime then refused to select stream 0.
    if (reader.GetVideoStreamNumber() == 0) {
        if (SUCCEEDED(hrOpen)) RecordLastError("Input has no video stream", NS_E_NO_STREAM);
        return Fail("input " + QuotedName(m_options.strInput) + " has no video stream",
                    FAILED(hrOpen) ? hrOpenRecord : g_lastErrorCode);
    }
    if (FAILED(hrOpen)) return Fail(strWhat, hrOpenRecord);
    if (FAILED(hrDerive)) {
        return Fail("could not derive the output profile from " + QuotedName(m_options.strInput),
                    hrDeriveRecord);
    }
    return 0;
}

int CBatchRun::Run() {
    m_start = std::chrono::steady_clock::now();
    if (!ValidatePaths()) return kExitUsage;

    CoInitialize(nullptr);
    CMediaReader reader;
    CMediaWriter writer;
    CFrameProcessor processor(&writer);
    Configure(writer, processor);
    if (const int nStatus = Open(reader, writer, processor); nStatus != 0) return nStatus;
    if (const int nStatus = Play(reader, writer, processor); nStatus != 0) return nStatus;
    return Commit(writer);
}

void CBatchRun::Configure(CMediaWriter& writer, CFrameProcessor& processor) {
    // The output stays staged until everything else has finished; a run that fails on the way
    // ends with the writer, which drops the held file.
    writer.HoldOutput(true);
    processor.SelectDisplay(0);
    processor.SetManipulation(m_options.bManipulate ? 1 : 0);
    processor.SetMarkCrossings(m_options.bMarkCrossings ? 1 : 0);
    processor.SetParameters(m_options.dBrightness, m_options.dMinPixval, m_options.dDarkFactor);
    processor.SetDeflicker(m_options.dDeflicker);
    processor.SetSpeedup(m_options.dSpeedup);
    m_summary.dSpeedup = m_options.dSpeedup;
    if (m_options.bBitRate) {
        writer.SetOutputBitRate(m_options.dwBitRate);
    } else if (m_options.nQuality >= 0) {
        writer.SetOutputQuality(m_options.nQuality);
    }
}

int CBatchRun::Open(CMediaReader& reader, CMediaWriter& writer, CFrameProcessor& processor) {
    if (const int nStatus = OpenInput(reader, writer); nStatus != 0) return nStatus;
    ChooseInputRate(reader);
    processor.SetInputRate(m_summary.dInputRate);

    // The named files are checked (not the open input, a regular file, writable) before any
    // frame is read, so that a run fails at once rather than after all its work.
    writer.SetWriteObserver(&CBatchRun::OnSampleWritten, this);
    if (FAILED(writer.OpenOutput(m_options.strOutput.c_str()))) {
        return Fail("could not write output " + QuotedName(m_options.strOutput), g_lastErrorCode);
    }
    if (!m_options.strReport.empty()) {
        m_pReport = std::make_unique<CReportWriter>(m_options.strReport, m_summary.dInputRate,
                                                    m_options.dSpeedup);
        if (const HRESULT hr = m_pReport->Open(); FAILED(hr)) {
            RecordLastError("Could not begin writing report", hr);
            return Fail("could not write report " + QuotedName(m_options.strReport),
                        g_lastErrorCode);
        }
    }
    if (!m_options.strPlot.empty()) {
        m_pPlot = std::make_unique<CPlotWriter>(m_options.strPlot);
        if (const HRESULT hr = m_pPlot->Open(); FAILED(hr)) {
            RecordLastError("Could not begin writing plot", hr);
            return Fail("could not write plot " + QuotedName(m_options.strPlot), g_lastErrorCode);
        }
        m_pCurveData = std::make_unique<CCurveData>();
        m_pCurveRecorder = std::make_unique<CCurveRecorder>(m_pCurveData.get());
    }
    return 0;
}

int CBatchRun::Play(CMediaReader& reader, CMediaWriter& writer, CFrameProcessor& processor) {
    const HRESULT hrRead = PlayToEnd(reader, processor);
    // As in the dialog, the step whose read fails ends the output. After an interruption or a
    // refused sample it ends too, so that the runtime lets go of the file before it is removed.
    const HRESULT hrClose = writer.CloseOutput();
    const HRESULT hrCloseRecord = g_lastErrorCode;
    const std::string strInput = QuotedName(m_options.strInput);
    const std::string strOutputWhat = "could not write output " + QuotedName(m_options.strOutput);
    if (*m_pInterrupted != 0) {
        std::fprintf(m_pErr, "varnel-batch: interrupted; %s not written\n",
                     QuotedName(m_options.strOutput).c_str());
        return 128 + static_cast<int>(*m_pInterrupted);
    }
    if (FAILED(m_hrWriteFailure)) return Fail(strOutputWhat, m_hrWriteFailure);
    if (hrRead != NS_E_NO_MORE_SAMPLES) {
        return Fail("could not read frame " + std::to_string(m_summary.nFramesRead + 1) +
                        " of input " + strInput,
                    hrRead);
    }
    if (FAILED(hrClose)) return Fail(strOutputWhat, hrCloseRecord);
    // An input none of whose frames decode, or too short for one to be picked, gives no output
    // rather than an empty one.
    if (m_summary.nFramesRead == 0) {
        return Fail("no frame of input " + strInput + " could be decoded",
                    NS_E_INVALID_INPUT_FORMAT);
    }
    if (m_summary.nSamplesWritten == 0) {
        return Fail("input " + strInput + " is too short to pick a frame from (" +
                        std::to_string(m_summary.nFramesRead) + " frames read)",
                    NS_E_INVALID_INPUT_FORMAT);
    }
    return 0;
}

int CBatchRun::Commit(CMediaWriter& writer) {
    m_log.Finish();
    if (m_pReport) {
        if (const HRESULT hr = m_pReport->Finish(); FAILED(hr)) {
            RecordLastError("Could not end writing report", hr);
            return Fail("could not write report " + QuotedName(m_options.strReport),
                        g_lastErrorCode);
        }
    }
    if (FAILED(writer.FinishHeldOutput(true))) {
        return Fail("could not write output " + QuotedName(m_options.strOutput), g_lastErrorCode);
    }
    // The output stands; a plot or a summary that fails now fails the run but takes nothing back.
    if (m_pPlot) {
        if (const HRESULT hr = m_pPlot->Finish(*m_pCurveData, m_options, m_summary.dInputRate);
            FAILED(hr)) {
            RecordLastError("Could not end writing plot", hr);
            return Fail("could not write plot " + QuotedName(m_options.strPlot), g_lastErrorCode);
        }
    }

    m_summary.dWallTime =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    CProgressPipe(m_options.nProgressFd).Done(m_summary);
    if (!m_options.bQuiet) {
        const std::string strSummary = FormatSummary(m_summary);
        // A summary that does not reach its reader (a full disk, a closed pipe) is a failure.
        if (std::fputs(strSummary.c_str(), m_pOut) == EOF || std::fflush(m_pOut) != 0) {
            return Fail("could not write the summary", wmf::StatusFromErrno(errno));
        }
    }
    return 0;
}

void CBatchRun::ChooseInputRate(CMediaReader& reader) {
    if (!m_options.bInputRateAuto) {
        m_summary.dInputRate = m_options.dInputRate;
        m_summary.strInputRateSource =
            m_options.dInputRate == varnel::kDefaultInputRate ? "default" : "given";
        return;
    }
    const double dStreamRate = StreamFrameRate(reader.GetVideoFrameTime());
    m_summary.dInputRate = dStreamRate > 0.0 ? dStreamRate : varnel::kDefaultInputRate;
    m_summary.strInputRateSource =
        dStreamRate > 0.0 ? "from the input" : "the input gives none in range; default";
}

HRESULT CBatchRun::PlayToEnd(CMediaReader& reader, CFrameProcessor& processor) {
    CProgressDisplay progress(m_pErr, !m_options.bQuiet && isatty(fileno(m_pErr)) != 0);
    progress.SetExpectedFrames(reader.GetExpectedFrameCount());
    CProgressPipe pipe(m_options.nProgressFd);
    pipe.Expect(reader.GetExpectedFrameCount());

    // The log takes each frame before the processor does (it may write the frame at once) and
    // its figures after.
    // The curves (--plot) record every frame processed.
    struct Log {
        CFrameLog& log;
        CFrameProcessor& processor;
        CCurveRecorder* pCurves;
        bool bManipulating;
        int nFrame;
        double dTime;
        int nLastCut;
        void OnSample(int nNumber, double dFrameTime, INSSBuffer* pSample) {
            nFrame = nNumber;
            dTime = dFrameTime;
            log.AddFrame(nFrame, dTime, pSample);
        }
        void OnDisplay(const FrameStepDisplay& display) {
            if (pCurves != nullptr) pCurves->Record(processor, nFrame, dTime, bManipulating);
            log.SetMeasurement(display.dBefore, display.dDarkFraction, processor.GetTarget());
            if (processor.LastCutFrame() != nLastCut) {
                nLastCut = processor.LastCutFrame();
                log.MarkCut(processor.GetLatestFigures().nNumber - nLastCut);
            }
            TakeWrite();
        }
        // The picks held at the end of the input, written one by one.
        void OnFlushed() {
            if (pCurves != nullptr) pCurves->RecordWrites(processor, bManipulating);
            TakeWrite();
        }
        void TakeWrite() {
            if (!log.TakeWrittenMark()) return;
            // The written frame's figures, as "Show Write" would show them.
            processor.SelectDisplay(1);
            double dAfter = 0.0;
            processor.GetStatistics(&dAfter, nullptr);
            const double dTarget = processor.GetTarget();
            processor.SelectDisplay(0);
            log.SetAfterOfLastWritten(dAfter, dTarget);
            log.Retire();
        }
    } frames{m_log, processor, m_pCurveRecorder.get(), m_options.bManipulate, 0, 0.0, 0};

    HRESULT hrRead = S_OK;
    while (*m_pInterrupted == 0 && SUCCEEDED(m_hrWriteFailure)) {
        hrRead = StepFrame(reader, processor, frames);
        if (FAILED(hrRead)) break;
        m_summary.dInputDuration = frames.dTime + reader.GetDuration();
        progress.Update(m_log.FramesRead());
        pipe.Frames(m_log.FramesRead());
    }
    progress.Finish();

    m_summary.nFramesRead = m_log.FramesRead();
    m_summary.nFramesPicked = m_log.FramesPicked();
    m_summary.nSamplesWritten = m_log.SamplesWritten();
    m_summary.dOutputDuration =
        static_cast<double>(m_log.LastOutputTime()) / static_cast<double>(varnel::kUnitsPerSecond);
    return hrRead;
}
