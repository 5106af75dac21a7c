// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <glob.h>
#include <string.h>
#include <sys/stat.h>

#include "common/Defaults.h"
#include "platform/wmf/StillImages.h"

namespace wmf {
namespace {

std::atomic<double> g_dStillImageRate{varnel::kDefaultInputRate};

bool IsImageName(const std::filesystem::path& file) {
    const std::string strName = file.filename().string();
    if (strName.empty() || strName[0] == '.') return false;
    std::string strExtension = file.extension().string();
    if (strExtension.size() < 2) return false;
    strExtension.erase(0, 1);
    std::ranges::transform(strExtension, strExtension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::ranges::find(StillImageExtensions(), strExtension) != StillImageExtensions().end();
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

const std::vector<std::string>& StillImageExtensions() {
    static const std::vector<std::string> extensions = {"jpg",  "jpeg", "png", "tif",
                                                        "tiff", "bmp",  "webp"};
    return extensions;
}

bool IsStillImageSequence(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    return path.find('*') != std::string::npos;
}

std::vector<std::string> ListStillImages(const std::string& path) {
    std::vector<std::string> files;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            const std::string strFile = entry.path().string();
            if (IsImageName(entry.path()) && IsRegularFile(strFile)) files.push_back(strFile);
        }
    } else if (IsStillImageSequence(path)) {
        glob_t matches{};
        if (::glob(path.c_str(), GLOB_NOSORT, nullptr, &matches) == 0) {
            for (size_t i = 0; i < matches.gl_pathc; ++i) {
                const std::string strFile = matches.gl_pathv[i];
                if (IsImageName(strFile) && IsRegularFile(strFile)) files.push_back(strFile);
            }
        }
        ::globfree(&matches);
    }
    std::ranges::sort(files, [](const std::string& a, const std::string& b) {
        return ::strverscmp(a.c_str(), b.c_str()) < 0;
    });
    return files;
}

void SetStillImageRate(double dRate) {
    if (dRate >= 1.0 && dRate <= 1000.0) g_dStillImageRate = dRate;
}

double StillImageRate() { return g_dStillImageRate; }

}  // namespace wmf
