// The last-error record as the media tests link it: the product's behaviour (g_lastErrorCode
// keeps the latest status) plus a list of every report, so that tests can see the messages.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "common/LastError.h"

struct RecordedError {
    std::string message;
    HRESULT status;

    bool operator==(const RecordedError&) const = default;
};
using Errors = std::vector<RecordedError>;

// For test failure messages: "message" (0x........).
void PrintTo(const RecordedError& error, std::ostream* pOut);

// Every RecordLastError since the last ClearRecordedErrors, in order.
const std::vector<RecordedError>& RecordedErrors();
// Forgets the list and sets g_lastErrorCode back to 0.
void ClearRecordedErrors();
// The messages alone.
std::vector<std::string> RecordedMessages();
