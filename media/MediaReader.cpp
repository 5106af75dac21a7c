// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/MediaReader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/ComHolder.h"
#include "common/Defaults.h"
#include "common/LastError.h"
#include "media/FileName.h"
#include "media/ProfileStreams.h"

namespace {

// Puts the interface that pSource gives for iid in pHeld, releasing the one held before. On
// failure pHeld holds nothing and pszMessage is recorded with the status.
template <class I>
HRESULT QueryHeld(IUnknown* pSource, REFIID iid, I*& pHeld, const char* pszMessage) {
    if (pHeld != nullptr) pHeld->Release();
    pHeld = nullptr;
    const HRESULT hr = pSource->QueryInterface(iid, reinterpret_cast<void**>(&pHeld));
    if (FAILED(hr)) {
        pHeld = nullptr;
        RecordLastError(pszMessage, hr);
    }
    return hr;
}

double Seconds(QWORD units) {
    return static_cast<double>(static_cast<int64_t>(units)) /
           static_cast<double>(varnel::kUnitsPerSecond);
}

// Bytes of one decoded frame that the header describes: DIB rows of 3-byte pixels.
uint64_t FrameBytes(const BITMAPINFOHEADER& header) {
    if (header.biWidth <= 0) return UINT64_MAX;
    const uint64_t rows =
        static_cast<uint64_t>(std::llabs(static_cast<long long>(header.biHeight)));
    return static_cast<uint64_t>(DibStride(header.biWidth)) * rows;
}

}  // namespace

CMediaReader::CMediaReader()
    : m_pSyncReader(nullptr),
      m_pInputProfile(nullptr),
      m_pVideoProps(nullptr),
      m_pVideoInfo(nullptr),
      m_pSample(nullptr),
      m_wVideoStream(0),
      m_bCompressed(FALSE),
      m_bSampleCurrent(FALSE),
      m_dwOutputNum(0),
      m_dwSampleFlags(0),
      m_nFrame(0),
      m_dFrameTime(0.0),
      m_dFrameRate(0.0),
      m_dDuration(0.0),
      m_bSampleUnclaimed(FALSE) {}

CMediaReader::~CMediaReader() {
    DropUnclaimedSample();
    if (m_pInputProfile != nullptr) m_pInputProfile->Release();
    if (m_pVideoProps != nullptr) m_pVideoProps->Release();
    if (m_pSyncReader != nullptr) m_pSyncReader->Release();
}

HRESULT CMediaReader::OpenByName(const char* pszName) {
    return ReopenByName(
        pszName, "Could not open input file", [this] { Close(); },
        [this](const WCHAR* pwszName) { return Open(pwszName); });
}

HRESULT CMediaReader::Open(const WCHAR* pwszPath) {
    HRESULT hr = S_OK;
    if (m_pSyncReader == nullptr) {
        hr = WMCreateSyncReader(nullptr, 0, &m_pSyncReader);
        if (FAILED(hr)) {
            RecordLastError("Could not create SyncReader", hr);
            return hr;
        }
    }

    hr = m_pSyncReader->Open(pwszPath);
    if (FAILED(hr)) {
        // The name as the bytes it was typed in (names are widened byte by byte).
        std::string name;
        for (const WCHAR* p = pwszPath; p != nullptr && *p != L'\0'; ++p)
            name += static_cast<char>(*p);
        RecordLastError("Could not open input file", hr, name);
        return hr;
    }

    // A profile still held (its close failed) belongs to the file opened before.
    hr = QueryHeld(m_pSyncReader, IID_IWMProfile, m_pInputProfile,
                   "Could not query interface for IWMProfile");
    if (FAILED(hr)) return hr;

    hr = FindVideoStream();
    if (FAILED(hr)) {
        RecordLastError("Could not get stream numbers", hr);
        return hr;
    }

    WORD wStreams[1] = {m_wVideoStream};
    WMT_STREAM_SELECTION selections[1] = {WMT_ON};
    hr = m_pSyncReader->SetStreamsSelected(1, wStreams, selections);
    if (FAILED(hr)) {
        RecordLastError("Could not select video stream", hr);
        return hr;
    }

    hr = m_pSyncReader->SetReadStreamSamples(m_wVideoStream, m_bCompressed);
    if (FAILED(hr)) {
        RecordLastError("Could not set compression of video stream", hr);
        return hr;
    }

    m_nFrame = 0;
    m_dFrameTime = 0.0;
    m_dFrameRate = 1.0;
    m_dDuration = 0.0;
    m_dwOutputNum = 0;
    m_dwSampleFlags = 0;
    DropUnclaimedSample();
    m_bSampleCurrent = TRUE;
    return hr;
}

HRESULT CMediaReader::FindVideoStream() {
    DWORD count = 0;
    HRESULT hr = m_pInputProfile->GetStreamCount(&count);
    if (FAILED(hr)) {
        RecordLastError("Could not get stream count", hr);
        return hr;
    }

    m_wVideoStream = 0;
    for (DWORD index = 0; index < count; ++index) {
        TComHolder<IWMStreamConfig> pConfig;
        bool bVideo = false;
        hr = GetStreamAndType(m_pInputProfile, index, pConfig, bVideo);
        if (FAILED(hr)) return hr;
        if (!bVideo) continue;

        hr = pConfig->GetStreamNumber(&m_wVideoStream);
        if (FAILED(hr)) {
            RecordLastError("Could not get video stream number", hr);
            return hr;
        }

        hr = QueryHeld(pConfig.get(), IID_IWMMediaProps, m_pVideoProps,
                       "Could not query interface for Media Properties");
        if (FAILED(hr)) return hr;

        DWORD size = 0;
        hr = m_pVideoProps->GetMediaType(nullptr, &size);
        if (FAILED(hr)) {
            RecordLastError("Could not get media type length", hr);
            return hr;
        }

        FreeMediaType();
        m_pMediaType.reset(new BYTE[size == 0 ? 1 : size]());
        auto* pType = reinterpret_cast<WM_MEDIA_TYPE*>(m_pMediaType.get());
        hr = m_pVideoProps->GetMediaType(size >= sizeof(WM_MEDIA_TYPE) ? pType : nullptr, &size);
        if (SUCCEEDED(hr) && size < sizeof(WM_MEDIA_TYPE)) hr = ASF_E_BUFFERTOOSMALL;
        if (FAILED(hr)) {
            RecordLastError("Could not get media type structure", hr);
            return hr;
        }

        // The frames are described by the header inside the format block; a block that does
        // not lie wholly inside the buffer or is too short for it describes nothing readable.
        const BYTE* pBegin = m_pMediaType.get();
        const BYTE* pFormat = pType->pbFormat;
        const bool bInside =
            pFormat >= pBegin + sizeof(WM_MEDIA_TYPE) && pFormat <= pBegin + size &&
            static_cast<size_t>(pBegin + size - pFormat) >= sizeof(WMVIDEOINFOHEADER) &&
            pType->cbFormat >= sizeof(WMVIDEOINFOHEADER) &&
            reinterpret_cast<uintptr_t>(pFormat) % alignof(WMVIDEOINFOHEADER) == 0;
        if (!bInside) {
            hr = NS_E_INVALID_INPUT_FORMAT;
            RecordLastError("Could not get media type structure", hr);
            return hr;
        }
        m_pVideoInfo = reinterpret_cast<WMVIDEOINFOHEADER*>(pType->pbFormat);
    }
    return hr;
}

HRESULT CMediaReader::Close() {
    HRESULT hr = S_OK;
    if (m_pSyncReader != nullptr) {
        hr = m_pSyncReader->Close();
        if (FAILED(hr)) {
            RecordLastError("Could not close SyncReader", hr);
            return hr;
        }
    }

    if (m_pInputProfile != nullptr) {
        m_pInputProfile->Release();
        m_pInputProfile = nullptr;
    }
    if (m_pVideoProps != nullptr) {
        m_pVideoProps->Release();
        m_pVideoProps = nullptr;
    }
    if (m_pSyncReader != nullptr) {
        m_pSyncReader->Release();
        m_pSyncReader = nullptr;
    }
    FreeMediaType();
    m_wVideoStream = 0;
    m_bCompressed = FALSE;
    return hr;
}

int CMediaReader::NextFrameNumber() {
    if (m_nFrame < INT_MAX) ++m_nFrame;
    m_bSampleCurrent = FALSE;
    return m_nFrame;
}

int CMediaReader::SkipFrameNumbers(int64_t nCount) {
    if (nCount <= 0) return m_nFrame;
    m_nFrame = static_cast<int>(std::min<int64_t>(INT_MAX, int64_t{m_nFrame} + nCount));
    m_bSampleCurrent = FALSE;
    return m_nFrame;
}

int CMediaReader::GetFrameNumber() {
    if (!m_bSampleCurrent) ReadNextSample();
    return m_nFrame;
}

double CMediaReader::GetFrameTime() {
    if (!m_bSampleCurrent) ReadNextSample();
    return m_dFrameTime;
}

HRESULT CMediaReader::GetNextFrame(INSSBuffer** ppSample, BITMAPINFOHEADER** ppFormat) {
    HRESULT hr = S_OK;
    if (!m_bSampleCurrent) hr = ReadNextSample();
    if (ppSample != nullptr) {
        *ppSample = m_pSample;
        m_bSampleUnclaimed = FALSE;
    }
    if (ppFormat != nullptr) {
        *ppFormat = m_pVideoInfo != nullptr ? &m_pVideoInfo->bmiHeader : nullptr;
    }
    return hr;
}

int CMediaReader::GetExpectedFrameCount() const {
    if (m_pSyncReader == nullptr || m_pVideoInfo == nullptr) return 0;
    const REFERENCE_TIME nFrameTime = m_pVideoInfo->AvgTimePerFrame;
    if (nFrameTime <= 0) return 0;
    IWMHeaderInfo* pRawInfo = nullptr;
    if (FAILED(m_pSyncReader->QueryInterface(IID_IWMHeaderInfo,
                                             reinterpret_cast<void**>(&pRawInfo))) ||
        pRawInfo == nullptr) {
        return 0;
    }
    TComHolder<IWMHeaderInfo> pInfo(pRawInfo);
    WORD wStream = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    QWORD cnsDuration = 0;
    WORD cbLength = sizeof cnsDuration;
    const HRESULT hr = pInfo->GetAttributeByName(&wStream, g_wszWMDuration, &type,
                                                 reinterpret_cast<BYTE*>(&cnsDuration), &cbLength);
    if (FAILED(hr) || type != WMT_TYPE_QWORD || cbLength != sizeof cnsDuration) return 0;
    const auto nUnits = static_cast<QWORD>(nFrameTime);
    const QWORD nFrames = (cnsDuration + nUnits / 2) / nUnits;
    return nFrames > static_cast<QWORD>(INT_MAX) ? INT_MAX : static_cast<int>(nFrames);
}

REFERENCE_TIME CMediaReader::GetVideoFrameTime() const {
    return m_pVideoInfo == nullptr ? 0 : std::max<REFERENCE_TIME>(m_pVideoInfo->AvgTimePerFrame, 0);
}

HRESULT CMediaReader::ReadNextSample() {
    DropUnclaimedSample();

    // Without an open video stream there is nothing to read: stream 0 would ask the runtime
    // for samples of any stream.
    if (m_pSyncReader == nullptr || m_wVideoStream == 0 || m_pVideoInfo == nullptr) {
        RecordLastError("Could not get video sample", NS_E_INVALID_REQUEST);
        return NS_E_INVALID_REQUEST;
    }

    QWORD cnsSampleTime = 0;
    QWORD cnsDuration = 0;
    WORD wStreamNum = 0;
    HRESULT hr =
        m_pSyncReader->GetNextSample(m_wVideoStream, &m_pSample, &cnsSampleTime, &cnsDuration,
                                     &m_dwSampleFlags, &m_dwOutputNum, &wStreamNum);
    if (SUCCEEDED(hr) && m_pSample == nullptr) hr = E_POINTER;
    if (SUCCEEDED(hr)) {
        // Consumers walk the whole frame that the header describes: a shorter sample would make
        // them read past its end.
        BYTE* pBytes = nullptr;
        DWORD length = 0;
        hr = m_pSample->GetBufferAndLength(&pBytes, &length);
        if (SUCCEEDED(hr) && length < FrameBytes(m_pVideoInfo->bmiHeader)) {
            hr = NS_E_INVALID_INPUT_FORMAT;
        }
        if (FAILED(hr)) {
            m_pSample->Release();
        }
    }
    if (FAILED(hr)) {
        m_pSample = nullptr;
        RecordLastError("Could not get video sample", hr);
        return hr;
    }

    m_bSampleUnclaimed = TRUE;
    const double dPrevious = m_dFrameTime;
    m_dFrameTime = Seconds(cnsSampleTime);
    // Two samples at the same time (a first one at 0 included) keep the estimate.
    if (m_dFrameTime != dPrevious) m_dFrameRate = 1.0 / (m_dFrameTime - dPrevious);
    m_dDuration = Seconds(cnsDuration);
    m_bSampleCurrent = TRUE;
    return hr;
}

void CMediaReader::DropUnclaimedSample() {
    if (m_bSampleUnclaimed && m_pSample != nullptr) m_pSample->Release();
    m_bSampleUnclaimed = FALSE;
    m_pSample = nullptr;
}

void CMediaReader::FreeMediaType() {
    m_pVideoInfo = nullptr;
    m_pMediaType.reset();
}
