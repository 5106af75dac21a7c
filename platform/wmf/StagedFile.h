// SPDX-License-Identifier: GPL-3.0-or-later
// A file that appears under its name only when it is finished. Part of the runtime layer's public
// face, beside wmsdk.h: the writer stages its output with it, and the front ends their reports
// and other files, so that every file Varnel writes is staged the same way.
#pragma once

#include <memory>
#include <string>

#include "platform/wmf/wmsdk.h"

namespace wmf {

// One file from creation to Commit. The data goes to a staging file in the destination's
// folder; Commit puts it at the destination's name in one step, so the destination holds either
// what it held before or a finished file, never a half-written one. Discard, or the destructor
// when neither was called, drops the staging file. A destination that is a symbolic link is
// followed: the file it points to is replaced, the link stays. A replaced file keeps its
// permissions.
//
// Where the file system allows it, the staging file has no name at all (O_TMPFILE) until Commit
// links it, so a run killed or crashed on the way leaves nothing behind; elsewhere it is a hidden
// ".varnel-XXXXXXXX.part" beside the destination, removed on every path but a hard stop.
//
// Create gives S_OK, HRESULT_SHARING_VIOLATION when the destination is the file open for
// reading, E_INVALIDARG for an empty name or a destination that is not a regular file, and the
// status of StatusFromErrno (access denied, disk full, name too long, missing folder, ...) when
// the file cannot be made or an existing destination may not be replaced. Nothing is created when
// Create fails.
class CStagedFile {
  public:
    static HRESULT Create(const std::string& destination, std::unique_ptr<CStagedFile>* ppFile);
    ~CStagedFile();
    CStagedFile(const CStagedFile&) = delete;
    CStagedFile& operator=(const CStagedFile&) = delete;

    // The name to open the staging file by for writing (it may be opened more than once; its
    // data stays until Commit or Discard).
    const std::string& WritePath() const { return m_writePath; }
    // Puts the staging file at the destination's name: S_OK, NS_E_INVALID_REQUEST after Commit
    // or Discard, or the status of the failure (the staging file is then dropped).
    HRESULT Commit();
    // Drops the staging file; the destination stays as it was.
    void Discard();

  private:
    CStagedFile(std::string destination, std::string writePath, int nAnonymous);

    std::string m_destination;
    std::string m_writePath;
    int m_nAnonymous;  // the descriptor of the nameless staging file, or -1 for a named one
    bool m_bPending;   // neither committed nor discarded
};

// The nearest status for a failed system call's errno: NS_E_FILE_NOT_FOUND, E_ACCESSDENIED,
// HRESULT_DISK_FULL, HRESULT_FILENAME_TOO_LONG, E_INVALIDARG, E_OUTOFMEMORY, else E_FAIL.
HRESULT StatusFromErrno(int error);

}  // namespace wmf
