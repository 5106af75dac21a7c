// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/FrameProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "common/Defaults.h"
#include "media/MediaWriter.h"
#include "processor/LuminanceTables.h"
#include "processor/RowMeasure.h"

namespace {

// Above this the window (and the queue, rate / 4 frames) grows beyond any real input's needs.
constexpr double kMaxInputRate = 1000.0;

// The widest row whose DIB stride fits in 32 bits.
constexpr LONG kMaxWidth = static_cast<LONG>((0xFFFFFFFFu - 31u) / 24u);

// The pixel grid of a 24-bit frame: rows of nWidth pixels, dwStride bytes apart. Empty when the
// header is missing, its width or height is 0 or less, or its rows are too wide to address.
struct FrameLayout {
    LONG nWidth = 0;
    LONG nHeight = 0;
    DWORD dwStride = 0;

    explicit FrameLayout(const BITMAPINFOHEADER* pFormat) {
        if (pFormat == nullptr || pFormat->biWidth <= 0 || pFormat->biHeight <= 0 ||
            pFormat->biWidth > kMaxWidth) {
            return;
        }
        nWidth = pFormat->biWidth;
        nHeight = pFormat->biHeight;
        dwStride = DibStride(nWidth);
    }
    bool Empty() const { return nWidth == 0; }
    uint64_t PixelCount() const { return static_cast<uint64_t>(nWidth) * nHeight; }
    // Bytes the frame spans: every row at the stride.
    uint64_t ByteCount() const { return static_cast<uint64_t>(dwStride) * nHeight; }
    BYTE* Row(BYTE* pPixels, LONG nRow) const {
        return pPixels + static_cast<size_t>(nRow) * dwStride;
    }
};

constexpr BYTE kBlueMarker[3] = {255, 0, 0};
constexpr BYTE kRedMarker[3] = {0, 0, 255};

void Paint(BYTE* pPixel, const BYTE (&marker)[3]) {
    pPixel[0] = marker[0];
    pPixel[1] = marker[1];
    pPixel[2] = marker[2];
}

// The measuring walk that paints the crossings (without painting, CLuminanceSums gives the same
// sums). The previous pixel of the first pixel of a row is the last pixel of the row before; the
// first pixel of the frame counts as following a bright one, so it can be painted red but never
// makes a blue mark.
//
// With kAll the sum of the luminance of all pixels goes to *pdAllSum as well.
template <bool kAll = false>
double AnalyseMarking(const FrameLayout& layout, BYTE* pPixels, double dMinPixval,
                      uint64_t* pnCount, double* pdAllSum = nullptr) {
    double dSum = 0.0;
    double dAllSum = 0.0;
    uint64_t nCount = 0;
    bool bPrevBright = true;
    BYTE* pPrev = nullptr;
    for (LONG nRow = 0; nRow < layout.nHeight; ++nRow) {
        BYTE* p = layout.Row(pPixels, nRow);
        for (LONG x = 0; x < layout.nWidth; ++x, p += 3) {
            const double dY = CLuminanceTables::Of(p);
            const bool bBright = dY > dMinPixval;
            if constexpr (kAll) dAllSum += dY;
            if (bBright) {
                dSum += dY;
                ++nCount;
                if (!bPrevBright) Paint(pPrev, kBlueMarker);
            } else if (bPrevBright) {
                Paint(p, kRedMarker);
            }
            bPrevBright = bBright;
            pPrev = p;
        }
    }
    *pnCount = nCount;
    if constexpr (kAll) *pdAllSum = dAllSum;
    return dSum;
}

// Multiplier and increment of the generator behind RandomUnit; a draw is the top 15 bits.
constexpr DWORD kRandomMultiplier = 1664525u;
constexpr DWORD kRandomIncrement = 1013904223u;
constexpr DWORD kRandomMax = 32767u;

// The stored byte of a scaled value: truncated toward zero, 255 for 256 and more (infinity
// included), 0 below 0.
BYTE ScaledByte(double dValue) {
    if (dValue >= 256.0) return 255;
    return dValue > 0.0 ? static_cast<BYTE>(static_cast<int>(dValue)) : 0;
}

// The gain that brings a frame's expected mean luminance to dTarget. weights[v] is the weight of
// byte value v in the frame's luminance, summed over its dPixels pixels and their channels.
// A byte v scaled with the dither is (v + 0.5) x gain on average until it clips at 255, so the
// expected mean is piecewise linear in the gain: the walk goes through the gains at which byte
// values clip, from the brightest value down, and solves the piece the target falls in. 0 for
// a target of 0 or less; past what the frame can reach (every byte at 255), the gain that
// clips every byte.
double GainForMean(const double (&weights)[256], double dPixels, double dTarget) {
    if (!(dTarget > 0.0)) return 0.0;
    double dClipped = 0.0;  // weight of the values at 255 after scaling
    double dLinear = 0.0;   // sum of weight x (v + 0.5) of the values below
    for (int v = 0; v < 256; ++v) dLinear += weights[v] * (static_cast<double>(v) + 0.5);
    const double dWanted = dTarget * dPixels;
    for (int t = 255; t >= 0; --t) {
        // Values up to t scale linearly, those above t clip: gains up to 255 / (t + 0.5).
        if (dLinear > 0.0) {
            const double dGain = (dWanted - 255.0 * dClipped) / dLinear;
            if (dGain <= 255.0 / (static_cast<double>(t) + 0.5)) return std::max(dGain, 0.0);
        }
        dClipped += weights[t];
        dLinear -= weights[t] * (static_cast<double>(t) + 0.5);
    }
    return 255.0 / 0.5;
}

}  // namespace

CFrameProcessor::CFrameProcessor(CMediaWriter* pWriter)
    : m_itLatest(m_queue.end()),
      m_itLastWritten(m_queue.end()),
      m_itBest(m_queue.end()),
      m_pDisplayed(&m_itLatest),
      m_pWriter(pWriter),
      m_nFrameCount(0),
      m_dPlaybackRate(0.0),
      m_dCaptureRate(0.0),
      m_dInputRate(0.0),
      m_dBrightness(0.0),
      m_bManipulate(0),
      m_bMarkCrossings(0),
      m_dMinPixval(0.0),
      m_dDarkFactor(0.0),  // the window sets its own value before the first frame
      m_nWindowOffset(0),
      m_nWindowSpan(0),
      m_nWindowLength(0),
      m_nKeptRecent(0),
      m_dTimeScale(0.0),
      m_dFrameDuration(0.0),
      m_dIdealTime(0.0),
      m_dOutputTime(0.0),
      m_dSceneSpan(0.0),
      m_nLastSceneFrame(0),
      m_nLastCut(0),
      m_itLastPicked(m_queue.end()),
      m_dwRandomState(~static_cast<DWORD>(reinterpret_cast<uintptr_t>(pWriter))) {
    LoadDefaults();
}

CFrameProcessor::~CFrameProcessor() {
    for (FrameEntry& entry : m_queue) ReleaseEntry(entry);
}

void CFrameProcessor::LoadDefaults() {
    m_itLatest = m_queue.end();
    m_itLastWritten = m_queue.end();
    m_itBest = m_queue.end();
    m_itLastPicked = m_queue.end();
    m_pDisplayed = &m_itLatest;
    m_dOutputTime = 0.0;
    m_dIdealTime = 0.0;
    m_nFrameCount = 0;
    m_bManipulate = 0;
    m_bMarkCrossings = 0;
    m_dPlaybackRate = 24.0;
    m_dCaptureRate = 6.0;
    m_dInputRate = 29.97;
    m_dMinPixval = 100.0;
    m_dBrightness = 165.0;
    DeriveTiming();
}

void CFrameProcessor::DeriveTiming() {
    m_dTimeScale = m_dCaptureRate / (m_dPlaybackRate * m_dInputRate);
    m_dFrameDuration = 1.0 / varnel::kOutputFrameRate;
    // Below 3 frames a second the rounding would give an empty span.
    m_nWindowSpan = std::max(1, static_cast<int>(m_dInputRate / m_dCaptureRate + 0.5));
    m_nWindowOffset = (m_nWindowSpan + 1) / 2;
    // When every input frame is worth an output frame or more (the speed-up times the input rate
    // at most the output rate), there is nothing to choose between: each frame is a window of its
    // own, picked as it comes, and the ideal clock repeats it where the output needs more.
    const bool bEveryFrame =
        m_nWindowSpan == 1 &&
        m_dPlaybackRate / m_dCaptureRate * m_dInputRate <= varnel::kOutputFrameRate * (1.0 + 1e-9);
    m_nWindowLength = bEveryFrame ? 1 : m_nWindowSpan + 1;
    // The queue of the fourfold speed-up at this input rate: within it nothing leaves early.
    const double dCaptureAtFour = m_dPlaybackRate / 4.0;
    const int nSpanAtFour = std::max(1, static_cast<int>(m_dInputRate / dCaptureAtFour + 0.5));
    m_nKeptRecent = (nSpanAtFour + 1) / 2 + nSpanAtFour + 1;
    ConfigureSceneTarget();
}

void CFrameProcessor::SetSpeedup(double dSpeedup) {
    if (!(dSpeedup >= kMinSpeedup && dSpeedup <= kMaxSpeedup)) return;
    m_dCaptureRate = m_dPlaybackRate / dSpeedup;
    DeriveTiming();
}

void CFrameProcessor::SetDeflicker(double dSpanSeconds) {
    m_dSceneSpan = dSpanSeconds > 0.0 ? std::min(dSpanSeconds, kMaxSceneSpan) : 0.0;
    ConfigureSceneTarget();
}

void CFrameProcessor::ConfigureSceneTarget() {
    // Picks held for the old curve are written with it; scheduling goes on after the last.
    while (FlushHeld()) {
    }
    m_itLastPicked = m_itLastWritten;
    // The deflicker's scheduling may have released the entry that was best so far.
    m_itBest = ClosestFrom(WindowStart());
    m_pSceneTarget.reset();
    m_cutDetector = CCutDetector();
    if (m_dSceneSpan > 0.0) {
        m_pSceneTarget = std::make_unique<CSceneTarget>(m_dSceneSpan, m_dInputRate,
                                                        kLookAheadWindows * m_nWindowSpan);
    }
}

void CFrameProcessor::SetInputRate(double dRate) {
    if (!(dRate > 0.0 && dRate <= kMaxInputRate)) return;
    m_dInputRate = dRate;
    DeriveTiming();
}

void CFrameProcessor::SetParameters(double dBrightness, double dMinPixval, double dDarkFactor) {
    m_dBrightness = dBrightness;
    m_dMinPixval = dMinPixval;
    m_dDarkFactor = dDarkFactor;
}

void CFrameProcessor::SetManipulation(int nState) { m_bManipulate = nState == 1 ? 1 : 0; }

void CFrameProcessor::SetMarkCrossings(int nState) { m_bMarkCrossings = nState == 1 ? 1 : 0; }

void CFrameProcessor::SelectDisplay(int nState) {
    m_pDisplayed = nState == 1 ? &m_itLastWritten : &m_itLatest;
}

double CFrameProcessor::GetStatistics(double* pdAfter, double* pdDarkFraction) {
    const bool bShown = *m_pDisplayed != m_queue.end();
    if (pdAfter != nullptr) *pdAfter = bShown ? (*m_pDisplayed)->dAfter : 0.0;
    if (pdDarkFraction != nullptr) *pdDarkFraction = bShown ? (*m_pDisplayed)->dDarkFraction : 0.0;
    return bShown ? (*m_pDisplayed)->dBefore : 0.0;
}

double CFrameProcessor::GetTarget() const {
    return *m_pDisplayed != m_queue.end() ? (*m_pDisplayed)->dTarget : 0.0;
}

FrameFigures CFrameProcessor::FiguresOf(Cursor itEntry) const {
    if (itEntry == m_queue.end()) return {};
    return {itEntry->nFrameNumber, itEntry->dBefore, itEntry->dAfter, itEntry->dDarkFraction,
            itEntry->dTarget};
}

void CFrameProcessor::ProcessSample(INSSBuffer* pSample, const BITMAPINFOHEADER* pFormat,
                                    BITMAPINFOHEADER** ppDisplayFormat, BYTE** ppDisplayPixels) {
    BITMAPINFOHEADER header{};
    if (pFormat != nullptr) header = *pFormat;

    // The pixels are used only when the frame has some and the sample holds every row of it at
    // the stride; otherwise the entry is a frame without pixels.
    BYTE* pPixels = nullptr;
    const FrameLayout layout(&header);
    if (pSample != nullptr && !layout.Empty()) {
        BYTE* pBuffer = nullptr;
        DWORD dwLength = 0;
        pSample->GetBuffer(&pBuffer);
        if (pBuffer != nullptr && SUCCEEDED(pSample->GetLength(&dwLength)) &&
            layout.ByteCount() <= dwLength) {
            pPixels = pBuffer;
        }
    }

    // The thumbnail is taken before the crossings are painted.
    CThumbnail thumbnail;
    if (m_pSceneTarget && pPixels != nullptr) thumbnail = CThumbnail(&header, pPixels);
    double dDarkFraction = 0.0;
    const double dBefore =
        MeasureFrame(&header, pPixels, m_pSceneTarget != nullptr, &dDarkFraction);
    const double dAfter = 0.0;
    m_nFrameCount += 1;
    double dTarget = m_dBrightness;
    if (m_pSceneTarget) {
        // A frame without pixels has no brightness to follow.
        if (pPixels != nullptr) FollowScene(thumbnail, dBefore);
        if (!m_pSceneTarget->Empty()) dTarget = m_pSceneTarget->LevelAt(m_nFrameCount);
    }
    // Measuring painted the markers into the pixels, if they are on.
    m_queue.push_back(FrameEntry{pSample, nullptr, pPixels, dBefore, dAfter, dDarkFraction,
                                 m_nFrameCount, header, dTarget, !m_bMarkCrossings});
    m_queue.back().pFormat = &m_queue.back().header;
    m_itLatest = std::prev(m_queue.end());

    ScheduleOutput();

    const Cursor itShown = *m_pDisplayed;
    const bool bShown = itShown != m_queue.end() && itShown->pPixels != nullptr;
    if (ppDisplayFormat != nullptr) *ppDisplayFormat = bShown ? itShown->pFormat : nullptr;
    if (ppDisplayPixels != nullptr) *ppDisplayPixels = bShown ? itShown->pPixels : nullptr;
}

double CFrameProcessor::Luminance(const BYTE* pPixel) {
    return (0.30 * static_cast<double>(pPixel[2]) + 0.59 * static_cast<double>(pPixel[1])) +
           0.11 * static_cast<double>(pPixel[0]);
}

double CFrameProcessor::AnalyseFrame(const BITMAPINFOHEADER* pFormat, BYTE* pPixels,
                                     double* pdDarkFraction) {
    return MeasureFrame(pFormat, pPixels, false, pdDarkFraction);
}

double CFrameProcessor::MeasureFrame(const BITMAPINFOHEADER* pFormat, BYTE* pPixels,
                                     bool bAllPixels, double* pdDarkFraction) {
    if (pdDarkFraction != nullptr) *pdDarkFraction = 0.0;
    const FrameLayout layout(pFormat);
    if (layout.Empty() || pPixels == nullptr) return 0.0;
    uint64_t nCount = 0;
    double dAllSum = 0.0;
    double dSum = 0.0;
    if (!m_bMarkCrossings) {
        // The same sums, bit for bit, row by row without a branch per pixel. The vector loads
        // may read a row's padding, but never past the last row's pixels.
        CLuminanceSums sums(m_dMinPixval, bAllPixels);
        const size_t nRowBytes = static_cast<size_t>(layout.nWidth) * 3;
        for (LONG nRow = 0; nRow < layout.nHeight; ++nRow) {
            sums.AddRow(layout.Row(pPixels, nRow), static_cast<size_t>(layout.nWidth),
                        nRow + 1 < layout.nHeight ? layout.dwStride : nRowBytes);
        }
        dSum = sums.Bright();
        dAllSum = sums.All();
        nCount = sums.BrightCount();
    } else if (bAllPixels) {
        dSum = AnalyseMarking<true>(layout, pPixels, m_dMinPixval, &nCount, &dAllSum);
    } else {
        dSum = AnalyseMarking(layout, pPixels, m_dMinPixval, &nCount);
    }
    const double dTotal = static_cast<double>(layout.PixelCount());
    if (pdDarkFraction != nullptr) {
        *pdDarkFraction = (dTotal - static_cast<double>(nCount)) / dTotal;
    }
    if (bAllPixels) return dAllSum / dTotal;
    return nCount >= 1 ? dSum / static_cast<double>(nCount) : 0.0;
}

double CFrameProcessor::TargetOf(const FrameEntry& entry) const {
    return m_pSceneTarget ? entry.dTarget : m_dBrightness;
}

int CFrameProcessor::WindowStart() const {
    // The first frame before the first write, else m_nWindowOffset frames after the one written
    // last.
    return m_itLastWritten == m_queue.end() ? 1 : m_itLastWritten->nFrameNumber + m_nWindowOffset;
}

void CFrameProcessor::FollowScene(const CThumbnail& thumbnail, double dBefore) {
    const CCutDetector::Step step = m_cutDetector.Add(thumbnail);
    m_pSceneTarget->Add(m_nFrameCount, dBefore, step.dGainStep);
    if (step.bPreviousStartsShot && m_nLastSceneFrame > 0) {
        m_pSceneTarget->StartShot(m_nLastSceneFrame);
        m_nLastCut = m_nLastSceneFrame;
    }
    m_nLastSceneFrame = m_nFrameCount;
}

double CFrameProcessor::DistanceToTarget(const FrameEntry& entry) const {
    return std::fabs(entry.dBefore - TargetOf(entry));
}

CFrameProcessor::Cursor CFrameProcessor::ClosestFrom(int nStart) {
    // Ties go to the earliest.
    Cursor itBest = m_queue.end();
    for (Cursor it = m_queue.begin(); it != m_queue.end(); ++it) {
        if (it->nFrameNumber < nStart) continue;
        if (itBest == m_queue.end() || DistanceToTarget(*it) < DistanceToTarget(*itBest)) {
            itBest = it;
        }
    }
    return itBest;
}

void CFrameProcessor::ReleaseStaleEntries() {
    const int nOldestKept = m_itLatest->nFrameNumber - m_nKeptRecent + 1;
    for (Cursor it = m_queue.begin(); it != m_queue.end() && it->nFrameNumber < nOldestKept;) {
        if (it == m_itLastWritten || it == m_itBest) {
            ++it;
            continue;
        }
        ReleaseEntry(*it);
        it = m_queue.erase(it);
    }
}

void CFrameProcessor::ScheduleOutput() {
    if (m_pSceneTarget) {
        ScheduleWithLookAhead();
        return;
    }
    const int nStart = WindowStart();
    if (m_itLatest->nFrameNumber >= nStart &&
        (m_itBest == m_queue.end() ||
         DistanceToTarget(*m_itLatest) < DistanceToTarget(*m_itBest))) {
        m_itBest = m_itLatest;
    }
    if (m_itLatest->nFrameNumber - nStart < m_nWindowLength - 1) {
        ReleaseStaleEntries();
        return;
    }

    // The closest frame of the window, against the target as it stands now. Every frame of the
    // window is still queued up to the fourfold speed-up; beyond it, those that lost to the best
    // so far have gone.
    const Cursor itBest = ClosestFrom(nStart);

    ManipulateFrame(itBest);

    const int nStep = m_itLastWritten != m_queue.end()
                          ? itBest->nFrameNumber - m_itLastWritten->nFrameNumber
                          : itBest->nFrameNumber;
    m_dIdealTime += static_cast<double>(nStep) * m_dTimeScale;
    m_dOutputTime += m_dFrameDuration;
    m_itLastWritten = itBest;
    WriteEntry(itBest, m_dOutputTime);
    if (m_dIdealTime - m_dOutputTime > m_dFrameDuration) {
        m_dOutputTime += m_dFrameDuration;
        WriteEntry(itBest, m_dOutputTime);
    }

    while (m_queue.begin() != m_itLastWritten) {
        ReleaseEntry(m_queue.front());
        m_queue.pop_front();
    }
    // Frames already queued may open the next window.
    m_itBest = ClosestFrom(WindowStart());
}

void CFrameProcessor::ScheduleWithLookAhead() {
    // The window starts at the first frame before the first pick, else m_nWindowOffset frames
    // after the entry picked last.
    const int nStart =
        m_itLastPicked == m_queue.end() ? 1 : m_itLastPicked->nFrameNumber + m_nWindowOffset;
    if (m_itLatest->nFrameNumber - nStart < m_nWindowLength - 1) {
        ReleaseStaleCandidates(nStart);
        return;
    }

    // The frame with the least flicker; frames without pixels only when no frame has any, and
    // ties go to the earliest.
    Cursor itBest = m_queue.end();
    double dBestFlicker = HUGE_VAL;
    for (Cursor it = m_queue.begin(); it != m_queue.end(); ++it) {
        if (it->nFrameNumber < nStart) continue;
        if (itBest == m_queue.end()) itBest = it;
        if (it->pPixels == nullptr) continue;
        const double dFlicker = std::fabs(m_pSceneTarget->FlickerAt(it->nFrameNumber));
        if (dFlicker < dBestFlicker) {
            itBest = it;
            dBestFlicker = dFlicker;
        }
    }

    // The output times, by the clock that schedules without deflicker.
    const int nStep = m_itLastPicked != m_queue.end()
                          ? itBest->nFrameNumber - m_itLastPicked->nFrameNumber
                          : itBest->nFrameNumber;
    m_dIdealTime += static_cast<double>(nStep) * m_dTimeScale;
    m_dOutputTime += m_dFrameDuration;
    HeldPick pick{itBest, {m_dOutputTime, 0.0}, 1};
    if (m_dIdealTime - m_dOutputTime > m_dFrameDuration) {
        m_dOutputTime += m_dFrameDuration;
        pick.dTimes[pick.nTimes++] = m_dOutputTime;
    }
    m_itLastPicked = itBest;

    // Only the picks and the entry written last stay before the new pick.
    for (Cursor itEntry = m_queue.begin(); itEntry != itBest;) {
        const bool bHeld = std::ranges::any_of(
            m_held, [&](const HeldPick& held) { return held.itEntry == itEntry; });
        if (bHeld || itEntry == m_itLastWritten) {
            ++itEntry;
            continue;
        }
        ReleaseEntry(*itEntry);
        itEntry = m_queue.erase(itEntry);
    }
    m_held.push_back(pick);
    if (static_cast<int>(m_held.size()) > kLookAheadWindows) WriteHeld();
}

void CFrameProcessor::ReleaseStaleCandidates(int nStart) {
    // Up to the fourfold speed-up every frame of a window is still queued when it completes;
    // beyond it, of the frames older than the m_nKeptRecent latest only the one with the least
    // flicker as it is estimated now stays a candidate.
    const int nOldestKept = m_itLatest->nFrameNumber - m_nKeptRecent + 1;
    Cursor itKept = m_queue.end();
    double dKeptFlicker = HUGE_VAL;
    for (Cursor it = m_queue.begin(); it != m_queue.end() && it->nFrameNumber < nOldestKept; ++it) {
        if (it->nFrameNumber < nStart || it->pPixels == nullptr) continue;
        const double dFlicker = std::fabs(m_pSceneTarget->FlickerAt(it->nFrameNumber));
        if (itKept == m_queue.end() || dFlicker < dKeptFlicker) {
            itKept = it;
            dKeptFlicker = dFlicker;
        }
    }
    for (Cursor it = m_queue.begin(); it != m_queue.end() && it->nFrameNumber < nOldestKept;) {
        const bool bHeld =
            std::ranges::any_of(m_held, [&](const HeldPick& held) { return held.itEntry == it; });
        if (bHeld || it == itKept || it == m_itLastWritten || it == m_itLastPicked) {
            ++it;
            continue;
        }
        ReleaseEntry(*it);
        it = m_queue.erase(it);
    }
}

void CFrameProcessor::WriteHeld() {
    const HeldPick pick = m_held.front();
    m_held.pop_front();
    if (m_pSceneTarget && !m_pSceneTarget->Empty() && pick.itEntry->pPixels != nullptr) {
        pick.itEntry->dTarget = m_pSceneTarget->LevelAt(pick.itEntry->nFrameNumber);
    }
    ManipulateFrame(pick.itEntry);
    m_itLastWritten = pick.itEntry;
    for (int i = 0; i < pick.nTimes; ++i) WriteEntry(pick.itEntry, pick.dTimes[i]);
    while (m_queue.begin() != m_itLastWritten) {
        ReleaseEntry(m_queue.front());
        m_queue.pop_front();
    }
}

bool CFrameProcessor::FlushHeld() {
    if (m_held.empty()) return false;
    WriteHeld();
    return true;
}

void CFrameProcessor::ManipulateFrame(Cursor itEntry) { ManipulateEntry(*itEntry); }

void CFrameProcessor::ManipulateEntry(FrameEntry& entry) {
    if (!m_bManipulate) return;
    if (m_pSceneTarget) {
        ScaleToSceneTarget(entry);
        return;
    }
    entry.dAfter = 0.0;
    uint64_t n = 0;
    const double dReference = entry.dBefore - entry.dDarkFraction * m_dDarkFactor;
    const double dGain = m_dBrightness / dReference;

    // A second pass over the pixels as they now stand; it only repaints the markers.
    double dDarkFraction = 0.0;
    const double dMeasured = AnalyseFrame(entry.pFormat, entry.pPixels, &dDarkFraction);
    if (m_bMarkCrossings) entry.bPixelsAsRead = false;

    const FrameLayout layout(entry.pFormat);
    if (layout.Empty() || entry.pPixels == nullptr) return;
    // No sound gain exists for a reference of 0 or less (or not a number): the frame stays.
    if (!(dReference > 0.0) || !std::isfinite(dGain)) {
        entry.dAfter = dMeasured;
        return;
    }

    const double dSum = ApplyGain<false>(entry, dGain, &n);
    if (n >= 1) entry.dAfter = dSum / static_cast<double>(n);
}

void CFrameProcessor::ScaleToSceneTarget(FrameEntry& entry) {
    entry.dAfter = 0.0;
    // Only the markers would change in a second pass over the pixels.
    if (m_bMarkCrossings) {
        AnalyseFrame(entry.pFormat, entry.pPixels, nullptr);
        entry.bPixelsAsRead = false;
    }
    const FrameLayout layout(entry.pFormat);
    if (layout.Empty() || entry.pPixels == nullptr) return;

    // How much each byte value weighs in the frame's luminance.
    uint64_t counts[3][256] = {};
    for (LONG nRow = 0; nRow < layout.nHeight; ++nRow) {
        const BYTE* p = layout.Row(entry.pPixels, nRow);
        for (LONG x = 0; x < layout.nWidth; ++x, p += 3) {
            ++counts[0][p[0]];
            ++counts[1][p[1]];
            ++counts[2][p[2]];
        }
    }
    double weights[256];
    double dLevel = 0.0;
    for (int v = 0; v < 256; ++v) {
        weights[v] =
            (0.30 * static_cast<double>(counts[2][v]) + 0.59 * static_cast<double>(counts[1][v])) +
            0.11 * static_cast<double>(counts[0][v]);
        dLevel += weights[v] * static_cast<double>(v);
    }
    const double dPixels = static_cast<double>(layout.PixelCount());
    // A black frame has no picture to brighten: it stays as it is.
    if (!(dLevel > 0.0)) {
        entry.dAfter = dLevel / dPixels;
        return;
    }
    const double dGain = std::min(GainForMean(weights, dPixels, entry.dTarget), kMaxSceneGain);
    uint64_t n = 0;
    entry.dAfter = ApplyGain<true>(entry, dGain, &n) / static_cast<double>(n);
}

template <bool kAllPixels>
double CFrameProcessor::ApplyGain(FrameEntry& entry, double dGain, uint64_t* pnCount) {
    // scaled[v] = (v + 0.5) * gain, the same product the scaling forms for a byte v.
    double scaled[256];
    for (int v = 0; v < 256; ++v) scaled[v] = (static_cast<double>(v) + 0.5) * dGain;

    const FrameLayout layout(entry.pFormat);
    double dSum = 0.0;
    uint64_t n = 0;
    const double dMinPixval = m_dMinPixval;
    entry.bPixelsAsRead = false;
    for (LONG nRow = 0; nRow < layout.nHeight; ++nRow) {
        BYTE* p = layout.Row(entry.pPixels, nRow);
        for (LONG x = 0; x < layout.nWidth; ++x, p += 3) {
            const bool bCounted = kAllPixels || CLuminanceTables::Of(p) > dMinPixval;
            p[0] = ScaledByte(scaled[p[0]] + RandomUnit());
            p[1] = ScaledByte(scaled[p[1]] + RandomUnit());
            p[2] = ScaledByte(scaled[p[2]] + RandomUnit());
            dSum += bCounted ? CLuminanceTables::Of(p) : 0.0;
            n += bCounted;
        }
    }
    *pnCount = n;
    return dSum;
}

DWORD CFrameProcessor::NextRandomDraw() {
    m_dwRandomState = m_dwRandomState * kRandomMultiplier + kRandomIncrement;
    return m_dwRandomState >> 17;
}

double CFrameProcessor::RandomUnit() {
    return static_cast<double>(NextRandomDraw()) / static_cast<double>(kRandomMax);
}

void CFrameProcessor::WriteEntry(Cursor itEntry, double dTime) {
    if (m_pWriter == nullptr || itEntry->pSample == nullptr) return;
    m_pWriter->WriteFrame(itEntry->pSample, dTime, itEntry->bPixelsAsRead);
}

void CFrameProcessor::ReleaseEntry(FrameEntry& entry) {
    if (entry.pSample != nullptr) {
        entry.pSample->Release();
        entry.pSample = nullptr;
    }
}
