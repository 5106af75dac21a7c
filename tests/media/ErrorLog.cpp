#include "tests/media/ErrorLog.h"

#include <cstdio>

HRESULT g_lastErrorCode = 0;

namespace {
std::vector<RecordedError>& Log() {
    static std::vector<RecordedError> log;
    return log;
}
}  // namespace

void RecordLastError(const char* message, HRESULT status) {
    g_lastErrorCode = status;
    Log().push_back(RecordedError{message, status});
}

const std::vector<RecordedError>& RecordedErrors() { return Log(); }

void ClearRecordedErrors() {
    Log().clear();
    g_lastErrorCode = 0;
}

void PrintTo(const RecordedError& error, std::ostream* pOut) {
    char status[16];
    std::snprintf(status, sizeof status, "0x%08X", static_cast<unsigned>(error.status));
    *pOut << '"' << error.message << "\" (" << status << ")";
}

std::vector<std::string> RecordedMessages() {
    std::vector<std::string> messages;
    for (const RecordedError& error : Log()) messages.push_back(error.message);
    return messages;
}
