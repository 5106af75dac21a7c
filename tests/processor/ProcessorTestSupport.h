// Frames and a writing output for the frame processor's tests.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "media/MediaWriter.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "processor/FrameProcessor.h"
#include "tests/fakes/FakeRuntime.h"
#include "tests/support/TestSupport.h"

inline void SetPixel(BYTE* p, BYTE blue, BYTE green, BYTE red) {
    p[0] = blue;
    p[1] = green;
    p[2] = red;
}

// The bytes of pixel i of a frame, counted in memory order across rows.
inline BYTE* PixelAt(BYTE* pFrame, LONG nWidth, int i) {
    return pFrame + (i / nWidth) * DibStride(nWidth) + (i % nWidth) * 3;
}

// Makes samples of one frame size and keeps a reference of its own to each, so a test can see
// how many references the processor still holds (RefCount 1: the processor let go).
class CFrameSource {
  public:
    CFrameSource(LONG nWidth, LONG nHeight) : m_header(DibHeader(nWidth, nHeight)) {}
    ~CFrameSource() {
        for (CSampleBuffer* pSample : m_samples) pSample->Release();
    }

    const BITMAPINFOHEADER& Header() const { return m_header; }
    DWORD FrameBytes() const { return DibStride(m_header.biWidth) * m_header.biHeight; }

    // A new sample whose pixels are all (grey, grey, grey) and whose padding bytes are 0xEE;
    // the caller hands the returned reference to the processor.
    CSampleBuffer* Grey(BYTE grey) {
        return Make([grey](BYTE* p, int) { SetPixel(p, grey, grey, grey); });
    }
    CSampleBuffer* Make(const std::function<void(BYTE*, int)>& paint) {
        CSampleBuffer* pSample = CSampleBuffer::Create(FrameBytes());
        std::fill(pSample->Bytes(), pSample->Bytes() + FrameBytes(), BYTE{0xEE});
        for (int i = 0; i < m_header.biWidth * m_header.biHeight; ++i) {
            paint(PixelAt(pSample->Bytes(), m_header.biWidth, i), i);
        }
        pSample->AddRef();
        m_samples.push_back(pSample);
        return pSample;
    }
    // 1 for the first sample made, 0 for one not made here.
    int NumberOf(const INSSBuffer* pSample) const {
        for (size_t i = 0; i < m_samples.size(); ++i) {
            if (m_samples[i] == pSample) return static_cast<int>(i) + 1;
        }
        return 0;
    }
    const std::vector<CSampleBuffer*>& Samples() const { return m_samples; }

  private:
    BITMAPINFOHEADER m_header;
    std::vector<CSampleBuffer*> m_samples;
};

// A fresh fake runtime and a CMediaWriter writing "out.wmv" for frames of the given size, in a
// temporary working directory (the profile derivation saves "lastprofile.xml" there).
class CWritingOutput {
  public:
    CWritingOutput(LONG nWidth, LONG nHeight) {
        std::filesystem::current_path(m_dir.Path());
        IWMProfile* pProfile = Fake().NewProfile({FakeVideoStream(1, nWidth, nHeight)});
        m_writer.DeriveOutputProfile(pProfile);
        pProfile->Release();
        m_writer.OpenOutput("out.wmv");
    }
    ~CWritingOutput() { std::filesystem::current_path(m_previousDir); }

    CMediaWriter* Writer() { return &m_writer; }
    // Every sample that reached the output file so far.
    std::vector<FakeWrittenSample> Written() const {
        return Fake().Outputs().empty() ? std::vector<FakeWrittenSample>{}
                                        : Fake().Outputs().back().samples;
    }

  private:
    // Resets the fake before the writer makes its first runtime object.
    struct CFreshRuntime {
        CFreshRuntime() { Fake().Reset(); }
    } m_freshRuntime;
    std::filesystem::path m_previousDir = std::filesystem::current_path();
    varnel_test::CTempDir m_dir;
    CMediaWriter m_writer;
};
