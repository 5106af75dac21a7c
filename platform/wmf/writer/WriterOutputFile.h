// Where one written file goes while it is written, and how it reaches its name.
#pragma once

#include <memory>
#include <string>

#include "platform/wmf/wmsdk.h"

namespace wmf {

// One output file, from BeginWriting to EndWriting. The data goes to a hidden temporary file in
// the destination's folder; Commit renames it over the destination, so the destination holds
// either what it held before or a finished file, never a half-written one. Discard, or the
// destructor when neither was called, removes the temporary. A destination that is a symbolic
// link is followed: the file it points to is replaced, the link stays.
//
// Create gives S_OK with an empty temporary file, HRESULT_SHARING_VIOLATION when the
// destination is a file open for reading (see Runtime.h), E_INVALIDARG for an empty name or
// a destination that is not a regular file, and the errno status of StatusFromErrno when the
// folder is missing or may not be written or an existing destination may not be replaced.
// Nothing is created when Create fails.
class CWriterOutputFile {
  public:
    static HRESULT Create(const std::string& destination,
                          std::unique_ptr<CWriterOutputFile>* ppFile);
    ~CWriterOutputFile();
    CWriterOutputFile(const CWriterOutputFile&) = delete;
    CWriterOutputFile& operator=(const CWriterOutputFile&) = delete;

    // The temporary file that the data is written to.
    const std::string& TempPath() const { return m_tempPath; }
    // Moves the finished temporary to the destination. On failure the temporary is removed.
    HRESULT Commit();
    // Removes the temporary; the destination stays as it was.
    void Discard();

  private:
    CWriterOutputFile(std::string destination, std::string tempPath);

    std::string m_destination;
    std::string m_tempPath;
    bool m_bPending;  // the temporary still exists
};

}  // namespace wmf
