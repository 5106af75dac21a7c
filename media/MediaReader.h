// CMediaReader: the input file, read forward one decoded video frame at a time.
#pragma once

#include <memory>

#include "platform/wmf/wmsdk.h"

// Wraps one IWMSyncReader around the input file.
//
// Ownership: the reader holds one reference each to the sync reader, the input profile and the
// video stream's media properties, and owns the media type buffer; Close releases them (unless
// IWMSyncReader::Close fails, which keeps everything). A sample handed out by GetNextFrame
// belongs to the caller, who releases it exactly once; handing out the same sample again before
// the next NextFrameNumber transfers no second reference. The reader never releases a sample.
//
// Every operation that calls the runtime returns the runtime's status; each failure is recorded
// through RecordLastError with a fixed message before it is returned.
class CMediaReader {
public:
    CMediaReader();
    ~CMediaReader();
    CMediaReader(const CMediaReader&) = delete;
    CMediaReader& operator=(const CMediaReader&) = delete;

    // Converts the narrow name (byte-transparent, 1000 wide characters at most with the
    // terminator), closes whatever is open, then opens. A name that does not fit is refused
    // with E_INVALIDARG and "Could not open input file".
    HRESULT OpenByName(const char* pszName);
    HRESULT Open(const WCHAR* pwszPath);
    HRESULT Close();
    // The open file's profile, owned by the reader, valid until the next Close or Open.
    IWMProfile* GetProfile() const { return m_pInputProfile; }

    int NextFrameNumber();
    int GetFrameNumber();
    double GetFrameTime();
    // Hands out the current sample (reading it first when stale) and the video header.
    HRESULT GetNextFrame(INSSBuffer** ppSample, BITMAPINFOHEADER** ppFormat);

    // Figures of the current sample, for front ends that report them.
    double GetFrameRate() const { return m_dFrameRate; }
    double GetDuration() const { return m_dDuration; }
    WORD GetVideoStreamNumber() const { return m_wVideoStream; }

private:
    HRESULT FindVideoStream();
    HRESULT ReadNextSample();

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
};
