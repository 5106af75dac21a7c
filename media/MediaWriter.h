// SPDX-License-Identifier: GPL-3.0-or-later
// CMediaWriter: the output profile derived from the input's, and the output file.
#pragma once

#include "common/ComHolder.h"
#include "media/FileName.h"
#include "platform/wmf/wmsdk.h"

// Derives the output profile (a copy of the input's, reduced to its video streams, saving the
// input's profile as "lastprofile.xml" in the working directory on the way) and writes picked
// frames to the output file.
//
// Ownership: holds one reference each to the profile manager, the output profile and the
// writer. The writer is created at the first commit of an output name and reused for every
// later one. Samples given to WriteFrame stay the caller's; the runtime takes its own reference
// for as long as it needs one.
//
// Status: every operation returns the status of its last runtime call (S_OK when it made none);
// each failure is recorded through RecordLastError with a fixed message and ends the operation.
// Nothing is rolled back. Without an input profile (the input did not open) the derivation keeps
// no output profile, leaves "lastprofile.xml" alone and records "Could not get stream count" with
// E_POINTER. Names that do not fit 1000 wide characters are refused with E_INVALIDARG and
// "Didn't like the output file name"; the previous name stays.
//
// End of life: the destructor ends an output still being written, so that closing the program
// leaves a finished file, then releases the writer, the output profile and the profile manager.
class CMediaWriter {
  public:
    CMediaWriter();
    ~CMediaWriter();
    CMediaWriter(const CMediaWriter&) = delete;
    CMediaWriter& operator=(const CMediaWriter&) = delete;

    HRESULT DeriveOutputProfile(IWMProfile* pInputProfile);
    // Ends the current output, then creates or reuses the writer for the (byte-transparently
    // widened) name and begins writing when a profile exists.
    HRESULT OpenOutput(const char* pszName);
    HRESULT CreateWriter(const WCHAR* pwszName);
    HRESULT StartWriting();
    HRESULT CloseOutput();
    // Writes the sample at dTime seconds (truncated to 100-ns units). A time below zero (by a
    // unit or more), not finite or beyond the runtime's range is refused with E_INVALIDARG.
    HRESULT WriteFrame(INSSBuffer* pSample, double dTime);

    // Optional observer for front ends that report what reached the output: WriteFrame calls it
    // after every sample it offers to an existing writer, with the sample, its time in 100-ns
    // units and the writer's status. Null (the default) turns it off. It changes nothing that
    // WriteFrame does.
    using WriteObserver = void (*)(void* pContext, INSSBuffer* pSample, QWORD cnsTime, HRESULT hr);
    void SetWriteObserver(WriteObserver pfnObserver, void* pContext) {
        m_pfnWriteObserver = pfnObserver;
        m_pObserverContext = pContext;
    }

    // For front ends with more to finish after the output: while held, CloseOutput finishes the
    // file but keeps it staged (see IVarnelWriterHold) until FinishHeldOutput commits it (a
    // failure recorded as "Could not end writing") or drops it. Without the runtime's support
    // the output is not held, and FinishHeldOutput does nothing.
    void HoldOutput(bool bHold);
    HRESULT FinishHeldOutput(bool bCommit);

    // Rate control of the outputs that are not Windows Media (see IVarnelWriterSettings): a
    // constant rate factor (-1 for the codec's usual one), or a bit rate in bits a second (0 for
    // the profile's; Windows Media outputs take that one too). The last call wins; it reaches
    // the writer now or when it is created, and applies from the next output file on. Without
    // the runtime's support the writer keeps its own choice.
    void SetOutputQuality(int nQuality);
    void SetOutputBitRate(DWORD dwBitRate);

    // The output profile (no reference added), null before the first derivation.
    IWMProfile* GetProfile() const { return m_pProfile; }
    WORD GetVideoStreamNumber() const { return m_wVideoStreamNumber; }

  private:
    // Writes the profile text, up to its first zero, to "lastprofile.xml"; failures are ignored.
    static void SaveLastProfile(const WCHAR* pwszProfile);
    // Passes the hold to the writer, where one exists.
    void ApplyHold();
    // Passes the rate control to the writer, where one exists and a rate control was set.
    void ApplyRateControl();
    // The writer's extension I (whose id is iid), or null when there is no writer or it has
    // none.
    template <class I>
    TComHolder<I> WriterExtension(REFIID iid) const;
    TComHolder<IVarnelWriterHold> WriterHold() const;
    TComHolder<IVarnelWriterSettings> WriterSettings() const;

    IWMProfileManager* m_pProfileManager;
    IWMProfile* m_pProfile;
    IWMWriter* m_pWMWriter;
    WORD m_wVideoStreamNumber;
    WCHAR m_wszFileName[kFileNameChars];
    // Whether the writer has begun a file that no EndWriting has finished yet.
    BOOL m_bWriting;
    WriteObserver m_pfnWriteObserver = nullptr;
    void* m_pObserverContext = nullptr;
    bool m_bHoldOutput = false;
    // The rate control set by SetOutputQuality or SetOutputBitRate, if any.
    bool m_bRateControlSet = false;
    bool m_bOutputBitRate = false;
    int m_nOutputQuality = -1;
    DWORD m_dwOutputBitRate = 0;
};
