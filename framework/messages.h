// What a keyword call came to: the message, the code tGetLastError gives
// from here, and the "LastError" line some failures leave in the settings
// file. A keyword returns it; only the export layer reports it.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "message_ids.h"

namespace vek {

constexpr int kErrorTextCapacity = 256;

// Outcomes of a keyword function besides its message ids.
enum KeywordOutcome : int {
    kSucceeded = 0,
    kCancelledWithoutCallback = -5,  // the host gets kReturnDialogCancelled, no callback
    kCalledBackItself = -100,        // the function called back; its value is returned
};

// Success or a message id (or another KeywordOutcome); a failure keeps a
// code for tGetLastError by one of three rules, named where it returns: the
// system's last error, a PDH status or a code of the extender's choosing, or
// (a bare message id) the code left as it was.
struct Outcome {
    // A bare message id is an outcome: `return kMsgInvalidFlags;`.
    Outcome(int outcome = kSucceeded) : message(outcome) {}
    // Whether the call ends here: `if (Outcome failure = Step()) return failure;`.
    explicit operator bool() const { return message != kSucceeded; }
    // The same outcome, with "code (context)" for the settings file's LastError.
    Outcome Logging(int32_t code, const char* context) const {
        Outcome logged = *this;
        logged.logCode = code;
        logged.logContext = context;
        return logged;
    }
    Outcome KeepingCode(uint32_t kept) const {
        Outcome with = *this;
        with.keepsCode = true;
        with.code = kept;
        return with;
    }

    int message;
    bool keepsCode = false;  // tGetLastError gives `code` from here
    uint32_t code = 0;
    const char* logContext = nullptr;  // null: nothing logged
    int32_t logCode = 0;
};

inline Outcome FailWithCode(int message, uint32_t code) {
    return Outcome(message).KeepingCode(code);
}
inline Outcome FailWithSystemCode(int message) { return FailWithCode(message, GetLastError()); }
inline Outcome FailWithStatus(int message, LONG status) {
    return FailWithCode(message, static_cast<uint32_t>(status));
}
// A failure logged and kept: the system's last error, or a code of the
// extender's choosing, in the settings file and for tGetLastError.
inline Outcome FailLoggingCode(int message, uint32_t code, const char* context) {
    return FailWithCode(message, code).Logging(static_cast<int32_t>(code), context);
}
inline Outcome FailLoggingSystemCode(int message, const char* context) {
    return FailLoggingCode(message, GetLastError(), context);
}

// The open-process failure tail's choice: keeps the system's code, names 202
// for access denied and otherMessage for everything else.
Outcome OpenProcessFailure(int otherMessage);

// The code the last failure kept, for tGetLastError.
uint32_t SavedErrorCode();

void LoadMessage(int id, char* buffer, int capacity);
// Writes "code (context)" to the settings file's LastError line.
void LogLastError(int32_t code, const char* context);

}  // namespace vek
