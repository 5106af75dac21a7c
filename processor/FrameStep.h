// SPDX-License-Identifier: GPL-3.0-or-later
// The frame step: the road of one frame from the reader through the processor, shared by the
// dialog's "Next >" and varnel-batch's run.
#pragma once

#include "media/MediaReader.h"
#include "platform/wmf/wmsdk.h"
#include "processor/FrameProcessor.h"

// What a step leaves on display: the processor's figures of the frame it designates for display,
// and that frame's header and pixels (both null when it designates none; they belong to the
// processor).
struct FrameStepDisplay {
    double dBefore = 0.0;
    double dAfter = 0.0;
    double dDarkFraction = 0.0;
    BITMAPINFOHEADER* pFormat = nullptr;
    BYTE* pPixels = nullptr;
};

// One frame step, in this order:
//  1. NextFrameNumber; front.OnFrameNumber(n).
//  2. GetFrameTime, which reads frame n; front.OnFrameTime(t).
//  3. GetNextFrame. A failed read (the end of the input included) ends the step with its status,
//     after the picks that the processor holds (deflicker) have been written: FlushHeld until
//     none is left, front.OnFlushed() after each. A read that gave no sample or no header ends
//     it with E_UNEXPECTED, and a sample it gave is released.
//  4. front.OnSample(n, t, pSample) sees the sample before ProcessSample takes it over (the
//     processor may write it at once).
//  5. ProcessSample, then GetStatistics of the display frame; front.OnDisplay(display).
// Returns S_OK after step 5. Each member of Front is optional: a front without it is not told.
template <class Front>
HRESULT StepFrame(CMediaReader& reader, CFrameProcessor& processor, Front& front) {
    const int nFrame = reader.NextFrameNumber();
    if constexpr (requires { front.OnFrameNumber(nFrame); }) front.OnFrameNumber(nFrame);
    const double dTime = reader.GetFrameTime();
    if constexpr (requires { front.OnFrameTime(dTime); }) front.OnFrameTime(dTime);

    INSSBuffer* pSample = nullptr;
    BITMAPINFOHEADER* pFormat = nullptr;
    HRESULT hr = reader.GetNextFrame(&pSample, &pFormat);
    if (SUCCEEDED(hr) && (pSample == nullptr || pFormat == nullptr)) hr = E_UNEXPECTED;
    if (FAILED(hr)) {
        if (pSample != nullptr) pSample->Release();
        while (processor.FlushHeld()) {
            if constexpr (requires { front.OnFlushed(); }) front.OnFlushed();
        }
        return hr;
    }
    if constexpr (requires { front.OnSample(nFrame, dTime, pSample); }) {
        front.OnSample(nFrame, dTime, pSample);
    }

    FrameStepDisplay display;
    processor.ProcessSample(pSample, pFormat, &display.pFormat, &display.pPixels);
    display.dBefore = processor.GetStatistics(&display.dAfter, &display.dDarkFraction);
    if constexpr (requires { front.OnDisplay(display); }) front.OnDisplay(display);
    return S_OK;
}
