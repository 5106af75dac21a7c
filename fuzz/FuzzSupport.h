// SPDX-License-Identifier: GPL-3.0-or-later
// What both fuzz targets share: contract checks that end the run as a crash, and the walk over
// a profile's streams that every front end does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "platform/wmf/wmsdk.h"

namespace varnel_fuzz {

// A broken contract of the runtime layer is a finding like a sanitizer report: the run stops
// with the message and the input is kept as a crash.
inline void Check(bool bHolds, const char* what, HRESULT hr = S_OK) {
    if (bHolds) return;
    std::fprintf(stderr, "contract broken: %s (status 0x%08X)\n", what, static_cast<unsigned>(hr));
    std::abort();
}

struct Releaser {
    void operator()(IUnknown* p) const {
        if (p != nullptr) p->Release();
    }
};
// One counted reference, released at the end of its scope.
template <class T>
using Ref = std::unique_ptr<T, Releaser>;

// Bytes of one decoded frame per video stream number, as the stream's header describes it.
using FrameLengths = std::map<WORD, DWORD>;

// Reads the first and the last byte of the sample, so that a length beyond its memory is caught
// by AddressSanitizer.
inline void TouchSample(INSSBuffer* pSample) {
    BYTE* pBytes = nullptr;
    DWORD length = 0;
    const HRESULT hr = pSample->GetBufferAndLength(&pBytes, &length);
    Check(SUCCEEDED(hr) && (length == 0 || pBytes != nullptr), "sample without bytes", hr);
    if (length == 0) return;
    volatile BYTE sink = pBytes[0];
    sink = pBytes[length - 1];
    (void)sink;
}

// Asks every stream of the profile for its number, type, bit rate and media type (size, then the
// type in a buffer of that size), checks that the format block lies inside that buffer, and
// gives the frame length of each video stream with a usable header.
inline FrameLengths WalkProfile(IWMProfile* pProfile) {
    FrameLengths lengths;
    DWORD count = 0;
    HRESULT hr = pProfile->GetStreamCount(&count);
    Check(SUCCEEDED(hr), "GetStreamCount", hr);
    for (DWORD i = 0; i < count; ++i) {
        IWMStreamConfig* pRaw = nullptr;
        hr = pProfile->GetStream(i, &pRaw);
        Check(SUCCEEDED(hr) && pRaw != nullptr, "GetStream within the count", hr);
        Ref<IWMStreamConfig> config(pRaw);
        GUID type{};
        WORD number = 0;
        DWORD bitrate = 0;
        Check(SUCCEEDED(config->GetStreamType(&type)), "GetStreamType");
        Check(SUCCEEDED(config->GetStreamNumber(&number)), "GetStreamNumber");
        Check(SUCCEEDED(config->GetBitrate(&bitrate)), "GetBitrate");

        IWMMediaProps* pRawProps = nullptr;
        hr = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&pRawProps));
        Check(SUCCEEDED(hr) && pRawProps != nullptr, "IWMMediaProps of a stream", hr);
        Ref<IWMMediaProps> props(pRawProps);
        DWORD size = 0;
        hr = props->GetMediaType(nullptr, &size);
        Check(SUCCEEDED(hr) && size >= sizeof(WM_MEDIA_TYPE), "media type size", hr);
        std::vector<BYTE> buffer(size);
        auto* pType = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
        hr = props->GetMediaType(pType, &size);
        Check(SUCCEEDED(hr), "media type", hr);
        Check(pType->majortype == type, "media type's major type is the stream's");
        if (pType->cbFormat > 0) {
            const BYTE* pEnd = buffer.data() + buffer.size();
            Check(pType->pbFormat >= buffer.data() && pType->pbFormat <= pEnd &&
                      pType->cbFormat <= static_cast<size_t>(pEnd - pType->pbFormat),
                  "format block inside the media type's buffer");
        }
        if (type != WMMEDIATYPE_Video || pType->cbFormat < sizeof(WMVIDEOINFOHEADER)) continue;
        const auto* vih = reinterpret_cast<const WMVIDEOINFOHEADER*>(pType->pbFormat);
        const LONG width = vih->bmiHeader.biWidth;
        const LONG height = vih->bmiHeader.biHeight;
        if (width <= 0 || height <= 0 || width > 0xFFFF) continue;
        const uint64_t bytes = uint64_t{DibStride(width)} * static_cast<uint64_t>(height);
        if (bytes <= UINT32_MAX) lengths[number] = static_cast<DWORD>(bytes);
    }
    return lengths;
}

}  // namespace varnel_fuzz
