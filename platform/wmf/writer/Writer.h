// SPDX-License-Identifier: GPL-3.0-or-later
// The writer of the runtime layer: frames in, a Windows Media, MP4, Matroska or WebM file out.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/wmf/StagedFile.h"
#include "platform/wmf/shared/ComObject.h"
#include "platform/wmf/wmsdk.h"
#include "platform/wmf/writer/WriterFormat.h"
#include "platform/wmf/writer/WriterPipeline.h"

namespace wmf {

// IWMWriter over FFmpeg. It takes a profile with exactly one video stream and a file name, then
// 24-bit blue-green-red DIB frames of the profile's size on input 0, and writes the file that the
// name asks for (ContainerForName): ASF with WMV2 video (WMV1 when the profile says WMV1) for
// ".wmv", ".asf" and any name not listed there, H.264 in MP4 or QuickTime, H.264 in Matroska, or
// VP9 in WebM, with every sample at its time (the latter three in 1/30000 s, see
// CWriterEncoder::NtscTicks).
//
// States: no profile, profile set, name set (both set), writing, ended. SetProfile keeps a copy
// of the video format, not the profile. Statuses:
//  - SetProfile / SetOutputFilename while writing: NS_E_INVALID_REQUEST. SetProfile of a
//    profile without exactly one usable video stream: NS_E_INVALIDPROFILE. An empty name, or
//    one with a character above 255: E_INVALIDARG. A refused call changes nothing.
//  - BeginWriting without both, or while writing: NS_E_INVALID_REQUEST. It creates the file
//    (see CStagedFile: HRESULT_SHARING_VIOLATION for the file open for reading, the
//    file system's status for a folder that is missing or may not be written;
//    NS_E_INVALID_OUTPUT_FORMAT when this FFmpeg lacks the name's encoder or container) and
//    leaves nothing behind when it fails.
//  - WriteSample while not writing: NS_E_INVALID_REQUEST; input other than 0: E_INVALIDARG; a
//    sample not exactly one frame long: NS_E_INVALID_INPUT_FORMAT; a time that, in the units
//    the file keeps, is not after the previous sample's: E_INVALIDARG. A refused sample leaves
//    the file going. The writer converts an accepted sample's frame before WriteSample returns
//    and keeps no reference to it; the caller's reference stays the caller's.
//  - EndWriting while not writing: NS_E_INVALID_REQUEST. Otherwise it waits for every queued
//    sample, finishes the file and gives it its name; an encoding or file failure on the way
//    is returned here (or by the WriteSample after it) and the unfinished file is removed.
// IVarnelWriterHold (QueryInterface) keeps a finished file staged until CommitHeldOutput; a held
// file is dropped by DiscardHeldOutput, the next BeginWriting and the writer's end.
// IVarnelWriterSettings (QueryInterface) sets the rate control of the next BeginWriting.
// Destroying a writer that is writing ends the file first. The calls come from one thread.
class CWriter final : public CComObject<IWMWriter, IVarnelWriterHold, IVarnelWriterSettings> {
  public:
    // One reference for the caller.
    static CWriter* Create();

    HRESULT SetProfile(IWMProfile* pProfile) override;
    HRESULT SetOutputFilename(LPCWSTR pwszFilename) override;
    HRESULT BeginWriting() override;
    HRESULT WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags,
                        INSSBuffer* pSample) override;
    HRESULT EndWriting() override;

    HRESULT SetHoldOutput(BOOL bHold) override;
    HRESULT CommitHeldOutput() override;
    HRESULT DiscardHeldOutput() override;

    HRESULT SetQuality(LONG nQuality) override;
    HRESULT SetBitRate(DWORD dwBitRate) override;

  private:
    CWriter() = default;
    ~CWriter() override;

    std::optional<WriterVideoFormat> m_format;  // set by SetProfile
    std::optional<std::string> m_fileName;      // set by SetOutputFilename
    WriterRateControl m_rate;                   // set through IVarnelWriterSettings
    // While writing: the file on its way and the threads that convert and encode into it.
    std::unique_ptr<CStagedFile> m_pOutput;
    std::unique_ptr<CWriterPipeline> m_pPipeline;
    bool m_bHold = false;
    std::unique_ptr<CStagedFile> m_pHeld;           // a finished file held back from its name
    const WriterContainer* m_pContainer = nullptr;  // of the file being written
    int64_t m_nLastFileTicks = 0;
    bool m_bAnyWritten = false;
};

}  // namespace wmf
