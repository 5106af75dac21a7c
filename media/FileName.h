// SPDX-License-Identifier: GPL-3.0-or-later
// File names as the dialog's boxes give them, turned into the runtime's wide text.
#pragma once

#include <cstddef>
#include <cstring>

#include "common/LastError.h"
#include "platform/wmf/wmsdk.h"

// Room for a file name in wide characters, the terminator included.
constexpr size_t kFileNameChars = 1000;

// Byte-transparent widening: each byte becomes the wide character of the same value, so names
// with bytes above 0x7F (accented letters in any 8-bit or UTF-8 form) reach the runtime intact.
// A null name counts as empty. Returns false, leaving `wszName` untouched, when the name with
// its terminator does not fit.
inline bool WidenFileName(const char* pszName, WCHAR (&wszName)[kFileNameChars]) {
    if (pszName == nullptr) pszName = "";
    const size_t length = std::strlen(pszName);
    if (length + 1 > kFileNameChars) return false;
    for (size_t i = 0; i <= length; ++i) {
        wszName[i] = static_cast<WCHAR>(static_cast<unsigned char>(pszName[i]));
    }
    return true;
}

// What a name box's commit does first: widens the name, calls close (whose status is not looked
// at), then returns open's status for the wide name, or, for a name that does not fit, records
// pszRefusal with E_INVALIDARG and returns that.
template <class Close, class Open>
HRESULT ReopenByName(const char* pszName, const char* pszRefusal, Close close, Open open) {
    WCHAR wszName[kFileNameChars];
    const bool bFits = WidenFileName(pszName, wszName);
    close();
    if (!bFits) {
        RecordLastError(pszRefusal, E_INVALIDARG, pszName);
        return E_INVALIDARG;
    }
    return open(static_cast<const WCHAR*>(wszName));
}
