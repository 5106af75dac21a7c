// SPDX-License-Identifier: GPL-3.0-or-later
// The sync reader: IWMSyncReader over FFmpeg.
#pragma once

#include <memory>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/reader/ReadAhead.h"
#include "platform/wmf/shared/ComObject.h"
#include "platform/wmf/wmsdk.h"

namespace wmf {

// Reads one file at a time. Open builds the file's profile (QueryInterface for IID_IWMProfile
// hands it out with a new reference; it stays valid after Close for whoever holds it) and
// registers the file as open for reading until Close or destruction. Samples come from a
// CReadAhead; each one handed out carries one reference for the caller.
//
// Statuses: NS_E_INVALID_REQUEST for any call but Open and Close while no file is open, and for
// reading a stream that is not selected; NS_E_INVALID_STREAM for a stream number the file does
// not have (0 included, except as "any stream" in GetNextSample); E_INVALIDARG for a selection
// value outside WMT_OFF..WMT_ON or a file name that cannot be a file (a character above 255);
// E_POINTER for a missing pointer; NS_E_NO_MORE_SAMPLES at the end of the selected streams and
// on every later read. Open's failures are those of CInputFile::Open; a failed Open leaves the
// reader closed. Opening while a file is open closes that one first. Close with nothing open
// succeeds. Calls come from one thread at a time.
//
// It is also the open file's IWMHeaderInfo (QueryInterface gives this same object), which
// knows one attribute: g_wszWMDuration of stream 0, the container's duration, ASF_E_NOTFOUND
// when the container states none.
class CSyncReader final : public CComObject<IWMSyncReader, IWMHeaderInfo> {
  public:
    static CSyncReader* Create();

    HRESULT Open(LPCWSTR pwszFilename) override;
    HRESULT Close() override;
    HRESULT SetStreamsSelected(WORD cStreamCount, WORD* pwStreamNumbers,
                               WMT_STREAM_SELECTION* pSelections) override;
    HRESULT SetReadStreamSamples(WORD wStreamNum, BOOL fCompressed) override;
    HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                          QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                          WORD* pwStreamNum) override;

    HRESULT GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                               BYTE* pValue, WORD* pcbLength) override;

  private:
    CSyncReader() = default;
    ~CSyncReader() override;
    // IID_IWMProfile: the open file's profile; NS_E_INVALID_REQUEST while no file is open.
    HRESULT QueryOther(REFIID riid, void** ppv) override;

    std::unique_ptr<CReadAhead> m_pReadAhead;  // null while closed
    CProfile* m_pProfile = nullptr;            // one reference while open
};

}  // namespace wmf
