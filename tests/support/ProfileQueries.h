// SPDX-License-Identifier: GPL-3.0-or-later
// Queries on profiles shared by the reader and profile tests.
#pragma once

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/wmsdk.h"
#include "tests/support/TestSupport.h"

namespace varnel_test {

inline Ref<IWMStreamConfig> StreamAt(IWMProfile* profile, DWORD index) {
    IWMStreamConfig* config = nullptr;
    EXPECT_EQ(profile->GetStream(index, &config), S_OK);
    return Ref<IWMStreamConfig>(config);
}

// The type and number of every stream of the profile, in index order.
inline std::vector<std::pair<GUID, WORD>> Streams(IWMProfile* profile) {
    DWORD count = 0;
    EXPECT_EQ(profile->GetStreamCount(&count), S_OK);
    std::vector<std::pair<GUID, WORD>> streams(count);
    for (DWORD i = 0; i < count; ++i) {
        Ref<IWMStreamConfig> config = StreamAt(profile, i);
        EXPECT_EQ(config->GetStreamType(&streams[i].first), S_OK);
        EXPECT_EQ(config->GetStreamNumber(&streams[i].second), S_OK);
    }
    return streams;
}

// The media type of a stream, fetched the way the reader does: size, then contents. The format
// block lies in the same buffer; *MediaType(buffer) reads the fixed fields.
inline std::vector<BYTE> MediaTypeOf(IWMStreamConfig* config) {
    IWMMediaProps* props = nullptr;
    EXPECT_EQ(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)), S_OK);
    Ref<IWMMediaProps> hold(props);
    DWORD size = 0;
    EXPECT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<BYTE> buffer(size);
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data()), &size), S_OK);
    return buffer;
}

inline const WM_MEDIA_TYPE* MediaType(const std::vector<BYTE>& buffer) {
    return reinterpret_cast<const WM_MEDIA_TYPE*>(buffer.data());
}

}  // namespace varnel_test
