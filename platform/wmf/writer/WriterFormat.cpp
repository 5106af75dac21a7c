// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/writer/WriterFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace wmf {
namespace {

// Releases an interface reference at scope exit.
struct ReleaseInterface {
    void operator()(IUnknown* p) const {
        if (p != nullptr) p->Release();
    }
};
template <typename T>
using InterfacePtr = std::unique_ptr<T, ReleaseInterface>;

// The media type of one video stream configuration, copied out of its media properties.
HRESULT ReadVideoMediaType(IWMStreamConfig* pConfig, std::unique_ptr<BYTE[]>* pBytes,
                           DWORD* pcbType) {
    IWMMediaProps* pRawProps = nullptr;
    HRESULT hr = pConfig->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&pRawProps));
    if (FAILED(hr)) return hr;
    if (pRawProps == nullptr) return E_POINTER;
    InterfacePtr<IWMMediaProps> pProps(pRawProps);

    DWORD cbType = 0;
    hr = pProps->GetMediaType(nullptr, &cbType);
    if (FAILED(hr)) return hr;
    if (cbType < sizeof(WM_MEDIA_TYPE)) return NS_E_INVALIDPROFILE;
    // new[] aligns the buffer for the WM_MEDIA_TYPE at its start.
    auto pBuffer = std::make_unique<BYTE[]>(cbType);
    hr = pProps->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(pBuffer.get()), &cbType);
    if (FAILED(hr)) return hr;
    *pBytes = std::move(pBuffer);
    *pcbType = cbType;
    return S_OK;
}

// Checks the video media type and turns it into the writer's format.
HRESULT FormatFromMediaType(const WM_MEDIA_TYPE& type, DWORD cbType, WriterVideoFormat* pFormat) {
    if (type.formattype != WMFORMAT_VideoInfo || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(WMVIDEOINFOHEADER)) {
        return NS_E_INVALIDPROFILE;
    }
    // The format block must lie inside the buffer that GetMediaType filled.
    const auto* pStart = reinterpret_cast<const BYTE*>(&type);
    if (type.pbFormat < pStart || type.pbFormat + sizeof(WMVIDEOINFOHEADER) > pStart + cbType) {
        return NS_E_INVALIDPROFILE;
    }
    WMVIDEOINFOHEADER vih;
    std::memcpy(&vih, type.pbFormat, sizeof(vih));
    const BITMAPINFOHEADER& bmi = vih.bmiHeader;
    // A negative height stands for top-down rows.
    const int64_t nRows = std::abs(static_cast<int64_t>(bmi.biHeight));
    if (bmi.biWidth <= 0 || bmi.biWidth > kMaxWriterDimension || nRows == 0 ||
        nRows > kMaxWriterDimension) {
        return NS_E_INVALIDPROFILE;
    }

    constexpr DWORD kWmv1 = MakeFourcc('W', 'M', 'V', '1');
    WriterVideoFormat format;
    format.nWidth = bmi.biWidth;
    format.nHeight = static_cast<LONG>(nRows);
    format.bTopDown = bmi.biHeight < 0;
    format.dwFourcc = (type.subtype == WMMEDIASUBTYPE_WMV1 || bmi.biCompression == kWmv1)
                          ? kWmv1
                          : MakeFourcc('W', 'M', 'V', '2');
    format.dwBitRate = vih.dwBitRate;
    format.nAvgTimePerFrame = vih.AvgTimePerFrame > 0 ? vih.AvgTimePerFrame : 0;
    *pFormat = format;
    return S_OK;
}

struct NamedContainer {
    const char* pszExtension;  // lower case, with the dot
    WriterContainer container;
};

constexpr WriterContainer kWindowsMedia = {"asf", nullptr, 0, 0, false, true};
constexpr WriterContainer kMp4 = {"mp4", "libx264", 20, 51, true, false};
constexpr NamedContainer kContainers[] = {
    {".mp4", kMp4},
    {".m4v", kMp4},
    {".mov", {"mov", "libx264", 20, 51, true, false}},
    {".mkv", {"matroska", "libx264", 20, 51, false, true}},
    {".webm", {"webm", "libvpx-vp9", 32, 63, false, true}},
};

// Set by ReplaceEncoderNameForTesting only.
const char* g_pszReplacedEncoder = nullptr;
const char* g_pszReplacement = nullptr;

}  // namespace

const WriterContainer& ContainerForName(const std::string& name) {
    const size_t nDot = name.find_last_of("./");
    if (nDot == std::string::npos || name[nDot] != '.') return kWindowsMedia;
    std::string extension = name.substr(nDot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const NamedContainer& entry : kContainers) {
        if (extension == entry.pszExtension) return entry.container;
    }
    return kWindowsMedia;
}

const char* EncoderName(const WriterContainer& container) {
    if (container.pszEncoder != nullptr && g_pszReplacedEncoder != nullptr &&
        std::strcmp(container.pszEncoder, g_pszReplacedEncoder) == 0) {
        return g_pszReplacement;
    }
    return container.pszEncoder;
}

void ReplaceEncoderNameForTesting(const char* pszEncoder, const char* pszReplacement) {
    g_pszReplacedEncoder = pszReplacement != nullptr ? pszEncoder : nullptr;
    g_pszReplacement = pszReplacement;
}

HRESULT ReadWriterVideoFormat(IWMProfile* pProfile, WriterVideoFormat* pFormat) {
    if (pProfile == nullptr || pFormat == nullptr) return E_POINTER;
    DWORD cStreams = 0;
    HRESULT hr = pProfile->GetStreamCount(&cStreams);
    if (FAILED(hr)) return hr;

    InterfacePtr<IWMStreamConfig> pVideo;
    for (DWORD i = 0; i < cStreams; ++i) {
        IWMStreamConfig* pRawConfig = nullptr;
        hr = pProfile->GetStream(i, &pRawConfig);
        if (FAILED(hr)) return hr;
        if (pRawConfig == nullptr) return E_POINTER;
        InterfacePtr<IWMStreamConfig> pConfig(pRawConfig);
        GUID type{};
        hr = pConfig->GetStreamType(&type);
        if (FAILED(hr)) return hr;
        if (type != WMMEDIATYPE_Video) continue;
        if (pVideo) return NS_E_INVALIDPROFILE;  // a second video stream
        pVideo = std::move(pConfig);
    }
    if (!pVideo) return NS_E_INVALIDPROFILE;

    std::unique_ptr<BYTE[]> pBytes;
    DWORD cbType = 0;
    hr = ReadVideoMediaType(pVideo.get(), &pBytes, &cbType);
    if (FAILED(hr)) return hr;
    return FormatFromMediaType(*reinterpret_cast<const WM_MEDIA_TYPE*>(pBytes.get()), cbType,
                               pFormat);
}

}  // namespace wmf
