// tOpenProc, tKillProc, tCloseProc, tSetPriority, tGetPriority: the handles
// given to the script, the privilege switch that opening for termination
// needs, and the opens that read one figure of a process.
#include "keyword_call.h"
#include "messages.h"
#include "owner.h"
#include "platform.h"
#include "process_shared.h"

namespace vek {

namespace {

// Before Vista the mask with the bits Vista added (0x1FFFFF) is refused with
// ERROR_ACCESS_DENIED for every process ("Process Security and Access
// Rights"); 0x1F0FFF is what those systems know as all access.
constexpr DWORD kAllAccessBeforeVista = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFF;

DWORD AccessForMode(int32_t mode) {
    switch (mode) {
        case 1: return platformInfo.isVersion6Plus ? PROCESS_ALL_ACCESS : kAllAccessBeforeVista;
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
        case REALTIME_PRIORITY_CLASS: return true;
        case BELOW_NORMAL_PRIORITY_CLASS:
        case ABOVE_NORMAL_PRIORITY_CLASS: return platformInfo.isVersion5Plus != 0;
        default: return false;
    }
}

// The handles tOpenProc gave the script and it has not closed. Windows hands
// a closed handle's number out again at once, so a number the script passes
// back is acted on only when it is one of these: otherwise a second close,
// or a wrong number, would close a handle of the host's (the file it is
// writing) or end a process the host started. Static storage, since every
// call releases what it takes; kept packed, the last entry moved into a gap.
struct ScriptHandle {
    HANDLE handle;
    bool namesHost;  // the host's own process: never to be terminated
};
constexpr int kScriptHandleCapacity = 4096;
ScriptHandle scriptHandles[kScriptHandleCapacity];
int scriptHandleCount;

ScriptHandle* FindScriptHandle(HANDLE handle) {
    for (int i = 0; i < scriptHandleCount; ++i) {
        if (scriptHandles[i].handle == handle) return &scriptHandles[i];
    }
    return nullptr;
}

void ForgetScriptHandle(ScriptHandle* entry) { *entry = scriptHandles[--scriptHandleCount]; }

// SeDebugPrivilege for one open: enabled by Enable, put back as it was (the
// previous state the adjustment returns) when the scope ends, keeping the
// last error of what ran inside it. A restore that fails changes no answer.
class DebugPrivilegeScope {
public:
    DebugPrivilegeScope() = default;
    DebugPrivilegeScope(const DebugPrivilegeScope&) = delete;
    DebugPrivilegeScope& operator=(const DebugPrivilegeScope&) = delete;
    ~DebugPrivilegeScope() {
        if (token_ == nullptr) return;
        const DWORD error = GetLastError();
        if (adjusted_)
            AdjustTokenPrivileges(token_, FALSE, &previous_.privileges, 0, nullptr, nullptr);
        CloseHandle(token_);
        SetLastError(error);
    }

    // Succeeds without the privilege when the token does not hold it
    // (ERROR_NOT_ALL_ASSIGNED): whether the open then works is the system's
    // decision.
    bool Enable() {
        TOKEN_PRIVILEGES privileges;
        if (!LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid))
            return false;
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // The previous state is returned only with TOKEN_QUERY as well.
        const DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
        if (!OpenProcessToken(GetCurrentProcess(), access, &token_) &&
            !OpenThreadToken(GetCurrentThread(), access, TRUE, &token_)) {
            token_ = nullptr;
            return false;
        }
        DWORD returned = 0;
        adjusted_ = AdjustTokenPrivileges(token_, FALSE, &privileges, sizeof previous_,
                                          &previous_.privileges, &returned) != FALSE;
        return adjusted_;
    }

private:
    // Room for more than one entry: Wine refuses a previous state of one
    // privilege's size with ERROR_INSUFFICIENT_BUFFER.
    static constexpr size_t kPreviousStateCapacity = 256;
    union {
        TOKEN_PRIVILEGES privileges;
        BYTE bytes[kPreviousStateCapacity];
    } previous_;
    HANDLE token_ = nullptr;
    bool adjusted_ = false;
};

}  // namespace

// A process opened to read one figure and closed again. Services refuse
// PROCESS_QUERY_INFORMATION to a standard user, and protected processes to
// everybody; from Vista on they grant the limited right, which is all
// GetPriorityClass and GetProcessMemoryInfo need there. If that is refused
// too, the first refusal is the one reported.
HANDLE OpenProcessForQuery(DWORD access, DWORD processId) {
    HANDLE process = OpenProcess(access, FALSE, processId);
    if (process == nullptr && GetLastError() == ERROR_ACCESS_DENIED &&
        platformInfo.isVersion6Plus) {
        process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        if (process == nullptr) SetLastError(ERROR_ACCESS_DENIED);
    }
    return process;
}

void CloseScriptHandles() {
    while (scriptHandleCount > 0) CloseHandle(scriptHandles[--scriptHandleCount].handle);
}

int tOpenProc(KeywordCall& call) {
    if (int failure = CheckPlatformOnly()) return failure;
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    const int32_t mode = TextToInt32(ArgText(call, 1));
    HANDLE process;
    {
        DebugPrivilegeScope privilege;
        if (mode == 3 && platformInfo.isNT && !privilege.Enable()) return kMsgDebugPrivilege;
        process = OpenProcess(AccessForMode(mode), FALSE, processId);
    }
    if (process == nullptr) return OpenProcessFailure(kMsgOpenProcessFailed);
    if (scriptHandleCount == kScriptHandleCapacity) {
        CloseHandle(process);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return OpenProcessFailure(kMsgOpenProcessFailed);
    }
    scriptHandles[scriptHandleCount++] = {process, processId == GetCurrentProcessId()};
    // Kernel handles fit in 32 bits and sign-extend back to themselves.
    SetInteger(call, static_cast<int32_t>(reinterpret_cast<intptr_t>(process)));
    return kSucceeded;
}

// A number tOpenProc never gave (the pseudo-handles of the current process
// and thread among them), or one closed already, reaches no system call.
int tKillProc(KeywordCall& call) {
    if (int failure = CheckPlatformOnly()) return failure;
    HANDLE process = reinterpret_cast<HANDLE>(static_cast<intptr_t>(TextToInt64(ArgText(call, 0))));
    const ScriptHandle* entry = FindScriptHandle(process);
    if (entry == nullptr || entry->namesHost) {
        // A script must not end its host.
        SetLastError(entry == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
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
    ScriptHandle* entry = FindScriptHandle(handle);
    if (entry == nullptr) {
        return FailWithCode(kMsgCloseProcFailed, ERROR_INVALID_HANDLE);
    }
    ForgetScriptHandle(entry);
    if (!CloseHandle(handle)) {
        return FailWithSystemCode(kMsgCloseProcFailed);
    }
    SetInteger(call, 1);
    return kSucceeded;
}

// Without SeIncreaseBasePriorityPrivilege (every standard user) a realtime
// request succeeds and sets High: the class is read back, and a process left
// at High is a failure the script hears of. When it cannot be read back, the
// request's own success stands.
int tSetPriority(KeywordCall& call) {
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    const int32_t priorityClass = TextToInt32(ArgText(call, 1));
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, processId);
    if (process == nullptr) return OpenProcessFailure(kMsgOpenProcessFailed);
    HandleGuard guard(process);
    if (!AcceptedPriorityClass(priorityClass)) return kMsgInvalidFlags;
    if (!SetPriorityClass(process, static_cast<DWORD>(priorityClass))) {
        return FailWithSystemCode(kMsgSetPriorityFailed);
    }
    if (priorityClass == REALTIME_PRIORITY_CLASS) {
        const DWORD readAccess = platformInfo.isVersion6Plus ? PROCESS_QUERY_LIMITED_INFORMATION
                                                             : PROCESS_QUERY_INFORMATION;
        HandleGuard reader(OpenProcess(readAccess, FALSE, processId));
        const DWORD setClass = reader ? GetPriorityClass(reader.Get()) : 0;
        if (setClass != 0 && setClass != REALTIME_PRIORITY_CLASS) {
            return FailWithCode(kMsgSetPriorityFailed, ERROR_PRIVILEGE_NOT_HELD);
        }
    }
    SetInteger(call, 1);
    return kSucceeded;
}

int tGetPriority(KeywordCall& call) {
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    HANDLE process = OpenProcessForQuery(PROCESS_QUERY_INFORMATION, processId);
    if (process == nullptr) return OpenProcessFailure(kMsgOpenProcessFailed);
    HandleGuard guard(process);
    const DWORD priorityClass = GetPriorityClass(process);
    if (priorityClass == 0) {
        return FailWithSystemCode(kMsgGetPriorityFailed);
    }
    SetInteger(call, static_cast<int32_t>(priorityClass));
    return kSucceeded;
}

}  // namespace vek
