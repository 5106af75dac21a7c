// CFrameProcessor: measures every frame, picks one per window, manipulates it and writes it.
#pragma once

#include <cstdint>
#include <list>

#include "platform/wmf/wmsdk.h"

class CMediaWriter;

// One queued frame. The entry owns one reference to pSample, released when the entry leaves the
// queue (or when the processor is destroyed). pFormat points at the entry's own copy of the
// frame header (header), so a queued frame outlives the reader's header of its input.
struct FrameEntry {
    INSSBuffer* pSample;
    BITMAPINFOHEADER* pFormat;
    BYTE* pPixels;
    double dBefore;
    double dAfter;
    double dDarkFraction;
    int nFrameNumber;
    BITMAPINFOHEADER header;
};

// Receives every frame read (ProcessSample takes over the caller's reference), keeps at most 9
// in its queue, picks out of each window of 6 the frame closest to the target brightness,
// optionally scales its pixels towards the target, and hands it once or twice to the writer.
// The writer is not owned. Samples still queued at destruction are released.
class CFrameProcessor {
public:
    explicit CFrameProcessor(CMediaWriter* pWriter);
    ~CFrameProcessor();
    CFrameProcessor(const CFrameProcessor&) = delete;
    CFrameProcessor& operator=(const CFrameProcessor&) = delete;

    void SetParameters(double dBrightness, double dMinPixval, double dDarkFactor);
    void SetManipulation(int nState);
    void SetMarkCrossings(int nState);
    void SelectDisplay(int nState);
    void ProcessSample(INSSBuffer* pSample, BITMAPINFOHEADER* pFormat,
                       BITMAPINFOHEADER** ppDisplayFormat, BYTE** ppDisplayPixels);
    double GetStatistics(double* pdAfter, double* pdDarkFraction);

    // Measurement, public so that benchmarks and tests can reach it directly.
    double AnalyseFrame(const BITMAPINFOHEADER* pFormat, BYTE* pPixels, double* pdDarkFraction);
    static double Luminance(const BYTE* pPixel);

private:
    using EntryList = std::list<FrameEntry>;
    using Cursor = EntryList::iterator;

    void LoadDefaults();
    void DeriveTiming();
    void ScheduleOutput();
    void ManipulateFrame(Cursor itEntry);
    double RandomUnit();
    void WriteEntry(Cursor itEntry, double dTime);

    EntryList m_queue;
    Cursor m_itLatest;
    Cursor m_itLastWritten;
    Cursor* m_pDisplayed;
    CMediaWriter* m_pWriter;
    int m_nFrameCount;
    double m_dPlaybackRate;
    double m_dCaptureRate;
    double m_dInputRate;
    double m_dBrightness;
    int m_bManipulate;
    int m_bMarkCrossings;
    double m_dMinPixval;
    double m_dDarkFactor;
    int m_nWindowOffset;
    int m_nWindowSpan;
    double m_dTimeScale;
    double m_dFrameDuration;
    double m_dIdealTime;
    double m_dOutputTime;
    uint32_t m_nRandomState;
};
