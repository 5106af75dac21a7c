// CMediaWriter: the output profile derived from the input's, and the output file.
#pragma once

#include "platform/wmf/wmsdk.h"

// Derives the output profile (a copy of the input's, reduced to its video streams, saving the
// input's profile as "lastprofile.xml" on the way) and writes picked frames to the output file.
//
// Ownership: holds one reference each to the profile manager, the output profile and the
// writer. The writer is created once, at the first commit of an output name, and reused.
// Samples given to WriteFrame stay the caller's; the runtime takes its own reference.
//
// Every operation returns the status of its last runtime call (S_OK when it made none); each
// failure is recorded through RecordLastError with a fixed message.
class CMediaWriter {
public:
    CMediaWriter();
    ~CMediaWriter();
    CMediaWriter(const CMediaWriter&) = delete;
    CMediaWriter& operator=(const CMediaWriter&) = delete;

    HRESULT DeriveOutputProfile(IWMProfile* pInputProfile);
    HRESULT OpenOutput(const char* pszName);
    HRESULT CreateWriter(const WCHAR* pwszName);
    HRESULT StartWriting();
    HRESULT CloseOutput();
    HRESULT WriteFrame(INSSBuffer* pSample, double dTime);

private:
    IWMProfileManager* m_pProfileManager;
    IWMProfile* m_pProfile;
    IWMWriter* m_pWMWriter;
    WORD m_wVideoStreamNumber;
    WCHAR m_wszFileName[1000];
};
