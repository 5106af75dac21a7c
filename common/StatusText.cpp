// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/StatusText.h"

#include <cstdio>

namespace {

struct StatusName {
    HRESULT hr;
    const char* pszName;
};

constexpr StatusName kStatusNames[] = {
    {S_OK, "S_OK"},
    {S_FALSE, "S_FALSE"},
    {E_NOTIMPL, "E_NOTIMPL"},
    {E_NOINTERFACE, "E_NOINTERFACE"},
    {E_POINTER, "E_POINTER"},
    {E_FAIL, "E_FAIL"},
    {E_UNEXPECTED, "E_UNEXPECTED"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {E_ACCESSDENIED, "access denied"},
    {HRESULT_SHARING_VIOLATION, "sharing violation"},
    {HRESULT_DISK_FULL, "disk full"},
    {HRESULT_FILENAME_TOO_LONG, "file name too long"},
    {NS_E_FILE_NOT_FOUND, "NS_E_FILE_NOT_FOUND"},
    {NS_E_INVALID_REQUEST, "NS_E_INVALID_REQUEST"},
    {NS_E_NO_STREAM, "NS_E_NO_STREAM"},
    {NS_E_INVALID_STREAM, "NS_E_INVALID_STREAM"},
    {NS_E_INVALID_INPUT_FORMAT, "NS_E_INVALID_INPUT_FORMAT"},
    {NS_E_INVALID_OUTPUT_FORMAT, "NS_E_INVALID_OUTPUT_FORMAT"},
    {NS_E_INVALIDPROFILE, "NS_E_INVALIDPROFILE"},
    {NS_E_NO_MORE_SAMPLES, "NS_E_NO_MORE_SAMPLES"},
    {ASF_E_BUFFERTOOSMALL, "ASF_E_BUFFERTOOSMALL"},
};

}  // namespace

std::string DescribeStatus(HRESULT hr) {
    char szHex[16];
    std::snprintf(szHex, sizeof szHex, "0x%08X", static_cast<unsigned>(hr));
    for (const StatusName& entry : kStatusNames) {
        if (entry.hr == hr) return std::string(entry.pszName) + " (" + szHex + ")";
    }
    return szHex;
}
