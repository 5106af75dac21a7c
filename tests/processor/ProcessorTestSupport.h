// Frames, and an output that records what the frame processor writes, for its tests.
#pragma once

#include <algorithm>
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

    const BITMAPINFOHEADER& Header() const { return m_header; }
    DWORD FrameBytes() const { return DibStride(m_header.biWidth) * m_header.biHeight; }

    // A new sample whose pixels are painted by paint(pixel, i) over padding bytes of 0xEE; the
    // caller hands the returned reference to the processor.
    CSampleBuffer* Make(const std::function<void(BYTE*, int)>& paint) {
        CSampleBuffer* pSample = CSampleBuffer::Create(FrameBytes());
        std::fill(pSample->Bytes(), pSample->Bytes() + FrameBytes(), BYTE{0xEE});
        for (int i = 0; i < m_header.biWidth * m_header.biHeight; ++i) {
            paint(PixelAt(pSample->Bytes(), m_header.biWidth, i), i);
        }
        pSample->AddRef();
        m_samples.emplace_back(pSample);
        return pSample;
    }
    CSampleBuffer* Grey(BYTE grey) {
        return Make([grey](BYTE* p, int) { SetPixel(p, grey, grey, grey); });
    }
    // 1 for the first sample made, 0 for one not made here.
    int NumberOf(const INSSBuffer* pSample) const {
        for (size_t i = 0; i < m_samples.size(); ++i) {
            if (m_samples[i].get() == pSample) return static_cast<int>(i) + 1;
        }
        return 0;
    }
    CSampleBuffer* Sample(int nNumber) const { return m_samples.at(nNumber - 1).get(); }

  private:
    BITMAPINFOHEADER m_header;
    std::vector<varnel_test::Ref<CSampleBuffer>> m_samples;
};

// Somewhere for the processor to write: a CMediaWriter over a fake writer that has no profile,
// whose write observer records every frame offered, with its time and its first byte as it
// stood at the write.
class CRecordingOutput {
  public:
    struct Write {
        INSSBuffer* pSample;
        QWORD time;
        BYTE first;
    };

    CRecordingOutput() {
        m_writer.OpenOutput("out.wmv");
        m_writer.SetWriteObserver(&Record, this);
    }

    CMediaWriter* Writer() { return &m_writer; }
    const std::vector<Write>& Written() const { return m_written; }

  private:
    static void Record(void* pContext, INSSBuffer* pSample, QWORD time, HRESULT /*hr*/) {
        BYTE* pBytes = nullptr;
        pSample->GetBuffer(&pBytes);
        static_cast<CRecordingOutput*>(pContext)->m_written.push_back({pSample, time, pBytes[0]});
    }

    CMediaWriter m_writer;
    std::vector<Write> m_written;
};
