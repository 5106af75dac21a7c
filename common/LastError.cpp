// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/LastError.h"

#include "common/StatusText.h"

HRESULT g_lastErrorCode = 0;

namespace {

struct LastErrorText {
    std::string strMessage;
    std::string strSubject;
    bool bSet = false;
};

LastErrorText& Text() {
    static LastErrorText text;
    return text;
}

}  // namespace

void RecordLastError(const char* message, HRESULT status) {
    RecordLastError(message, status, std::string());
}

void RecordLastError(const char* message, HRESULT status, const std::string& subject) {
    g_lastErrorCode = status;
    LastErrorText& text = Text();
    text.strMessage = message != nullptr ? message : "";
    text.strSubject = subject;
    text.bSet = true;
}

std::string DescribeLastError() {
    const LastErrorText& text = Text();
    if (!text.bSet) return std::string();
    std::string strLine = text.strMessage;
    if (!text.strSubject.empty()) strLine += " " + text.strSubject;
    return strLine + ": " + DescribeStatus(g_lastErrorCode);
}

void ClearLastError() {
    LastErrorText& text = Text();
    text = LastErrorText();
}
