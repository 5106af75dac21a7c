// SPDX-License-Identifier: GPL-3.0-or-later
// The status of an FFmpeg code that carries a system error.
#pragma once

#include "platform/wmf/StagedFile.h"
#include "platform/wmf/wmsdk.h"

namespace wmf {

// StatusFromErrno(e) for AVERROR(e) when the errno map names e (a missing file, refused access,
// a full disk, a name too long, no memory, ...); hrOther for any other code, 0 included.
//
// Only for codes that a system call gave: FFmpeg's demuxers, decoders and muxers return errno
// values of their own for reasons that have nothing to do with the system (-1, which is
// AVERROR(EPERM), for damaged ASF; AVERROR(EIO) for damaged Matroska; AVERROR(ENOMEM) where
// FFmpeg 5.1's MP4 demuxer meets a second 'ctts' box and nothing ran out).
inline HRESULT StatusFromSystemError(int averror, HRESULT hrOther) {
    // AVERROR(e) is -e; FFmpeg's own codes are tags far below the errno range.
    constexpr int kErrnoLimit = 4096;
    if (averror >= 0 || averror <= -kErrnoLimit) return hrOther;
    const HRESULT hr = StatusFromErrno(-averror);
    return hr == E_FAIL ? hrOther : hr;
}

}  // namespace wmf
