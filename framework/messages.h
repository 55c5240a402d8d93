// The code a failure keeps for tGetLastError, the message text, and the
// "LastError" line some failures leave in the settings file.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "message_ids.h"

namespace vek {

constexpr int kErrorTextCapacity = 256;
extern char errorText[kErrorTextCapacity];
extern uint32_t savedErrorCode;

// A failure keeps a code for tGetLastError by one of three rules, named where
// it returns: the system's last error, a PDH status or a code of the
// extender's choosing, or (a bare message id) the code left as it was.
inline int FailWithSystemCode(int message) {
    savedErrorCode = GetLastError();
    return message;
}
inline int FailWithCode(int message, uint32_t code) {
    savedErrorCode = code;
    return message;
}
inline int FailWithStatus(int message, LONG status) {
    return FailWithCode(message, static_cast<uint32_t>(status));
}

void LoadMessage(int id, char* buffer, int capacity);
// Writes "code (context)" to the settings file's LastError line; the saved
// code is left to the failure's own rule.
void LogLastError(int32_t code, const char* context);

// A failure logged and kept: the system's last error, or a code of the
// extender's choosing, in the settings file and for tGetLastError.
inline int FailLoggingCode(int message, uint32_t code, const char* context) {
    LogLastError(static_cast<int32_t>(code), context);
    return FailWithCode(message, code);
}
inline int FailLoggingSystemCode(int message, const char* context) {
    return FailLoggingCode(message, GetLastError(), context);
}

// The open-process failure tail's choice: keeps the system's code, names 202
// for access denied and otherMessage for everything else.
int OpenProcessFailure(int otherMessage);

}  // namespace vek
