// SPDX-License-Identifier: GPL-3.0-or-later
// CFrameProcessor: measures every frame, picks one per window, manipulates it and writes it.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>

#include "platform/wmf/wmsdk.h"
#include "processor/CutDetector.h"
#include "processor/SceneTarget.h"

class CMediaWriter;

// One queued frame. The entry owns one reference to pSample (null only when the caller handed
// over no sample), released exactly once when the entry leaves the queue or when the processor
// is destroyed. pFormat points at the entry's own copy of the frame header (header), so a
// queued frame outlives the reader's header of its input; entries live in a std::list and never
// move, so that pointer stays valid, but a copied entry would point into the original.
// pPixels points into the sample; it is null when the header describes no pixels or the sample
// cannot hold the frame it describes (such an entry is measured and manipulated as a frame
// without pixels, and is not displayed, but its sample is still written when picked).
// dTarget is the entry's target: without deflicker the target brightness as it stood when the
// entry was queued (a window is picked against the target as it stands at the pick); with
// deflicker the entry's level as it stood when the entry was queued, and for a picked entry, its
// level when it was written (the level its gain aimed at when it is scaled). bPixelsAsRead: no
// marker or gain has touched the pixels since the reader gave them.
struct FrameEntry {
    INSSBuffer* pSample;
    BITMAPINFOHEADER* pFormat;
    BYTE* pPixels;
    double dBefore;
    double dAfter;
    double dDarkFraction;
    int nFrameNumber;
    BITMAPINFOHEADER header;
    double dTarget = 0.0;
    bool bPixelsAsRead = true;
};

// The figures of one queued frame as the processor holds them (see FrameEntry). nNumber counts
// the frames processed, 1 for the first; 0 stands for no frame (and all figures 0.0).
struct FrameFigures {
    int nNumber = 0;
    double dBefore = 0.0;
    double dAfter = 0.0;
    double dDarkFraction = 0.0;
    double dTarget = 0.0;
};

// Receives every frame read (ProcessSample takes over the caller's reference), picks out of each
// window of 6 (at the speed-up of 4) the frame closest to the target brightness, optionally
// scales its pixels towards the target, and hands it once or twice to the writer at times of its
// own clock. The writer is not owned and outlives the processor; the outcome of a write is not
// examined. Samples still queued at destruction are released.
//
// Speed-up (SetSpeedup, 4 unless set): X makes the capture rate 24 / X picks a second of input,
// the window span (input rate x X / 24 + 0.5) truncated frames (at least 1), and the ideal clock
// advance 1 / (X x input rate) seconds per input frame, so the output lasts the input / X. Where
// each input frame is worth an output frame or more (X x input rate at most the output rate, X = 1
// at the default rate), every frame is a window of its own.
//
// Memory: the queue runs from the frame written last to the frame queued last, and a window is
// picked as soon as its last frame is queued. Up to X = 4 it holds at most window offset + window
// span + 1 frames (their samples): 9 at the default input rate (the window of 6, the frame written
// last and the 2 between them), 16 at 60 frames a second. Memory does not grow with X: beyond 4
// the queue keeps the frames the fourfold speed-up would hold at this input rate, and of older
// ones only the frame written last and the closest of the window so far (so a frame that lost to
// the closest so far is not considered again, even where the next window takes in its place).
// Deflicker adds at most kLookAheadWindows picks held before they are written. Nothing else keeps
// a frame.
//
// Frames are 24-bit, blue-green-red, rows padded to the DIB stride; every pixel operation walks
// biWidth x biHeight pixels row by row in memory order and never touches padding bytes. A
// header with a width or height of 0 or less describes a frame without pixels.
//
// Deflicker (off until SetDeflicker turns it on) replaces the one target brightness with the
// level of each frame's shot (CSceneTarget, fed with the figures of every frame queued, and
// CCutDetector, fed with its thumbnail, taken before the crossings are painted). Its brightness
// is what a viewer sees, the mean luminance of all pixels: dBefore and dAfter hold that measure
// while it is on, and the threshold only decides the dark fraction and the crossings. Each
// window's pick is the frame with the least estimated flicker; its output times are fixed then,
// by the same clock as without deflicker. The pick is then held for kLookAheadWindows more
// windows, so that its level is fitted over the frames on both sides of it; only then is it
// manipulated (scaled so that its expected mean, dither and clipping at 255 counted, meets its
// level, never by more than kMaxSceneGain) and written. So deflicker delays the writes by
// kLookAheadWindows windows (kLookAheadWindows x rate / 6 frames of input, about 0.7 s) and
// holds up to kLookAheadWindows picked samples besides the queue; the frames between picks are
// released when the next pick is made. FlushHeld writes the held picks at the end of the input;
// turning deflicker off or changing the rate writes them at once. With deflicker off every
// figure, pick and pixel is what it would be without it, and nothing is held.
class CFrameProcessor {
  public:
    explicit CFrameProcessor(CMediaWriter* pWriter);
    ~CFrameProcessor();
    CFrameProcessor(const CFrameProcessor&) = delete;
    CFrameProcessor& operator=(const CFrameProcessor&) = delete;

    // The three values apply from the next frame measured, picked or manipulated on.
    void SetParameters(double dBrightness, double dMinPixval, double dDarkFactor);
    // Each state turns its switch on when it is exactly 1 (a check box's checked state).
    void SetManipulation(int nState);
    void SetMarkCrossings(int nState);
    // 1: display and statistics follow the entry written last; else the entry queued last.
    void SelectDisplay(int nState);
    // Deflicker with a smoothing span of that many seconds of input (at most kMaxSceneSpan),
    // from the next frame queued; 0 or less (or not a number) turns it off. Turning it on starts
    // a new scene curve.
    void SetDeflicker(double dSpanSeconds);
    static constexpr double kMaxSceneGain = 4.0;
    // The input's frames per second (the default rate until set), for inputs of another rate: the
    // window spans rate / capture rate frames, rounded (at least 1), so that one frame is picked
    // per 1 / capture rate s of input (1/6 s at the speed-up of 4), and the ideal clock advances
    // the input time consumed / the speed-up. The output's spacing stays that of the output rate. A
    // rate outside (0, 1000] is ignored. Set it before the first frame.
    void SetInputRate(double dRate);
    // The speed-up X, from kMinSpeedup to kMaxSpeedup (others are ignored); 4 until set, which
    // keeps every result of the window rule above. Set it before the first frame.
    void SetSpeedup(double dSpeedup);
    static constexpr double kMinSpeedup = 1.0;
    static constexpr double kMaxSpeedup = 1000.0;

    // Windows a deflicker pick is held before it is written.
    static constexpr int kLookAheadWindows = 4;
    // Manipulates and writes the oldest pick that deflicker holds; false when none is held.
    // Call it until it gives false at the end of the input, before the output is closed.
    bool FlushHeld();
    // The number of the last frame found to start a new shot (deflicker); 0 when none.
    int LastCutFrame() const { return m_nLastCut; }

    // Measures and queues the frame, then picks, manipulates and writes when a window is
    // complete. The display results are the displayed entry's own header copy and its pixels,
    // both valid until the entry leaves the queue; both are null while no entry is displayed
    // or the displayed entry has no pixels. Either out pointer may be null.
    void ProcessSample(INSSBuffer* pSample, const BITMAPINFOHEADER* pFormat,
                       BITMAPINFOHEADER** ppDisplayFormat, BYTE** ppDisplayPixels);
    // dBefore of the displayed entry, with its dAfter and dark fraction through the pointers
    // that are not null; 0.0 for all three while no entry is displayed.
    double GetStatistics(double* pdAfter, double* pdDarkFraction);
    // dTarget of the displayed entry; 0.0 while no entry is displayed.
    double GetTarget() const;
    // The frame queued last and the frame written last, whichever is displayed; a number of 0
    // while there is none. For observers that follow every frame (the brightness curves).
    FrameFigures GetLatestFigures() const { return FiguresOf(m_itLatest); }
    FrameFigures GetLastWrittenFigures() const { return FiguresOf(m_itLastWritten); }

    // Mean luminance of the pixels above the threshold; the share of pixels at or below it goes
    // to pdDarkFraction when not null. With marking on, paints threshold crossings in place.
    // A frame without pixels (or null pixels) gives 0.0 and a dark fraction of 0.0.
    double AnalyseFrame(const BITMAPINFOHEADER* pFormat, BYTE* pPixels, double* pdDarkFraction);
    // Y = (0.30 red + 0.59 green) + 0.11 blue of a blue-green-red pixel.
    static double Luminance(const BYTE* pPixel);

  private:
    friend class CFrameProcessorProbe;

    using EntryList = std::list<FrameEntry>;
    using Cursor = EntryList::iterator;

    FrameFigures FiguresOf(Cursor itEntry) const;
    void LoadDefaults();
    void DeriveTiming();
    void ConfigureSceneTarget();
    // AnalyseFrame, or with bAllPixels the mean luminance of all pixels (what a viewer sees)
    // with the same dark fraction and crossings; one walk of the pixels either way.
    double MeasureFrame(const BITMAPINFOHEADER* pFormat, BYTE* pPixels, bool bAllPixels,
                        double* pdDarkFraction);
    void ScheduleOutput();
    // Frame number where the current window starts.
    int WindowStart() const;
    double DistanceToTarget(const FrameEntry& entry) const;
    // The queued entry from frame nStart on closest to its target (ties to the earliest), or end.
    Cursor ClosestFrom(int nStart);
    // Releases the entries older than the m_nKeptRecent latest, but for the one written last and
    // the closest of the window so far.
    void ReleaseStaleEntries();
    // Deflicker's scheduling: the thumbnail and figures to the cut detector and the scene
    // target; the pick of a complete window, held; the write of the pick held longest.
    void FollowScene(const CThumbnail& thumbnail, double dBefore);
    void ScheduleWithLookAhead();
    // Beyond the fourfold speed-up: releases the old entries of an incomplete window that can no
    // longer be picked (see ReleaseStaleEntries).
    void ReleaseStaleCandidates(int nStart);
    void WriteHeld();
    double TargetOf(const FrameEntry& entry) const;
    void ManipulateFrame(Cursor itEntry);
    void ManipulateEntry(FrameEntry& entry);
    void ScaleToSceneTarget(FrameEntry& entry);
    // Scales every byte by dGain with the dither; the sum of the new luminance of the pixels
    // that were above the threshold (all pixels with kAllPixels), their count to *pnCount.
    template <bool kAllPixels>
    double ApplyGain(FrameEntry& entry, double dGain, uint64_t* pnCount);
    double RandomUnit();
    DWORD NextRandomDraw();
    void WriteEntry(Cursor itEntry, double dTime);
    void ReleaseEntry(FrameEntry& entry);

    EntryList m_queue;
    Cursor m_itLatest;
    Cursor m_itLastWritten;
    // The entry of the current window closest to its target so far; end while there is none.
    Cursor m_itBest;
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
    // Entries in a window: m_nWindowSpan + 1, or 1 when every frame is its own window.
    int m_nWindowLength;
    // How many of the latest entries stay queued in any case.
    int m_nKeptRecent;
    double m_dTimeScale;
    double m_dFrameDuration;
    double m_dIdealTime;
    double m_dOutputTime;
    // Deflicker: its span in seconds (0: off) and the scene curve while it is on.
    double m_dSceneSpan;
    std::unique_ptr<CSceneTarget> m_pSceneTarget;
    CCutDetector m_cutDetector;
    int m_nLastSceneFrame;
    int m_nLastCut;
    // Deflicker's picks not yet written, oldest first, with the output times fixed at the pick;
    // the window after the entry picked last.
    struct HeldPick {
        Cursor itEntry;
        double dTimes[2];
        int nTimes;
    };
    std::deque<HeldPick> m_held;
    Cursor m_itLastPicked;
    // State of the generator behind RandomUnit (a 32-bit linear congruential generator).
    DWORD m_dwRandomState;
};
