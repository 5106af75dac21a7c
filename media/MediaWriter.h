// SPDX-License-Identifier: GPL-3.0-or-later
// CMediaWriter: the output profile derived from the input's, and the output file.
#pragma once

#include <string>

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
// Files: each file begun holds the samples written while it is under way, stamped from its own
// start: the time last offered to WriteFrame before the file began (0 for the first file) is
// subtracted, so every file's first picture lies one frame spacing after 0 however long the
// session has run. A file ended with no sample in it is dropped, through the writer's hold, so
// that the file of that name, if any, stays as it was and no empty file is made (without the
// runtime's hold it is ended as any other). A file already ended is not ended again: CloseOutput
// without a file under way makes no runtime call. While a file is under way a new input's
// profile is not offered to the writer (it would refuse it; the file goes on), and samples
// offered while no file is under way (no output name yet, its beginning failed, or it has ended)
// do not reach the runtime.
//
// Status: every operation returns the status of its last runtime call (S_OK when it made none);
// each failure is recorded through RecordLastError with a fixed message and, where a file is
// concerned, the output's name as its subject, and ends the operation. Nothing is rolled back.
// Without an input profile (the input did not open) the derivation keeps no output profile, leaves
// "lastprofile.xml" alone and records "Could not get stream count" with E_POINTER. Names that do
// not fit 1000 wide characters are refused with E_INVALIDARG and "Didn't like the output file
// name"; the previous name stays.
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
    // bPixelsAsRead: the sample's pixels are as the reader gave them, and the runtime may encode
    // the picture they came from (WM_SF_VARNEL_PIXELS_AS_READ).
    HRESULT WriteFrame(INSSBuffer* pSample, double dTime, bool bPixelsAsRead = false);

    // Optional observer for front ends that report what reached the output: WriteFrame calls it
    // after every sample it is given while a writer exists, with the sample, its time in 100-ns
    // units and the writer's status (NS_E_INVALID_REQUEST, unrecorded, when no file is under way
    // and the sample was not offered). Null (the default) turns it off. It changes nothing that
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
    // Whether a file has begun that no CloseOutput has ended yet.
    bool IsWriting() const { return m_bWriting != FALSE; }
    // The file under way, or the one ended last: samples the runtime accepted into it, and the
    // time of the last of them from the file's start, in seconds (0 when it holds none).
    int GetFileSampleCount() const { return m_nFileSamples; }
    double GetFileDuration() const;

  private:
    // Writes the profile text, up to its first zero, to "lastprofile.xml"; failures are ignored.
    static void SaveLastProfile(const WCHAR* pwszProfile);
    // Ends the file under way; one that holds no sample is dropped rather than put at its name.
    HRESULT EndFile();
    // The output's name as the bytes it was typed in, for failure records.
    std::string FileSubject() const;
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
    // The file under way (or ended last): where its clock starts in the times WriteFrame is
    // given, how many samples it took, and the last one's time in 100-ns units from its start.
    double m_dFileOrigin = 0.0;
    int m_nFileSamples = 0;
    QWORD m_cnsFileLast = 0;
    // The last finite time offered to WriteFrame; the next file starts there.
    double m_dLastTime = 0.0;
    WriteObserver m_pfnWriteObserver = nullptr;
    void* m_pObserverContext = nullptr;
    bool m_bHoldOutput = false;
    // The rate control set by SetOutputQuality or SetOutputBitRate, if any.
    bool m_bRateControlSet = false;
    bool m_bOutputBitRate = false;
    int m_nOutputQuality = -1;
    DWORD m_dwOutputBitRate = 0;
};
