#include "batch/FrameEstimate.h"

#include <climits>
#include <vector>

#include "media/ComHolder.h"

namespace {

QWORD FileDuration(IWMSyncReader* pSyncReader) {
    IWMHeaderInfo* pRawInfo = nullptr;
    if (FAILED(
            pSyncReader->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&pRawInfo))) ||
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
    return cnsDuration;
}

}  // namespace

REFERENCE_TIME VideoFrameTime(IWMProfile* pProfile, WORD wVideoStream) {
    if (pProfile == nullptr) return 0;
    DWORD dwCount = 0;
    if (FAILED(pProfile->GetStreamCount(&dwCount))) return 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        IWMStreamConfig* pRawConfig = nullptr;
        if (FAILED(pProfile->GetStream(i, &pRawConfig)) || pRawConfig == nullptr) return 0;
        TComHolder<IWMStreamConfig> pConfig(pRawConfig);
        WORD wNumber = 0;
        if (FAILED(pConfig->GetStreamNumber(&wNumber)) || wNumber != wVideoStream) continue;

        IWMMediaProps* pRawProps = nullptr;
        if (FAILED(
                pConfig->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&pRawProps))) ||
            pRawProps == nullptr) {
            return 0;
        }
        TComHolder<IWMMediaProps> pProps(pRawProps);
        DWORD cbType = 0;
        if (FAILED(pProps->GetMediaType(nullptr, &cbType)) || cbType < sizeof(WM_MEDIA_TYPE)) {
            return 0;
        }
        // Aligned storage for the media type and the format block behind it.
        std::vector<uint64_t> storage((cbType + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        auto* pType = reinterpret_cast<WM_MEDIA_TYPE*>(storage.data());
        if (FAILED(pProps->GetMediaType(pType, &cbType))) return 0;
        if (pType->formattype != WMFORMAT_VideoInfo || pType->pbFormat == nullptr ||
            pType->cbFormat < sizeof(WMVIDEOINFOHEADER)) {
            return 0;
        }
        return reinterpret_cast<const WMVIDEOINFOHEADER*>(pType->pbFormat)->AvgTimePerFrame;
    }
    return 0;
}

int EstimateFrameCount(IWMSyncReader* pSyncReader, IWMProfile* pProfile, WORD wVideoStream) {
    if (pSyncReader == nullptr || pProfile == nullptr || wVideoStream == 0) return 0;
    const QWORD cnsDuration = FileDuration(pSyncReader);
    const REFERENCE_TIME nFrameTime = VideoFrameTime(pProfile, wVideoStream);
    if (cnsDuration == 0 || nFrameTime <= 0) return 0;
    const QWORD nFrames =
        (cnsDuration + static_cast<QWORD>(nFrameTime) / 2) / static_cast<QWORD>(nFrameTime);
    return nFrames > static_cast<QWORD>(INT_MAX) ? INT_MAX : static_cast<int>(nFrames);
}
