// A fresh, empty working directory for one test: "lastprofile.xml" and relative output names
// land there, and nothing is left behind.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>

// Creates the directory and makes it the process's working directory; the destructor goes back
// to the previous one and removes the directory with everything in it.
class CScopedWorkingDir {
  public:
    CScopedWorkingDir() : m_previous(std::filesystem::current_path()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "varnel-media-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a temporary directory";
            return;
        }
        m_path = pattern;
        std::filesystem::current_path(m_path);
    }
    ~CScopedWorkingDir() {
        std::filesystem::current_path(m_previous);
        std::error_code error;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
    }
    CScopedWorkingDir(const CScopedWorkingDir&) = delete;
    CScopedWorkingDir& operator=(const CScopedWorkingDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The names of the entries, sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::filesystem::path m_previous;
    std::filesystem::path m_path;
};
