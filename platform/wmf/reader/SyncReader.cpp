// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/SyncReader.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/wmf/shared/Runtime.h"

namespace wmf {

CSyncReader* CSyncReader::Create() {
    // FFmpeg's own chatter would drown the program's output; its errors still show.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    MapLargeBlocks();
    return new (std::nothrow) CSyncReader();
}

CSyncReader::~CSyncReader() { Close(); }

HRESULT CSyncReader::QueryOther(REFIID riid, void** ppv) {
    if (riid != IID_IWMProfile) return E_NOINTERFACE;
    if (m_pProfile == nullptr) return NS_E_INVALID_REQUEST;
    m_pProfile->AddRef();
    *ppv = static_cast<IWMProfile*>(m_pProfile);
    return S_OK;
}

HRESULT CSyncReader::Open(LPCWSTR pwszFilename) {
    if (pwszFilename == nullptr) return E_POINTER;
    Close();
    std::string path;
    if (!NarrowFromWide(pwszFilename, &path)) return E_INVALIDARG;
    if (path.empty()) return NS_E_FILE_NOT_FOUND;
    std::unique_ptr<CInputFile> file;
    HRESULT hr = CInputFile::Open(path, &file);
    if (FAILED(hr)) return hr;
    CProfile* profile = CProfile::Create(file->Streams());
    if (profile == nullptr) return E_OUTOFMEMORY;
    m_pReadAhead = std::make_unique<CReadAhead>(std::move(file));
    m_pProfile = profile;
    return S_OK;
}

HRESULT CSyncReader::Close() {
    m_pReadAhead.reset();
    if (m_pProfile != nullptr) {
        m_pProfile->Release();
        m_pProfile = nullptr;
    }
    return S_OK;
}

HRESULT CSyncReader::SetStreamsSelected(WORD cStreamCount, WORD* pwStreamNumbers,
                                        WMT_STREAM_SELECTION* pSelections) {
    if (!m_pReadAhead) return NS_E_INVALID_REQUEST;
    if (cStreamCount == 0) return E_INVALIDARG;
    if (pwStreamNumbers == nullptr || pSelections == nullptr) return E_POINTER;
    // All or nothing: every entry is checked before any takes effect.
    for (WORD i = 0; i < cStreamCount; ++i) {
        if (m_pReadAhead->File().ProfileIndex(pwStreamNumbers[i]) < 0) return NS_E_INVALID_STREAM;
        if (pSelections[i] < WMT_OFF || pSelections[i] > WMT_ON) return E_INVALIDARG;
    }
    for (WORD i = 0; i < cStreamCount; ++i)
        m_pReadAhead->Select(pwStreamNumbers[i], pSelections[i]);
    return S_OK;
}

HRESULT CSyncReader::SetReadStreamSamples(WORD wStreamNum, BOOL fCompressed) {
    if (!m_pReadAhead) return NS_E_INVALID_REQUEST;
    if (m_pReadAhead->File().ProfileIndex(wStreamNum) < 0) return NS_E_INVALID_STREAM;
    m_pReadAhead->SetCompressed(wStreamNum, fCompressed != FALSE);
    return S_OK;
}

HRESULT CSyncReader::GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                                   QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                                   WORD* pwStreamNum) {
    if (ppSample == nullptr) return E_POINTER;
    *ppSample = nullptr;
    if (!m_pReadAhead) return NS_E_INVALID_REQUEST;
    if (wStreamNum != 0) {
        if (m_pReadAhead->File().ProfileIndex(wStreamNum) < 0) return NS_E_INVALID_STREAM;
        if (m_pReadAhead->Selection(wStreamNum) == WMT_OFF) return NS_E_INVALID_REQUEST;
    }
    ReadySample ready;
    const HRESULT hr = m_pReadAhead->Next(wStreamNum, &ready);
    if (FAILED(hr)) return hr;
    if (pcnsSampleTime != nullptr) *pcnsSampleTime = ready.cnsTime;
    if (pcnsDuration != nullptr) *pcnsDuration = ready.cnsDuration;
    if (pdwFlags != nullptr) *pdwFlags = ready.dwFlags;
    if (pdwOutputNum != nullptr) *pdwOutputNum = ready.dwOutputNum;
    if (pwStreamNum != nullptr) *pwStreamNum = ready.wStreamNumber;
    *ppSample = ready.pSample.release();
    return S_OK;
}

HRESULT CSyncReader::GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName,
                                        WMT_ATTR_DATATYPE* pType, BYTE* pValue, WORD* pcbLength) {
    if (pwStreamNum == nullptr || pszName == nullptr || pType == nullptr || pcbLength == nullptr) {
        return E_POINTER;
    }
    if (!m_pReadAhead) return NS_E_INVALID_REQUEST;
    const int64_t nDuration = m_pReadAhead->File().Duration();
    if (*pwStreamNum != 0 || std::wstring_view(pszName) != g_wszWMDuration || nDuration <= 0) {
        return ASF_E_NOTFOUND;
    }
    *pType = WMT_TYPE_QWORD;
    const QWORD cnsDuration = static_cast<QWORD>(nDuration);
    if (pValue == nullptr) {
        *pcbLength = sizeof cnsDuration;
        return S_OK;
    }
    if (*pcbLength < sizeof cnsDuration) return ASF_E_BUFFERTOOSMALL;
    std::memcpy(pValue, &cnsDuration, sizeof cnsDuration);
    *pcbLength = sizeof cnsDuration;
    return S_OK;
}

}  // namespace wmf

HRESULT WMCreateSyncReader(IUnknown* /*pUnkCert*/, DWORD /*dwRights*/,
                           IWMSyncReader** ppSyncReader) {
    if (ppSyncReader == nullptr) return E_POINTER;
    *ppSyncReader = wmf::CSyncReader::Create();
    return *ppSyncReader == nullptr ? E_OUTOFMEMORY : S_OK;
}
