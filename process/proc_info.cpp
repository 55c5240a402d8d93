// tGetProcInfo, tListMod and tGetModInfo: memory figures and loaded modules
// of one process, named by its id.
#include "keyword_call.h"
#include "messages.h"
#include "owner.h"
#include "platform.h"
#include "process_shared.h"

namespace vek {

namespace {

constexpr DWORD kModuleCapacity = 1024;
constexpr DWORD kModuleEntrySize = 568;
constexpr DWORD kLongPathCapacity = 32768;  // the longest path Windows knows, and its NUL
constexpr DWORD kProcessInfoAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
// While a process starts or changes its module list, EnumProcessModules
// fails with ERROR_PARTIAL_COPY (299); a few short waits usually see it
// whole, and bound the wait when they do not.
constexpr int kPartialCopyTries = 10;
constexpr DWORD kPartialCopyPauseMs = 1;

static_assert(sizeof(MODULEENTRY32) == kModuleEntrySize, "MODULEENTRY32");
static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72, "PROCESS_MEMORY_COUNTERS");
static_assert(sizeof(MODULEINFO) == 24, "MODULEINFO");

bool ValidListMode(int32_t mode) { return mode >= 0 && mode <= 2; }

// One module entry in the form the list mode gives: "path|number", "path"
// or "number". Refused whole when it does not fit.
bool AppendModule(TextBuffer& out, bool first, int32_t mode, const char* path, const char* number) {
    const size_t mark = out.length;
    bool fits = first || out.AppendChar('\t');
    if (fits && mode != 2) fits = out.Append(path);
    if (fits && mode == 0) fits = out.AppendChar('|');
    if (fits && mode != 1) fits = out.Append(number);
    if (!fits) out.Truncate(mark);
    return fits;
}

// From a 64-bit caller the plain form sees a 32-bit (WOW64) process through
// its 64-bit loader list alone: the exe, ntdll and the wow64 DLLs. The Ex
// form with LIST_MODULES_ALL lists its 32-bit modules as well.
BOOL ListModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed) {
    if (Api().EnumProcessModulesEx) {
        return Api().EnumProcessModulesEx(process, modules, size, needed, LIST_MODULES_ALL);
    }
    return Api().EnumProcessModules(process, modules, size, needed);
}

BOOL EnumModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed) {
    for (int tries = 1;; ++tries) {
        if (ListModules(process, modules, size, needed)) return TRUE;
        if (GetLastError() != ERROR_PARTIAL_COPY || tries == kPartialCopyTries) return FALSE;
        Sleep(kPartialCopyPauseMs);
    }
}

Outcome ListModNt(KeywordCall& call, DWORD processId, int32_t mode) {
    HandleGuard process(OpenRunningProcess(kProcessInfoAccess, processId));
    if (!process) return OpenProcessFailure(kMsgOpenProcessFailed);

    // A long-path-aware process (Windows 10 1607 on) loads modules from paths
    // beyond MAX_PATH. A buffer for the longest on the host's stack would
    // take half again what the other keywords take of it.
    HeapBlock<char> path(static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kLongPathCapacity)));
    if (!path) return FailWithCode(kMsgOutOfMemory, ERROR_NOT_ENOUGH_MEMORY);

    TextBuffer out = ResultBuffer(call);
    HMODULE modules[kModuleCapacity];
    DWORD needed = 0;
    if (EnumModules(process.Get(), modules, sizeof modules, &needed) && needed >= sizeof(HMODULE)) {
        // The system reports what all modules need; only the first 1,024
        // are in the array.
        DWORD count = needed / sizeof(HMODULE);
        if (count > kModuleCapacity) count = kModuleCapacity;
        bool first = true;
        for (DWORD i = 0; i < count; ++i) {
            // A path that does not fit comes back cut, with the buffer's
            // size, and is never listed so.
            const DWORD length = Api().GetModuleFileNameExA(process.Get(), modules[i], path.Get(),
                                                            kLongPathCapacity);
            if (length == 0 || length >= kLongPathCapacity) continue;
            if (!ValidListMode(mode)) return kMsgInvalidFlags;
            char number[kUInt64TextCapacity];
            UInt64ToText(reinterpret_cast<uintptr_t>(modules[i]), number);
            if (!AppendModule(out, first, mode, path.Get(), number)) break;
            first = false;
        }
    }
    SetString(call, call.resultText);
    return kSucceeded;
}

// The saved code is the snapshot's last error on every path.
Outcome ListModToolhelp(KeywordCall& call, DWORD processId, int32_t mode) {
    FileHandleGuard snapshot(Api().CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    const DWORD snapshotError = GetLastError();
    if (!snapshot) return FailWithCode(kMsgSnapshotFailed, snapshotError);

    TextBuffer out = ResultBuffer(call);
    MODULEENTRY32 entry;
    entry.dwSize = kModuleEntrySize;
    // An invalid mode writes nothing for the first module and is refused at
    // the second.
    bool more = Api().Module32First(snapshot.Get(), &entry) != FALSE;
    bool full = false;
    if (more && ValidListMode(mode)) {
        char number[kInt32TextCapacity];
        Int32ToText(static_cast<int32_t>(entry.th32ModuleID), number);
        full = !AppendModule(out, true, mode, entry.szExePath, number);
    }
    while (more && !full) {
        entry.dwSize = kModuleEntrySize;
        if (!Api().Module32Next(snapshot.Get(), &entry)) break;
        if (!ValidListMode(mode)) return FailWithCode(kMsgInvalidFlags, snapshotError);
        char number[kInt32TextCapacity];
        Int32ToText(static_cast<int32_t>(entry.th32ModuleID), number);
        full = !AppendModule(out, false, mode, entry.szExePath, number);
    }
    SetString(call, call.resultText);
    return Outcome(kSucceeded).KeepingCode(snapshotError);
}

}  // namespace

Outcome tGetProcInfo(KeywordCall& call) {
    const char* idText = ArgText(call, 0);
    if (!IsIntegerText(idText)) return kMsgInvalidParameter;
    if (!OnNtPath()) return kMsgWrongPlatform;

    // From Vista on GetProcessMemoryInfo needs the limited query right alone.
    HandleGuard process(
        OpenProcessForQuery(kProcessInfoAccess, static_cast<DWORD>(TextToInt32(idText))));
    if (!process) return OpenProcessFailure(kMsgProcInfoFailed);

    TextBuffer out = ResultBuffer(call);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (Api().GetProcessMemoryInfo(process.Get(), &counters, sizeof counters)) {
        const uint64_t figures[] = {
            counters.PageFaultCount,         counters.PeakWorkingSetSize,
            counters.WorkingSetSize,         counters.QuotaPeakPagedPoolUsage,
            counters.QuotaPagedPoolUsage,    counters.QuotaPeakNonPagedPoolUsage,
            counters.QuotaNonPagedPoolUsage, counters.PagefileUsage,
            counters.PeakPagefileUsage,
        };
        for (size_t i = 0; i < sizeof figures / sizeof figures[0]; ++i) {
            char number[kUInt64TextCapacity];
            UInt64ToText(figures[i], number);
            if (i > 0) out.AppendChar('\t');
            out.Append(number);
        }
    }
    SetString(call, call.resultText);
    return kSucceeded;
}

Outcome tListMod(KeywordCall& call) {
    const char* idText = ArgText(call, 0);
    const char* modeText = ArgText(call, 1);
    if (!IsIntegerText(idText) || !IsIntegerText(modeText)) return kMsgInvalidParameter;
    const DWORD processId = static_cast<DWORD>(TextToInt32(idText));
    const int32_t mode = TextToInt32(modeText);
    if (OnNtPath()) return ListModNt(call, processId, mode);
    if (Platform().isWin9x) return ListModToolhelp(call, processId, mode);
    return kMsgWrongPlatform;
}

Outcome tGetModInfo(KeywordCall& call) {
    const char* idText = ArgText(call, 0);
    if (!IsIntegerText(idText)) return kMsgInvalidParameter;
    if (!OnNtPath()) return kMsgWrongPlatform;

    const DWORD processId = static_cast<DWORD>(TextToInt32(idText));
    HMODULE module =
        reinterpret_cast<HMODULE>(static_cast<intptr_t>(TextToInt64(ArgText(call, 1))));
    // A failed open fails as a failed module query does, with the open's code:
    // a null handle passed on would be refused with 6 (and raise an exception
    // in a host that runs with strict handle checks).
    const HandleGuard process(OpenRunningProcess(kProcessInfoAccess, processId));
    if (!process) return FailWithSystemCode(kMsgModInfoFailed);
    MODULEINFO info = {};
    if (!Api().GetModuleInformation(process.Get(), module, &info, sizeof info)) {
        return FailWithSystemCode(kMsgModInfoFailed);
    }
    char number[kUInt64TextCapacity];
    TextBuffer out = ResultBuffer(call);
    UInt64ToText(reinterpret_cast<uintptr_t>(info.lpBaseOfDll), number);
    out.Append(number);
    out.AppendChar('\t');
    Int32ToText(static_cast<int32_t>(info.SizeOfImage), number);
    out.Append(number);
    out.AppendChar('\t');
    UInt64ToText(reinterpret_cast<uintptr_t>(info.EntryPoint), number);
    out.Append(number);
    SetString(call, call.resultText);
    return kSucceeded;
}

}  // namespace vek
