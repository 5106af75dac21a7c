// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the input bytes as a media file, read to its end twice.
//
// 1. Through the runtime layer's public face: WMCreateSyncReader, Open, the profile's streams
//    walked, the duration attribute asked for, then GetNextSample for any stream (every stream
//    is selected and video comes decoded) until the reader reports the end.
// 2. Through CMediaReader, as the front ends read: OpenByName, then NextFrameNumber and
//    GetNextFrame until the read fails.
//
// Every sample is touched at both ends and released at once. Besides the sanitizers, a broken
// contract aborts: a decoded frame whose length is not the DIB size of its stream's header, an
// end reported with another status than NS_E_NO_MORE_SAMPLES, a profile that cannot be walked.
// The input goes to one file in $TMPDIR (or /tmp), rewritten for every input and removed at
// exit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "fuzz/FuzzSupport.h"
#include "media/MediaReader.h"
#include "platform/wmf/reader/ReaderSamples.h"
#include "platform/wmf/wmsdk.h"

using namespace varnel_fuzz;

namespace {

const std::string& InputPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string name = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
        name += "/varnel-fuzz-input-" + std::to_string(getpid());
        std::atexit([] { std::remove(InputPath().c_str()); });
        return name;
    }();
    return path;
}

void WriteInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    Check(file != nullptr, "temporary input file can be made");
    const bool bWritten = size == 0 || std::fwrite(data, 1, size, file) == size;
    Check(std::fclose(file) == 0 && bWritten, "temporary input file written");
}

void ReadThroughSyncReader(const std::wstring& path) {
    IWMSyncReader* pRaw = nullptr;
    HRESULT hr = WMCreateSyncReader(nullptr, 0, &pRaw);
    Check(SUCCEEDED(hr) && pRaw != nullptr, "WMCreateSyncReader", hr);
    Ref<IWMSyncReader> reader(pRaw);
    if (FAILED(reader->Open(path.c_str()))) return;

    IWMProfile* pRawProfile = nullptr;
    hr = reader->QueryInterface(IID_IWMProfile, reinterpret_cast<void**>(&pRawProfile));
    Check(SUCCEEDED(hr) && pRawProfile != nullptr, "profile of an open file", hr);
    Ref<IWMProfile> profile(pRawProfile);
    const FrameLengths lengths = WalkProfile(profile.get());

    IWMHeaderInfo* pRawInfo = nullptr;
    hr = reader->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&pRawInfo));
    Check(SUCCEEDED(hr) && pRawInfo != nullptr, "IWMHeaderInfo of the reader", hr);
    Ref<IWMHeaderInfo> info(pRawInfo);
    WORD wStream = 0;
    WMT_ATTR_DATATYPE type{};
    QWORD cnsDuration = 0;
    WORD cbDuration = sizeof cnsDuration;
    hr = info->GetAttributeByName(&wStream, g_wszWMDuration, &type,
                                  reinterpret_cast<BYTE*>(&cnsDuration), &cbDuration);
    Check(SUCCEEDED(hr) || hr == ASF_E_NOTFOUND, "duration attribute", hr);

    for (;;) {
        INSSBuffer* pSample = nullptr;
        QWORD cnsTime = 0, cnsLength = 0;
        DWORD flags = 0, output = 0;
        WORD number = 0;
        hr = reader->GetNextSample(0, &pSample, &cnsTime, &cnsLength, &flags, &output, &number);
        if (FAILED(hr)) {
            Check(hr == NS_E_NO_MORE_SAMPLES, "the end of the sync reader's samples", hr);
            Check(pSample == nullptr, "no sample with a failure");
            break;
        }
        Check(pSample != nullptr, "a sample with success");
        Ref<INSSBuffer> sample(pSample);
        TouchSample(pSample);
        const auto expected = lengths.find(number);
        if (expected != lengths.end()) {
            DWORD length = 0;
            pSample->GetLength(&length);
            Check(length == expected->second, "decoded frame of the header's size");
        }
    }
    hr = reader->GetNextSample(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    Check(hr == E_POINTER, "GetNextSample without a sample pointer", hr);
    Check(SUCCEEDED(reader->Close()), "Close");
}

void ReadThroughMediaReader(const std::string& path) {
    CMediaReader reader;
    if (FAILED(reader.OpenByName(path.c_str()))) return;
    for (;;) {
        reader.NextFrameNumber();
        INSSBuffer* pSample = nullptr;
        BITMAPINFOHEADER* pFormat = nullptr;
        const HRESULT hr = reader.GetNextFrame(&pSample, &pFormat);
        if (FAILED(hr)) {
            Check(hr == NS_E_NO_MORE_SAMPLES, "the end of the media reader's frames", hr);
            Check(pSample == nullptr, "no frame with a failure");
            break;
        }
        Check(pSample != nullptr && pFormat != nullptr, "a frame and its header with success");
        Ref<INSSBuffer> sample(pSample);
        TouchSample(pSample);
        DWORD length = 0;
        pSample->GetLength(&length);
        Check(pFormat->biWidth > 0 && pFormat->biHeight > 0 &&
                  uint64_t{length} == uint64_t{DibStride(pFormat->biWidth)} *
                                          static_cast<uint64_t>(pFormat->biHeight),
              "frame of the header's size");
    }
}

}  // namespace

// Frames carry guard bytes, so that a write past a frame by FFmpeg's code, which no sanitizer
// sees, counts as a finding too.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    wmf::CFramePool::SetGuardMode(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WriteInput(data, size);
    const std::string& path = InputPath();
    ReadThroughSyncReader(std::wstring(path.begin(), path.end()));
    ReadThroughMediaReader(path);
    Check(wmf::CFramePool::GuardFaults() == 0, "every frame's guard bytes intact");
    return 0;
}
