// SPDX-License-Identifier: GPL-3.0-or-later
// Readers, writers and samples of the real runtime, for the tests of this folder.
#pragma once

#include <filesystem>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/wmsdk.h"
#include "tests/support/ProfileQueries.h"
#include "tests/support/TestSupport.h"

namespace varnel_test {

constexpr QWORD kNtscFrame = 333667;  // 1/29.97 s in 100-ns units, truncated

// One sample as GetNextSample gave it; pBytes lives as long as pSample.
struct Read {
    Ref<INSSBuffer> pSample;
    QWORD cnsTime = 0, cnsDuration = 0;
    DWORD dwFlags = 0, dwOutput = 0, dwLength = 0;
    WORD wStream = 0;
    BYTE* pBytes = nullptr;
};

inline HRESULT ReadOne(IWMSyncReader* reader, WORD stream, Read* read) {
    INSSBuffer* sample = nullptr;
    const HRESULT hr = reader->GetNextSample(stream, &sample, &read->cnsTime, &read->cnsDuration,
                                             &read->dwFlags, &read->dwOutput, &read->wStream);
    read->pSample.reset(sample);
    if (sample != nullptr) sample->GetBufferAndLength(&read->pBytes, &read->dwLength);
    return hr;
}

// Every sample of `stream` up to the end, which must be a clean one.
inline std::vector<Read> ReadAll(IWMSyncReader* reader, WORD stream) {
    std::vector<Read> reads(1);
    HRESULT hr;
    while (SUCCEEDED(hr = ReadOne(reader, stream, &reads.back()))) reads.emplace_back();
    EXPECT_EQ(hr, NS_E_NO_MORE_SAMPLES);
    reads.pop_back();
    return reads;
}

inline Ref<IWMSyncReader> NewReader() {
    IWMSyncReader* reader = nullptr;
    EXPECT_EQ(WMCreateSyncReader(nullptr, 0, &reader), S_OK);
    return Ref<IWMSyncReader>(reader);
}

inline Ref<IWMWriter> NewWriter() {
    IWMWriter* writer = nullptr;
    EXPECT_EQ(WMCreateWriter(nullptr, &writer), S_OK);
    return Ref<IWMWriter>(writer);
}

inline HRESULT Open(IWMSyncReader* reader, const std::filesystem::path& file) {
    return reader->Open(Widened(file.string()).c_str());
}

// The object's interface T, whose id is `iid`.
template <typename T>
Ref<T> Query(IUnknown* object, REFIID iid) {
    T* p = nullptr;
    EXPECT_EQ(object->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
    return Ref<T>(p);
}

// Selects the video stream of the open file alone; its number (0 when there is none) and format.
inline std::pair<WORD, WMVIDEOINFOHEADER> SelectVideo(IWMSyncReader* reader) {
    Ref<IWMProfile> profile = Query<IWMProfile>(reader, IID_IWMProfile);
    std::pair<WORD, WMVIDEOINFOHEADER> video{};
    const auto streams = Streams(profile.get());
    for (DWORD i = 0; i < streams.size(); ++i) {
        auto [type, number] = streams[i];
        WMT_STREAM_SELECTION selection = type == WMMEDIATYPE_Video ? WMT_ON : WMT_OFF;
        EXPECT_EQ(reader->SetStreamsSelected(1, &number, &selection), S_OK);
        if (type != WMMEDIATYPE_Video) continue;
        const std::vector<BYTE> buffer = MediaTypeOf(StreamAt(profile.get(), i).get());
        video = {number, *reinterpret_cast<const WMVIDEOINFOHEADER*>(MediaType(buffer)->pbFormat)};
    }
    return video;
}

}  // namespace varnel_test
