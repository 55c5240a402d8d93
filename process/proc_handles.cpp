// tOpenProc, tKillProc, tCloseProc, tSetPriority, tGetPriority: the handles
// given to the script, the privilege switch that opening for termination
// needs, and the opens that read one figure of a process.
#include <winternl.h>

#include "call_lock.h"
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
        case 1: return Platform().isVersion6Plus ? PROCESS_ALL_ACCESS : kAllAccessBeforeVista;
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
        case ABOVE_NORMAL_PRIORITY_CLASS: return Platform().isVersion5Plus != 0;
        default: return false;
    }
}

// The handles tOpenProc gave the script and it has not closed. Windows hands
// a closed handle's number out again at once, so a number the script passes
// back is acted on only when it is one of these: otherwise a second close,
// or a wrong number, would close a handle of the host's (the file it is
// writing) or end a process the host started. Static storage, since every
// call releases what it takes; kept packed, the last entry moved into a gap.
// Read and changed under the call lock alone: two host threads at once
// would otherwise move entries past each other and the count below zero.
struct ScriptHandle {
    HANDLE handle;
    // The extender's duplicate of it: the same process object, kept alive,
    // and with it the process id, from reuse, whatever the script does.
    HANDLE twin;
    DWORD processId;
    DWORD access;
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

// The entry goes, and with it its twin, unless the twin's number was
// handed out again already (then null).
void ForgetScriptHandle(ScriptHandle* entry) {
    if (entry->twin) CloseHandle(entry->twin);
    *entry = scriptHandles[--scriptHandleCount];
}

// A number handed out anew was closed behind the extender's back: an entry
// that holds it, as its handle or its twin, names something else now.
void ForgetReusedNumber(HANDLE number) {
    for (int i = scriptHandleCount - 1; i >= 0; --i) {
        ScriptHandle& entry = scriptHandles[i];
        if (entry.twin == number) entry.twin = nullptr;
        if (entry.handle == number || entry.twin == nullptr) ForgetScriptHandle(&entry);
    }
}

// The access a handle was granted, as Windows keeps it; false where it
// cannot be asked.
bool GrantedAccess(HANDLE handle, ACCESS_MASK* access) {
    PUBLIC_OBJECT_BASIC_INFORMATION info;
    constexpr ULONG kObjectBasicInformation = 0;
    if (Api().NtQueryObject(handle, kObjectBasicInformation, &info, sizeof info, nullptr) < 0)
        return false;
    *access = info.GrantedAccess;
    return true;
}

// The host that opens the same process again after the script closed its
// handle may get the same number: the process alone cannot tell them apart,
// the access it was opened with can (the twin has the given handle's).
bool SameAccess(const ScriptHandle& entry) {
    if (!Api().NtQueryObject) return true;
    ACCESS_MASK given, twin;
    return GrantedAccess(entry.handle, &given) && GrantedAccess(entry.twin, &twin) && given == twin;
}

// Whether the number still names the process it was given for: a script can
// close it with a plain CloseHandle, and the host's next handle (an event, a
// file, its own process) gets the number. CompareObjectHandles (Windows 10
// on) needs no rights of either handle. Before it, the process id tells, as
// the twin keeps it from reuse; a handle given without a query right can
// only be known to be a process handle (GetProcessId refuses it with 5, any
// other object with 6).
bool SameProcess(const ScriptHandle& entry) {
    if (Api().CompareObjectHandles) {
        return Api().CompareObjectHandles(entry.handle, entry.twin) != FALSE;
    }
    const DWORD id = GetProcessId(entry.handle);
    if (id != 0) return id == entry.processId;
    constexpr DWORD kQueryRights = PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION;
    return GetLastError() == ERROR_ACCESS_DENIED && (entry.access & kQueryRights) == 0;
}

// The same process, with the access it was given. An entry whose twin has
// gone (null) can vouch for nothing, and fails either way: no object
// compares equal to null, and null has no access to compare.
bool StillGiven(const ScriptHandle& entry) { return SameProcess(entry) && SameAccess(entry); }

// The entry a number the script passed back names, or null: an entry whose
// number names something else now goes.
ScriptHandle* GivenHandle(HANDLE handle) {
    ScriptHandle* entry = FindScriptHandle(handle);
    if (entry == nullptr || StillGiven(*entry)) return entry;
    ForgetScriptHandle(entry);
    return nullptr;
}

// A full table may hold numbers the script closed itself: they go first.
void ForgetStaleEntries() {
    for (int i = scriptHandleCount - 1; i >= 0; --i) {
        if (!StillGiven(scriptHandles[i])) ForgetScriptHandle(&scriptHandles[i]);
    }
}

// SeDebugPrivilege for one open, on the calling thread alone: a copy of the
// token it runs under (its own while it impersonates, else the process's)
// with the privilege enabled is set on the thread, and the thread's own
// token, or none, put back when the scope ends, keeping the last error of
// what ran inside it. The process token, which every other thread of the
// host runs under, never changes: a privilege one of them enables or drops
// meanwhile stays as it set it. A restore that fails changes no answer.
class DebugPrivilegeScope {
public:
    DebugPrivilegeScope() = default;
    DebugPrivilegeScope(const DebugPrivilegeScope&) = delete;
    DebugPrivilegeScope& operator=(const DebugPrivilegeScope&) = delete;
    ~DebugPrivilegeScope() {
        if (!set_) return;
        const DWORD error = GetLastError();
        SetThreadToken(nullptr, ownToken_.Get());
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
        // A failed open holds nothing, whatever it left in the handle.
        HandleGuard processToken;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE, TRUE,
                             ownToken_.Put())) {
            ownToken_.Release();
            if (GetLastError() != ERROR_NO_TOKEN) return false;
            if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, processToken.Put())) {
                processToken.Release();
                return false;
            }
        }
        HandleGuard copy;
        if (!DuplicateTokenEx(ownToken_ ? ownToken_.Get() : processToken.Get(),
                              TOKEN_ADJUST_PRIVILEGES | TOKEN_IMPERSONATE, nullptr,
                              SecurityImpersonation, TokenImpersonation, copy.Put())) {
            copy.Release();
            return false;
        }
        if (!AdjustTokenPrivileges(copy.Get(), FALSE, &privileges, 0, nullptr, nullptr))
            return false;
        set_ = SetThreadToken(nullptr, copy.Get()) != FALSE;
        return set_;
    }

private:
    HandleGuard ownToken_;  // the thread's own impersonation token, or none
    bool set_ = false;
};

}  // namespace

// Windows keeps an ended process's object, and its id with it, while any
// handle to it is open (the script's, the extender's twin), so OpenProcess of
// the id still succeeds: an ended process is refused as an id that names no
// process is, with ERROR_INVALID_PARAMETER. `process` holds a query right.
HANDLE OpenedIfRunning(HANDLE process) {
    DWORD exitCode;
    if (process == nullptr || !GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE)
        return process;
    CloseHandle(process);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

HANDLE OpenRunningProcess(DWORD access, DWORD processId) {
    return OpenedIfRunning(OpenProcess(access, FALSE, processId));
}

// A process opened to read one figure and closed again. Services refuse
// PROCESS_QUERY_INFORMATION to a standard user, and protected processes to
// everybody; from Vista on they grant the limited right, which is all
// GetPriorityClass and GetProcessMemoryInfo need there. If that is refused
// too, the first refusal is the one reported.
HANDLE OpenProcessForQuery(DWORD access, DWORD processId) {
    HANDLE process = OpenProcess(access, FALSE, processId);
    if (process == nullptr && GetLastError() == ERROR_ACCESS_DENIED && Platform().isVersion6Plus) {
        process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        if (process == nullptr) SetLastError(ERROR_ACCESS_DENIED);
    }
    return OpenedIfRunning(process);
}

// Only what is still the script's: a number it closed itself may name a
// handle of the host's by now.
void CloseScriptHandles() {
    CallLockScope lock;
    while (scriptHandleCount > 0) {
        ScriptHandle& entry = scriptHandles[--scriptHandleCount];
        if (StillGiven(entry)) CloseHandle(entry.handle);
        if (entry.twin) CloseHandle(entry.twin);
    }
}

Outcome tOpenProc(KeywordCall& call) {
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    const int32_t mode = TextToInt32(ArgText(call, 1));
    const DWORD access = AccessForMode(mode);
    HandleGuard process;
    {
        DebugPrivilegeScope privilege;
        if (mode == 3 && Platform().isNT && !privilege.Enable()) return kMsgDebugPrivilege;
        process.Reset(OpenProcess(access, FALSE, processId));
    }
    if (!process) return OpenProcessFailure(kMsgOpenProcessFailed);
    HandleGuard twin;
    if (!DuplicateHandle(GetCurrentProcess(), process.Get(), GetCurrentProcess(), twin.Put(), 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
        twin.Release();
        process.Reset();
        return OpenProcessFailure(kMsgOpenProcessFailed);
    }
    CallLockScope lock;
    ForgetReusedNumber(process.Get());
    ForgetReusedNumber(twin.Get());
    if (scriptHandleCount == kScriptHandleCapacity) ForgetStaleEntries();
    if (scriptHandleCount == kScriptHandleCapacity) {
        twin.Reset();
        process.Reset();
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return OpenProcessFailure(kMsgOpenProcessFailed);
    }
    // The script's and the table's from here.
    const HANDLE given = process.Release();
    scriptHandles[scriptHandleCount++] = {given, twin.Release(), processId, access,
                                          processId == GetCurrentProcessId()};
    // Kernel handles fit in 32 bits and sign-extend back to themselves.
    SetInteger(call, static_cast<int32_t>(reinterpret_cast<intptr_t>(given)));
    return kSucceeded;
}

// A number tOpenProc never gave (the pseudo-handles of the current process
// and thread among them), one closed already, or one that names another
// object by now, reaches no system call. The lock is held to the end, so
// that no other thread's close can hand the number out meanwhile.
Outcome tKillProc(KeywordCall& call) {
    HANDLE process = reinterpret_cast<HANDLE>(static_cast<intptr_t>(TextToInt64(ArgText(call, 0))));
    CallLockScope lock;
    const ScriptHandle* entry = GivenHandle(process);
    if (entry == nullptr || entry->namesHost) {
        // A script must not end its host.
        SetLastError(entry == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
        return FailLoggingSystemCode(kMsgTerminateFailed, keyword_name::tKillProc);
    }
    // TerminateProcess only begins the end ("initiates termination and
    // returns immediately"); until the process has drained, and after, Windows
    // refuses another with ERROR_ACCESS_DENIED. Through a handle with the
    // terminate right that refusal means the process is ending or has ended,
    // as asked; without the right Windows refuses first, whatever the
    // process's state. Wine ends the process before the call returns and
    // lets a second one pass.
    if (!TerminateProcess(process, 1) &&
        !(GetLastError() == ERROR_ACCESS_DENIED && (entry->access & PROCESS_TERMINATE))) {
        return FailLoggingSystemCode(kMsgTerminateFailed, keyword_name::tKillProc);
    }
    SetInteger(call, 1);
    return kSucceeded;
}

Outcome tCloseProc(KeywordCall& call) {
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(TextToInt32(ArgText(call, 0))));
    CallLockScope lock;
    ScriptHandle* entry = GivenHandle(handle);
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
// request succeeds and sets High: the class is read before and after, and a
// process left other than asked is set back and a failure the script hears
// of. Where the class cannot be read, the request's own success stands. The
// reader (the limited query right from Vista on) also tells a process that
// has ended; one that cannot be opened says nothing of it.
Outcome tSetPriority(KeywordCall& call) {
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    const int32_t priorityClass = TextToInt32(ArgText(call, 1));
    HandleGuard process(OpenProcess(PROCESS_SET_INFORMATION, FALSE, processId));
    if (!process) return OpenProcessFailure(kMsgOpenProcessFailed);
    const DWORD readAccess =
        Platform().isVersion6Plus ? PROCESS_QUERY_LIMITED_INFORMATION : PROCESS_QUERY_INFORMATION;
    HandleGuard reader(OpenRunningProcess(readAccess, processId));
    if (!reader && GetLastError() == ERROR_INVALID_PARAMETER)
        return OpenProcessFailure(kMsgOpenProcessFailed);
    if (!AcceptedPriorityClass(priorityClass)) return kMsgInvalidFlags;
    const DWORD before =
        reader && priorityClass == REALTIME_PRIORITY_CLASS ? GetPriorityClass(reader.Get()) : 0;
    if (!SetPriorityClass(process.Get(), static_cast<DWORD>(priorityClass))) {
        return FailWithSystemCode(kMsgSetPriorityFailed);
    }
    if (before != 0) {
        const DWORD setClass = GetPriorityClass(reader.Get());
        if (setClass != 0 && setClass != REALTIME_PRIORITY_CLASS) {
            SetPriorityClass(process.Get(), before);
            return FailWithCode(kMsgSetPriorityFailed, ERROR_PRIVILEGE_NOT_HELD);
        }
    }
    SetInteger(call, 1);
    return kSucceeded;
}

Outcome tGetPriority(KeywordCall& call) {
    const DWORD processId = static_cast<DWORD>(TextToInt32(ArgText(call, 0)));
    HandleGuard process(OpenProcessForQuery(PROCESS_QUERY_INFORMATION, processId));
    if (!process) return OpenProcessFailure(kMsgOpenProcessFailed);
    const DWORD priorityClass = GetPriorityClass(process.Get());
    if (priorityClass == 0) {
        return FailWithSystemCode(kMsgGetPriorityFailed);
    }
    SetInteger(call, static_cast<int32_t>(priorityClass));
    return kSucceeded;
}

}  // namespace vek
