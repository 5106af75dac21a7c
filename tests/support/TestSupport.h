// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by every test folder: interface holders, temporary folders and working
// directories, reading and writing whole files, the shared test data, and clips made with the
// ffmpeg command.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/wmf/wmsdk.h"

namespace varnel_test {

struct ReleaseDeleter {
    void operator()(IUnknown* p) const {
        if (p != nullptr) p->Release();
    }
};
// One counted reference, released at the end of its scope.
template <typename T>
using Ref = std::unique_ptr<T, ReleaseDeleter>;

// The standard output of a shell command.
inline std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

inline std::string Quoted(const std::filesystem::path& path) {
    std::string quoted(1, '\'');
    quoted += path.string();
    quoted += '\'';
    return quoted;
}

// Makes `output` with `ffmpeg -y <arguments> output`; true when the file exists afterwards.
inline bool MakeClip(const std::string& arguments, const std::filesystem::path& output) {
    RunCommand("ffmpeg -nostdin -v error -y " + arguments + " " + Quoted(output) + " 2>&1");
    return std::filesystem::exists(output) && std::filesystem::file_size(output) > 0;
}

// The number of frames FFmpeg decodes from the first video stream.
inline long ProbeFrameCount(const std::filesystem::path& file) {
    const std::string count = RunCommand(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=nb_read_frames -of csv=p=0 " +
        Quoted(file));
    return count.empty() ? -1 : std::strtol(count.c_str(), nullptr, 10);
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Names of the entries of a folder, sorted.
inline std::vector<std::string> DirEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A file of the shared test data (../shared/testdata by default); empty when it is absent, so
// that a test can skip: if (file.empty()) GTEST_SKIP() << "test data absent: " << name;
inline std::filesystem::path TestDataFile(const std::string& name) {
    const std::filesystem::path file = std::filesystem::path(VARNEL_TESTDATA_DIR) / name;
    return std::filesystem::exists(file) ? file : std::filesystem::path();
}

// Whether a program of that name can be found on the search path.
inline bool HaveProgram(const std::string& name) {
    return !RunCommand("command -v " + name + " 2>/dev/null").empty();
}
inline bool HaveFfmpeg() { return HaveProgram("ffmpeg") && HaveProgram("ffprobe"); }

// Byte-transparent widening: each byte becomes the wide character of the same value.
inline std::wstring Widened(const std::string& text) {
    std::wstring wide;
    for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
    return wide;
}

// A fresh folder under /tmp, removed with everything in it at the end of its scope.
class CTempDir {
  public:
    CTempDir() {
        char pattern[] = "/tmp/varnel-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) m_path = pattern;
    }
    ~CTempDir() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

// Makes a temporary directory the process's working directory; the destructor goes back to the
// previous one, and the directory goes with everything in it.
class CScopedWorkingDir {
  public:
    CScopedWorkingDir() : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(m_dir.Path());
    }
    ~CScopedWorkingDir() { std::filesystem::current_path(m_previous); }
    CScopedWorkingDir(const CScopedWorkingDir&) = delete;
    CScopedWorkingDir& operator=(const CScopedWorkingDir&) = delete;

    const std::filesystem::path& Path() const { return m_dir.Path(); }
    // The names of the entries, sorted.
    std::vector<std::string> Entries() const { return DirEntries(m_dir.Path()); }

  private:
    std::filesystem::path m_previous;
    CTempDir m_dir;
};

}  // namespace varnel_test
