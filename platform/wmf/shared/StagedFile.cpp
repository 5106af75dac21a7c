// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/StagedFile.h"

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

std::string FolderOf(const std::string& target) {
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// A fresh hidden name in `folder` that nothing has yet.
std::string HiddenName(const std::string& folder) {
    static thread_local std::mt19937 s_random{std::random_device{}()};
    char name[32];
    std::snprintf(name, sizeof(name), ".varnel-%08x.part", static_cast<unsigned>(s_random()));
    return (std::filesystem::path(folder) / name).string();
}

// Opens a new, empty, hidden file in `folder`; the file descriptor, or -1 with errno.
int CreateHidden(const std::string& folder, std::string* pPath) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string path = HiddenName(folder);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *pPath = path;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

// Opens a nameless file in `folder`; -1 with errno where the file system (or the absence of
// /proc, through which the file is opened again and linked) does not allow it.
int CreateAnonymous(const std::string& folder) {
    if (access("/proc/self/fd", X_OK) != 0) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

bool AnonymousUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

HRESULT StatusFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return NS_E_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return E_ACCESSDENIED;
        case ENOSPC:
        case EDQUOT:
            return HRESULT_DISK_FULL;
        case ENAMETOOLONG:
            return HRESULT_FILENAME_TOO_LONG;
        case EISDIR:
        case EINVAL:
        case ELOOP:
            return E_INVALIDARG;
        case ENOMEM:
            return E_OUTOFMEMORY;
        default:
            return E_FAIL;
    }
}

HRESULT CStagedFile::Create(const std::string& destination, std::unique_ptr<CStagedFile>* ppFile) {
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
    } else {
        // The name itself must be one the folder can take; a staging file has another name.
        const long nameMax = pathconf(FolderOf(target).c_str(), _PC_NAME_MAX);
        const std::string name = std::filesystem::path(target).filename().string();
        if (nameMax > 0 && name.size() > static_cast<size_t>(nameMax)) {
            return HRESULT_FILENAME_TOO_LONG;
        }
    }

    const std::string folder = FolderOf(target);
    int fd = CreateAnonymous(folder);
    std::string writePath;
    int nAnonymous = -1;
    if (fd >= 0) {
        writePath = DescriptorPath(fd);
        nAnonymous = fd;
    } else {
        if (!AnonymousUnsupported(errno)) return StatusFromErrno(errno);
        fd = CreateHidden(folder, &writePath);
        if (fd < 0) return StatusFromErrno(errno);
    }
    // A replaced file keeps its permissions.
    if (bExists) (void)fchmod(fd, existing.st_mode & 07777);
    if (nAnonymous < 0) close(fd);

    ppFile->reset(new CStagedFile(target, writePath, nAnonymous));
    return S_OK;
}

CStagedFile::CStagedFile(std::string destination, std::string writePath, int nAnonymous)
    : m_destination(std::move(destination)),
      m_writePath(std::move(writePath)),
      m_nAnonymous(nAnonymous),
      m_bPending(true) {}

CStagedFile::~CStagedFile() { Discard(); }

HRESULT CStagedFile::Commit() {
    if (!m_bPending) return NS_E_INVALID_REQUEST;
    std::string staged = m_writePath;
    if (m_nAnonymous >= 0) {
        // A link cannot replace a file, so the data gets a hidden name for the moment of the
        // rename.
        const std::string folder = FolderOf(m_destination);
        bool bLinked = false;
        for (int attempt = 0; attempt < 64 && !bLinked; ++attempt) {
            staged = HiddenName(folder);
            bLinked = linkat(AT_FDCWD, m_writePath.c_str(), AT_FDCWD, staged.c_str(),
                             AT_SYMLINK_FOLLOW) == 0;
            if (!bLinked && errno != EEXIST) break;
        }
        if (!bLinked) {
            const HRESULT hr = StatusFromErrno(errno);
            Discard();
            return hr;
        }
    }
    if (rename(staged.c_str(), m_destination.c_str()) != 0) {
        const HRESULT hr = StatusFromErrno(errno);
        if (m_nAnonymous >= 0) unlink(staged.c_str());
        Discard();
        return hr;
    }
    if (m_nAnonymous >= 0) close(m_nAnonymous);
    m_nAnonymous = -1;
    m_bPending = false;
    return S_OK;
}

void CStagedFile::Discard() {
    if (!m_bPending) return;
    if (m_nAnonymous >= 0) {
        close(m_nAnonymous);  // the nameless file goes with its last descriptor
        m_nAnonymous = -1;
    } else {
        unlink(m_writePath.c_str());
    }
    m_bPending = false;
}

}  // namespace wmf
