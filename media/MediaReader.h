// SPDX-License-Identifier: GPL-3.0-or-later
// CMediaReader: the input file, read forward one decoded video frame at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/wmf/wmsdk.h"

// Wraps one IWMSyncReader around the input file and keeps the frame counter beside the order in
// which the video stream's samples arrive.
//
// Ownership: the reader holds one reference each to the sync reader, the input profile and the
// video stream's media properties, and owns the media type buffer (m_pVideoInfo points into
// it); Close releases them, unless IWMSyncReader::Close fails, which keeps everything. A sample
// handed out by GetNextFrame belongs to the caller, who releases it exactly once; handing out the
// same sample again before the next NextFrameNumber transfers no second reference. A sample that
// was read (by GetFrameNumber or GetFrameTime) but never handed out is still the reader's: it is
// released when the next sample replaces it, when a file is opened and on destruction, so no
// reference is lost.
//
// Status: every operation that calls the runtime returns the status of its last runtime call;
// each failure is recorded through RecordLastError with a fixed message before it is returned.
// Reading while no file with a video stream is open fails with NS_E_INVALID_REQUEST without
// calling the runtime; the end of the input is the runtime's NS_E_NO_MORE_SAMPLES. Both are
// recorded as "Could not get video sample".
class CMediaReader {
  public:
    CMediaReader();
    ~CMediaReader();
    CMediaReader(const CMediaReader&) = delete;
    CMediaReader& operator=(const CMediaReader&) = delete;

    // Converts the narrow name (byte-transparent, 1000 wide characters at most with the
    // terminator), closes whatever is open, then opens. A name that does not fit is refused
    // with E_INVALIDARG and "Could not open input file", after the close.
    HRESULT OpenByName(const char* pszName);
    HRESULT Open(const WCHAR* pwszPath);
    HRESULT Close();
    // The open file's profile, owned by the reader, valid until the next Close or Open.
    IWMProfile* GetProfile() const { return m_pInputProfile; }

    // Advances the counter (it stops at the largest int) and marks the sample stale.
    int NextFrameNumber();
    // NextFrameNumber nCount times at once (none for nCount of 0 or less), reading nothing: the
    // frames a seek passes after the input has ended.
    int SkipFrameNumbers(int64_t nCount);
    // These read the sample of the current frame first when it is stale.
    int GetFrameNumber();
    double GetFrameTime();
    // Hands out the current sample (null after a failed read) and the video header (null when
    // none is known); returns the read's status, or S_OK when nothing had to be read.
    HRESULT GetNextFrame(INSSBuffer** ppSample, BITMAPINFOHEADER** ppFormat);

    // The current sample's duration in seconds, and the open video stream's number (0 when
    // none), for front ends that report them.
    double GetDuration() const { return m_dDuration; }
    WORD GetVideoStreamNumber() const { return m_wVideoStream; }
    // How many frames the open input is expected to hold, for progress displays: the file's
    // duration as its header states it (g_wszWMDuration of stream 0) over the video stream's
    // AvgTimePerFrame, rounded. 0 when either is unknown, a call fails or no video stream is
    // open. Reads no sample and records nothing.
    int GetExpectedFrameCount() const;
    // The video stream's AvgTimePerFrame in 100-ns units; 0 when unknown or no input is open.
    REFERENCE_TIME GetVideoFrameTime() const;

  private:
    HRESULT FindVideoStream();
    HRESULT ReadNextSample();
    // Releases m_pSample if the reader still owns it, and forgets it.
    void DropUnclaimedSample();
    void FreeMediaType();

    IWMSyncReader* m_pSyncReader;
    IWMProfile* m_pInputProfile;
    IWMMediaProps* m_pVideoProps;
    std::unique_ptr<BYTE[]> m_pMediaType;
    WMVIDEOINFOHEADER* m_pVideoInfo;
    INSSBuffer* m_pSample;
    WORD m_wVideoStream;
    BOOL m_bCompressed;
    BOOL m_bSampleCurrent;
    DWORD m_dwOutputNum;
    DWORD m_dwSampleFlags;
    int m_nFrame;
    double m_dFrameTime;
    double m_dFrameRate;
    double m_dDuration;
    // Whether m_pSample is a reference still held by the reader (read, not yet handed out).
    BOOL m_bSampleUnclaimed;
};
