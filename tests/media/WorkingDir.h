// A fresh, empty working directory for one test: "lastprofile.xml" and relative output names
// land there, and nothing is left behind. Also reading back the files written there.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/PlatformTestSupport.h"

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// How often `part` occurs in `text`.
inline size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

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

    // The names of the entries, sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::filesystem::path m_previous;
    varnel_test::CTempDir m_dir;
};
