// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/profile/Profile.h"

#include <algorithm>
#include <new>
#include <utility>

namespace wmf {
namespace {

// The format block starts at the first suitably aligned offset after the WM_MEDIA_TYPE.
constexpr DWORD kFormatOffset =
    (sizeof(WM_MEDIA_TYPE) + alignof(WMVIDEOINFOHEADER) - 1) & ~(alignof(WMVIDEOINFOHEADER) - 1);

// Usual settings of Windows Media profiles for what a file does not record.
constexpr LONG kBufferWindowMs = 3000;
constexpr LONGLONG kMaxKeyFrameSpacing = 80000000;  // 8 s
constexpr DWORD kVideoQuality = 75;

// What every stream description starts with: its kind ("Video", "Audio", "Data") names it.
StreamDescription DescribeStream(const GUID& majortype, const std::wstring& kind,
                                 WORD wStreamNumber, const GUID& subtype) {
    StreamDescription d;
    d.majortype = majortype;
    d.wStreamNumber = wStreamNumber;
    d.streamName = kind + L" Stream";
    d.inputName = kind + std::to_wstring(wStreamNumber);
    d.nBufferWindow = kBufferWindowMs;
    d.subtype = subtype;
    return d;
}

}  // namespace

StreamDescription DescribeVideoStream(WORD wStreamNumber, const VideoStreamInfo& info) {
    StreamDescription d =
        DescribeStream(WMMEDIATYPE_Video, L"Video", wStreamNumber, FourccGuid(info.dwFourcc));
    d.dwBitrate = info.dwBitRate;
    d.decoderComplexity = L"AU";
    d.nMaxKeyFrameSpacing = kMaxKeyFrameSpacing;
    d.dwQuality = kVideoQuality;
    d.bFixedSizeSamples = FALSE;
    d.bTemporalCompression = TRUE;
    d.lSampleSize = 0;
    d.formattype = WMFORMAT_VideoInfo;

    WMVIDEOINFOHEADER vih{};
    vih.rcSource = RECT{0, 0, info.nWidth, info.nHeight};
    vih.rcTarget = vih.rcSource;
    vih.dwBitRate = info.dwBitRate;
    vih.dwBitErrorRate = 0;
    vih.AvgTimePerFrame = info.nAvgTimePerFrame;
    vih.bmiHeader = DibHeader(info.nWidth, info.nHeight, info.dwFourcc);
    d.format = BytesOf(vih);
    return d;
}

StreamDescription DescribeAudioStream(WORD wStreamNumber, const AudioStreamInfo& info) {
    StreamDescription d = DescribeStream(WMMEDIATYPE_Audio, L"Audio", wStreamNumber,
                                         FourccGuid(info.format.wFormatTag));
    d.dwBitrate = info.format.nAvgBytesPerSec * 8u;
    d.bFixedSizeSamples = TRUE;
    d.bTemporalCompression = FALSE;
    d.lSampleSize = info.format.nBlockAlign;
    d.formattype = WMFORMAT_WaveFormatEx;

    WAVEFORMATEX wfx = info.format;
    const size_t extra = std::min<size_t>(info.codecData.size(), 0xFFFF);
    wfx.cbSize = static_cast<WORD>(extra);
    d.format = BytesOf(wfx);
    d.format.insert(d.format.end(), info.codecData.begin(), info.codecData.begin() + extra);
    return d;
}

StreamDescription DescribeOtherStream(WORD wStreamNumber, DWORD dwCodecTag) {
    return DescribeStream(WMMEDIATYPE_Data, L"Data", wStreamNumber, FourccGuid(dwCodecTag));
}

DWORD MediaTypeSize(const StreamDescription& description) {
    return kFormatOffset + static_cast<DWORD>(description.format.size());
}

// ---------------------------------------------------------------------------------------------
// CStreamConfig

CStreamConfig::CStreamConfig(StreamDescription description)
    : m_description(std::move(description)) {}

CStreamConfig* CStreamConfig::Create(StreamDescription description) {
    return new (std::nothrow) CStreamConfig(std::move(description));
}

HRESULT CStreamConfig::GetStreamType(GUID* pguidStreamType) {
    if (pguidStreamType == nullptr) return E_POINTER;
    *pguidStreamType = m_description.majortype;
    return S_OK;
}

HRESULT CStreamConfig::GetStreamNumber(WORD* pwStreamNum) {
    if (pwStreamNum == nullptr) return E_POINTER;
    *pwStreamNum = m_description.wStreamNumber;
    return S_OK;
}

HRESULT CStreamConfig::GetBitrate(DWORD* pdwBitrate) {
    if (pdwBitrate == nullptr) return E_POINTER;
    *pdwBitrate = m_description.dwBitrate;
    return S_OK;
}

HRESULT CStreamConfig::GetType(GUID* pguidType) { return GetStreamType(pguidType); }

HRESULT CStreamConfig::GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) {
    if (pcbType == nullptr) return E_POINTER;
    const DWORD needed = MediaTypeSize(m_description);
    if (pType == nullptr) {
        *pcbType = needed;
        return S_OK;
    }
    if (*pcbType < needed) {
        *pcbType = needed;
        return ASF_E_BUFFERTOOSMALL;
    }
    BYTE* base = reinterpret_cast<BYTE*>(pType);
    std::fill(base, base + kFormatOffset, BYTE{0});
    WM_MEDIA_TYPE mt{};
    mt.majortype = m_description.majortype;
    mt.subtype = m_description.subtype;
    mt.bFixedSizeSamples = m_description.bFixedSizeSamples;
    mt.bTemporalCompression = m_description.bTemporalCompression;
    mt.lSampleSize = m_description.lSampleSize;
    mt.formattype = m_description.formattype;
    mt.pUnk = nullptr;
    mt.cbFormat = static_cast<ULONG>(m_description.format.size());
    mt.pbFormat = m_description.format.empty() ? nullptr : base + kFormatOffset;
    *pType = mt;
    std::copy(m_description.format.begin(), m_description.format.end(), base + kFormatOffset);
    *pcbType = needed;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// CProfile

CProfile::CProfile(std::wstring name, std::wstring description)
    : m_name(std::move(name)), m_description(std::move(description)) {}

CProfile::~CProfile() {
    for (CStreamConfig* config : m_streams) config->Release();
}

CProfile* CProfile::Create(const std::vector<StreamDescription>& streams, std::wstring name,
                           std::wstring description) {
    CProfile* profile = new (std::nothrow) CProfile(std::move(name), std::move(description));
    if (profile == nullptr) return nullptr;
    for (const StreamDescription& stream : streams) {
        CStreamConfig* config = CStreamConfig::Create(stream);
        if (config == nullptr) {
            profile->Release();
            return nullptr;
        }
        profile->m_streams.push_back(config);
    }
    return profile;
}

HRESULT CProfile::GetStreamCount(DWORD* pcStreams) {
    if (pcStreams == nullptr) return E_POINTER;
    *pcStreams = static_cast<DWORD>(m_streams.size());
    return S_OK;
}

HRESULT CProfile::GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) {
    if (ppConfig == nullptr) return E_POINTER;
    *ppConfig = nullptr;
    if (dwStreamIndex >= m_streams.size()) return E_INVALIDARG;
    m_streams[dwStreamIndex]->AddRef();
    *ppConfig = m_streams[dwStreamIndex];
    return S_OK;
}

HRESULT CProfile::RemoveStream(IWMStreamConfig* pConfig) {
    if (pConfig == nullptr) return E_POINTER;
    auto it = std::find_if(m_streams.begin(), m_streams.end(), [pConfig](CStreamConfig* s) {
        return static_cast<IWMStreamConfig*>(s) == pConfig;
    });
    if (it == m_streams.end()) {
        WORD number = 0;
        if (FAILED(pConfig->GetStreamNumber(&number))) return NS_E_INVALID_STREAM;
        it = std::find_if(m_streams.begin(), m_streams.end(), [number](CStreamConfig* s) {
            return s->Description().wStreamNumber == number;
        });
        if (it == m_streams.end()) return NS_E_INVALID_STREAM;
    }
    CStreamConfig* removed = *it;
    m_streams.erase(it);
    removed->Release();
    return S_OK;
}

HRESULT CreateProfile(const std::vector<StreamDescription>& streams, IWMProfile** ppProfile) {
    if (ppProfile == nullptr) return E_POINTER;
    *ppProfile = CProfile::Create(streams);
    return *ppProfile == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace wmf
