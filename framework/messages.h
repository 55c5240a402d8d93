// The extender's message ids, the code a failure keeps for tGetLastError,
// and the "LastError" line some failures leave in the settings file.
#pragma once

#include <windows.h>

#include <stdint.h>

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

// Message ids of the extender's string table.
enum MessageId {
    kMsgSnapshotFailed = 200,
    kMsgOpenProcessFailed = 201,
    kMsgAccessDenied = 202,
    kMsgInvalidFlags = 203,
    kMsgProcInfoFailed = 204,
    kMsgInvalidParameter = 205,
    kMsgModInfoFailed = 206,
    kMsgNoPsapi = 207,
    kMsgOldPsapi = 208,
    kMsgWrongPlatform = 209,
    kMsgBrowseFailed = 210,
    kMsgOldPdh = 211,
    kMsgTerminateFailed = 212,
    kMsgNoCounterIndex = 213,
    kMsgRegistryProblem = 214,
    kMsgListProcFailed = 215,
    kMsgCloseQueryFailed = 217,
    kMsgInvalidHandle = 218,
    kMsgCollectFailed = 220,
    kMsgRemoveCounterFailed = 221,
    kMsgInvalidCounterName = 222,
    kMsgCounterNotFound = 223,
    kMsgBadArgument = 224,
    kMsgInvalidData = 225,
    kMsgBadCounterHandle = 226,
    kMsgInstanceMissing = 227,
    kMsgGetDataFailed = 228,
    kMsgCloseProcFailed = 229,
    kMsgNoPdh = 230,
    kMsgObjectNotFound = 231,
    kMsgBrowseInstanceMissing = 233,
    kMsgRemoteConnFailed = 234,
    kMsgNoMachine = 235,
    kMsgSetPriorityFailed = 236,
    kMsgGetPriorityFailed = 237,
    kMsgNoKernel32 = 238,
    kMsgNoIdProcessCounter = 239,
    kMsgDebugPrivilege = 244,
    kMsgOutOfMemory = 245,
    kMsgParsePathFailed = 246,
    kMsgNoSuchFunction = 901,
    kMsgDescription = 1000,
};

void LoadMessage(int id, char* buffer, int capacity);
void LogLastError(const char* context);
void LogLastError(int32_t code, const char* context);
int GetSettingsFolder(char* buffer, int size);

// The open-process failure tail's choice: keeps the system's code, names 202
// for access denied and otherMessage for everything else.
int OpenProcessFailure(int otherMessage);

}  // namespace vek
