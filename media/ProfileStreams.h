// SPDX-License-Identifier: GPL-3.0-or-later
// Walking the streams of a profile, as the reader and the writer both do.
#pragma once

#include <cstring>

#include "common/ComHolder.h"
#include "common/LastError.h"
#include "platform/wmf/wmsdk.h"

// The stream configuration at `index` of `pProfile` (one reference, in `pConfig`) and whether its
// major type is video, compared byte by byte with WMMEDIATYPE_Video. A failure is recorded as
// "Could not get an individual stream" or "Could not get an individual stream type" and returned;
// a configuration already obtained stays in `pConfig`, to be released by its holder.
inline HRESULT GetStreamAndType(IWMProfile* pProfile, DWORD index,
                                TComHolder<IWMStreamConfig>& pConfig, bool& bVideo) {
    IWMStreamConfig* pRawConfig = nullptr;
    HRESULT hr = pProfile->GetStream(index, &pRawConfig);
    if (FAILED(hr)) {
        RecordLastError("Could not get an individual stream", hr);
        return hr;
    }
    pConfig.reset(pRawConfig);

    GUID type{};
    hr = pConfig->GetStreamType(&type);
    if (FAILED(hr)) {
        RecordLastError("Could not get an individual stream type", hr);
        return hr;
    }
    bVideo = std::memcmp(&type, &WMMEDIATYPE_Video, sizeof(GUID)) == 0;
    return hr;
}
