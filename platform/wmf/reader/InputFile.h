// SPDX-License-Identifier: GPL-3.0-or-later
// One media file open for reading: the demuxer, the streams the profile shows, and the
// registration that keeps writers from overwriting the file while it is open.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/shared/FFmpegHolders.h"

namespace wmf {

inline constexpr int kMaxFrameSide = 8192;
inline constexpr int64_t kMaxFramePixels = int64_t{8192} * 4320;

// Owns the demuxer of one file and its entry in the open-input registry (Runtime.h); both go
// with the object. Open takes only regular files through FFmpeg's file protocol, probes within
// fixed bounds and gives up after a deadline, so no file can keep it busy for long.
//
// The streams of the profile are the file's streams in file order except attached pictures
// (cover art), numbered index + 1: video with its size, FOURCC, bit rate and frame time, audio
// with its WAVEFORMATEX, anything else as data. A video stream whose size is unknown is shown as
// data: nothing could decode it into a frame.
//
// Frame ceiling: no side above kMaxFrameSide and no more than kMaxFramePixels pixels (8K video,
// up to 8192x4320, fits). A file whose header claims more is refused before any picture is
// decoded, and decoders refuse larger pictures, so a small hostile file cannot take gigabytes.
//
// A folder of images, or a pattern with '*' naming them (StillImages.h), is one video stream:
// one frame per image in natural name order at the rate of stills, described by the first image
// (its size, its codec), each image opened in turn as reading reaches it. Images that cannot be
// read or are of another kind than the first are left out; the rest follow without a gap.
//
// Open: S_OK; NS_E_FILE_NOT_FOUND for a missing file or a sequence without an image; E_INVALIDARG
// for something that is not a regular file; the system's status (StatusFromReadError) when the
// file cannot be opened or its bytes read; NS_E_INVALID_INPUT_FORMAT for a video stream beyond the
// frame ceiling and for any file the demuxer refuses.
// ReadPacket is used by one thread at a time; Interrupt may be called from any thread.
class CInputFile {
  public:
    static HRESULT Open(const std::string& path, std::unique_ptr<CInputFile>* ppFile);
    ~CInputFile();
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // Profile order.
    const std::vector<StreamDescription>& Streams() const { return m_streams; }
    // The FFmpeg stream behind a profile stream number, or null.
    AVStream* StreamByNumber(WORD wStreamNumber) const;
    // Position of the stream in profile order (its output number), or -1.
    int ProfileIndex(WORD wStreamNumber) const;
    // The profile stream number of an FFmpeg stream index, or 0 when it is not in the profile.
    WORD NumberOfIndex(int index) const;
    // The file's start time in 100-ns units; sample times are counted from it.
    int64_t StartTime() const { return m_nStartTime; }
    // The file's duration in 100-ns units as the container states it; 0 when unknown.
    int64_t Duration() const { return m_nDuration; }

    // The next packet of any stream: 0, AVERROR_EOF at the end, another negative value for a
    // damaged or unreadable packet or a read that ran past its deadline.
    int ReadPacket(AVPacket* pPacket);
    // Whether reading has reached the end of the file's bytes.
    bool AtEnd() const;
    // Makes a read under way, and every later one, give up at once.
    void Interrupt() { m_bInterrupted = true; }

  private:
    CInputFile(dev_t device, ino_t inode);
    // Opens one file's bytes into *pIo and its demuxer over them, with this object's interrupt
    // and bounds: FFmpeg's result. On a failure of the demuxer *pIo stays open, so that its
    // error tells whether the bytes could not be read; *ppContext is null on any failure.
    int OpenContext(const std::string& path, IoContextHolder* pIo, AVFormatContext** ppContext);
    // The packet of the next readable image of a sequence, stamped with its frame's time.
    int ReadStill(AVPacket* pPacket);
    static int OnInterruptCheck(void* opaque);
    void ArmDeadline(int64_t seconds);
    void DescribeStreams();

    dev_t m_device;
    ino_t m_inode;
    IoContextHolder m_pIo;  // the file's bytes, read by m_pContext, which goes first
    InputContextHolder m_pContext;
    std::vector<StreamDescription> m_streams;
    std::vector<int> m_streamIndexes;   // FFmpeg index of each profile stream
    std::vector<WORD> m_numberOfIndex;  // profile stream number of each FFmpeg index, or 0
    int64_t m_nStartTime = 0;
    int64_t m_nDuration = 0;
    // A sequence of stills: the images, the next to read, the frames given, the rate.
    std::vector<std::string> m_stills;
    size_t m_nNextStill = 0;
    int64_t m_nStillFrames = 0;
    AVRational m_stillRate{0, 1};
    std::atomic<bool> m_bInterrupted{false};
    std::atomic<int64_t> m_nDeadline{0};  // steady-clock nanoseconds
};

}  // namespace wmf
