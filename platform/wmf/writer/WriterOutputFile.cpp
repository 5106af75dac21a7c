#include "platform/wmf/writer/WriterOutputFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/wmf/shared/Runtime.h"
#include "platform/wmf/shared/WriterStatus.h"

namespace wmf {
namespace {

// The file a destination name stands for: the target of a symbolic link that resolves, the
// name itself otherwise (a new file, or a dangling link that the output replaces).
std::string ResolveDestination(const std::string& destination) {
    struct stat link {};
    if (lstat(destination.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(destination.c_str(), resolved) != nullptr) return resolved;
    }
    return destination;
}

// Opens a new, empty temporary file beside `target`; the file descriptor, or -1 with errno.
int CreateTemporary(const std::string& target, std::string* pTempPath) {
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    if (folder.empty()) folder = ".";
    static thread_local std::mt19937 s_random{std::random_device{}()};
    for (int attempt = 0; attempt < 64; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof(name), ".varnel-%08x.part", static_cast<unsigned>(s_random()));
        const std::string path = (folder / name).string();
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *pTempPath = path;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

HRESULT CWriterOutputFile::Create(const std::string& destination,
                                  std::unique_ptr<CWriterOutputFile>* ppFile) {
    if (ppFile == nullptr) return E_POINTER;
    if (destination.empty()) return E_INVALIDARG;
    const std::string target = ResolveDestination(destination);

    struct stat existing {};
    const bool bExists = stat(target.c_str(), &existing) == 0;
    if (!bExists && errno != ENOENT) return StatusFromErrno(errno);
    if (bExists) {
        // Writing over the input would destroy what is being read.
        if (IsOpenInput(existing.st_dev, existing.st_ino)) return HRESULT_SHARING_VIOLATION;
        if (!S_ISREG(existing.st_mode)) return E_INVALIDARG;
        if (access(target.c_str(), W_OK) != 0) return StatusFromErrno(errno);
    }

    std::string tempPath;
    const int fd = CreateTemporary(target, &tempPath);
    if (fd < 0) return StatusFromErrno(errno);
    // A replaced file keeps its permissions.
    if (bExists) (void)fchmod(fd, existing.st_mode & 07777);
    close(fd);

    ppFile->reset(new CWriterOutputFile(target, tempPath));
    return S_OK;
}

CWriterOutputFile::CWriterOutputFile(std::string destination, std::string tempPath)
    : m_destination(std::move(destination)), m_tempPath(std::move(tempPath)), m_bPending(true) {}

CWriterOutputFile::~CWriterOutputFile() { Discard(); }

HRESULT CWriterOutputFile::Commit() {
    if (!m_bPending) return NS_E_INVALID_REQUEST;
    if (rename(m_tempPath.c_str(), m_destination.c_str()) != 0) {
        const HRESULT hr = StatusFromErrno(errno);
        Discard();
        return hr;
    }
    m_bPending = false;
    return S_OK;
}

void CWriterOutputFile::Discard() {
    if (!m_bPending) return;
    unlink(m_tempPath.c_str());
    m_bPending = false;
}

}  // namespace wmf
