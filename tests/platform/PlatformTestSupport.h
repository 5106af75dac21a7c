// Helpers shared by the tests of the runtime layer: interface holders, temporary folders, and
// clips made with the ffmpeg command.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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

inline std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

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

}  // namespace varnel_test
