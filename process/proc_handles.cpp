// tOpenProc, tKillProc, tCloseProc, tSetPriority, tGetPriority, and the
// privilege switch that opening for termination needs.
#include "extender.h"

namespace vek {

namespace {

DWORD AccessForMode(int32_t mode) {
    switch (mode) {
        case 1: return PROCESS_ALL_ACCESS;
        case 2: return PROCESS_QUERY_INFORMATION;
        case 3: return PROCESS_TERMINATE;
        default: return PROCESS_VM_READ;  // there is no invalid mode
    }
}

bool AcceptedPriorityClass(int32_t priorityClass) {
    switch (priorityClass) {
        case NORMAL_PRIORITY_CLASS:
        case IDLE_PRIORITY_CLASS:
        case HIGH_PRIORITY_CLASS:
        case REALTIME_PRIORITY_CLASS:
            return true;
        case BELOW_NORMAL_PRIORITY_CLASS:
        case ABOVE_NORMAL_PRIORITY_CLASS:
            return platformInfo.isVersion5Plus != 0;
        default:
            return false;
    }
}

// The pseudo-handles for the current process and thread: a script never
// receives them from tOpenProc, and terminating through them would end the
// host itself.
bool IsPseudoHandle(HANDLE handle) {
    return handle == GetCurrentProcess() || handle == GetCurrentThread();
}

}  // namespace

BOOL EnablePrivilege(const char* privilegeName) {
    TOKEN_PRIVILEGES privileges;
    if (!LookupPrivilegeValueA(nullptr, privilegeName, &privileges.Privileges[0].Luid)) {
        return FALSE;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;

    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token) &&
        !OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES, TRUE, &token)) {
        return FALSE;
    }
    HandleGuard guard(token);
    // Succeeds with ERROR_NOT_ALL_ASSIGNED when the token lacks the
    // privilege; whether the open then works is the system's decision.
    return AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) ? TRUE : FALSE;
}

int tOpenProc(KeywordCall& call) {
    if (int failure = CheckPlatformOnly()) return failure;
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    const int32_t mode = TextToInt32(ArgText(call, 1));
    if (mode == 3 && platformInfo.isNT && !EnablePrivilege("SeDebugPrivilege")) {
        return kMsgDebugPrivilege;
    }
    HANDLE process = OpenProcess(AccessForMode(mode), FALSE, processId);
    if (process == nullptr) return OpenProcessFailure(kMsgOpenProcessFailed);
    // Kernel handles fit in 32 bits and sign-extend back to themselves.
    SetInteger(call, static_cast<int32_t>(reinterpret_cast<intptr_t>(process)));
    return kSucceeded;
}

int tKillProc(KeywordCall& call) {
    if (int failure = CheckPlatformOnly()) return failure;
    HANDLE process = reinterpret_cast<HANDLE>(static_cast<intptr_t>(TextToInt64(ArgText(call, 0))));
    if (IsPseudoHandle(process)) {
        SetLastError(ERROR_INVALID_HANDLE);
        LogLastError("tKillProc");
        return kMsgTerminateFailed;
    }
    if (!TerminateProcess(process, 1)) {
        LogLastError("tKillProc");
        return kMsgTerminateFailed;
    }
    SetInteger(call, 1);
    return kSucceeded;
}

int tCloseProc(KeywordCall& call) {
    if (int failure = CheckPlatformOnly()) return failure;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(TextToInt32(ArgText(call, 0))));
    if (!CloseHandle(handle)) {
        savedErrorCode = GetLastError();
        return kMsgCloseProcFailed;
    }
    SetInteger(call, 1);
    return kSucceeded;
}

int tSetPriority(KeywordCall& call) {
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    const int32_t priorityClass = TextToInt32(ArgText(call, 1));
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, processId);
    if (process == nullptr) return OpenProcessFailure(kMsgOpenProcessFailed);
    HandleGuard guard(process);
    if (!AcceptedPriorityClass(priorityClass)) return kMsgInvalidFlags;
    if (!SetPriorityClass(process, static_cast<DWORD>(priorityClass))) {
        savedErrorCode = GetLastError();
        return kMsgSetPriorityFailed;
    }
    SetInteger(call, 1);
    return kSucceeded;
}

int tGetPriority(KeywordCall& call) {
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    // Services refuse PROCESS_QUERY_INFORMATION to a standard user, and
    // protected processes to everybody; from Vista on they grant the limited
    // right, which is all GetPriorityClass needs. If that is refused too,
    // the first refusal is the one reported.
    if (process == nullptr && GetLastError() == ERROR_ACCESS_DENIED && platformInfo.isVersion6Plus) {
        process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        if (process == nullptr) SetLastError(ERROR_ACCESS_DENIED);
    }
    if (process == nullptr) return OpenProcessFailure(kMsgOpenProcessFailed);
    HandleGuard guard(process);
    const DWORD priorityClass = GetPriorityClass(process);
    if (priorityClass == 0) {
        savedErrorCode = GetLastError();
        return kMsgGetPriorityFailed;
    }
    SetInteger(call, static_cast<int32_t>(priorityClass));
    return kSucceeded;
}

}  // namespace vek
