// Process listing, handles, priority and module information, on real
// processes: this test program and sleeper children of its own.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <optional>
#include <set>

#include "host.h"
#include "perf_data.h"
#include "rig.h"

#include <psapi.h>

using namespace test;

namespace {

// ---- What Wine cannot show, served through the rig ----------------------

// The English counter-name list, as Windows has it, and the reads of the
// performance data; a fault fails one read after it was made.
decltype(&RegQueryValueExA) realQuery;
// A read loop that never ends is failed here rather than by the timeout.
constexpr int kPerfReadLimit = 24;

using perfdata::Pairs;
const std::string& kWindowsNames = rig::kWindowsCounterNames;

// What the fakes below serve and record: one set, put back as a whole as
// each test starts.
enum Step { kNone, kLookup, kThreadToken, kProcessToken, kDuplicate, kAdjust, kSet, kRestore };
struct Fakes {
    std::string counterList = kWindowsNames;
    rig::Fault perfRead, heapAlloc, heapReAlloc;
    LSTATUS perfFailure = 0;
    // Performance data as Windows serves it (empty: the provider's, as Wine
    // reads it); the size is left at 0 on ERROR_MORE_DATA, as Windows leaves it.
    std::string servedData;
    std::string openedKeys, accesses;  // each open's access, in order
    std::string steps;  // the privilege calls made, with what they were asked, and the opens
    UINT codePage = 0;
    DWORD openAccess = 0, openError = 0, limitedError = 0, closeError = 0;  // closeError: a close refused with it
    BOOL openInherit = FALSE, memoryInfoFails = FALSE;
    DWORD servedProcesses = 0, memoryInfoOf = 0, reported = 0, enumSize = 0, enumFilter = 0, enumOf = 0;
    std::vector<DWORD> arraySizes;  // what each call was given, in ids
    Step failing = kNone;
    int tokenSets = 0;
    bool hostEnables = false;  // another host thread enables SeDebugPrivilege on the process token during the open
    int partialCopies = 0, enumCalls = 0;
    HMODULE stranger = nullptr;  // in the second place: a module whose path cannot be read
    HMODULE longModule = nullptr;
    DWORD slept = 0;  // the pauses between tries, in milliseconds
    HANDLE closed = nullptr, terminated = nullptr;
    bool ended = false;  // Windows' answer for a process that has ended, which Wine's success hides
};
Fakes fake;

LSTATUS WINAPI ServeQuery(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD size) {
    if (key == HKEY_PERFORMANCE_DATA) {
        LSTATUS status = ERROR_MORE_DATA;
        if (strcmp(name, "230") != 0) {
            status = ERROR_FILE_NOT_FOUND;  // only the Process object is asked for
        } else if (fake.servedData.empty()) {
            status = realQuery(key, name, reserved, type, data, size);
        } else if (data == nullptr || *size < fake.servedData.size()) {
            *size = 0;
        } else {
            memcpy(data, fake.servedData.data(), fake.servedData.size());
            *size = static_cast<DWORD>(fake.servedData.size());
            status = ERROR_SUCCESS;
        }
        return fake.perfRead.Now() || fake.perfRead.calls > kPerfReadLimit ? fake.perfFailure : status;
    }
    LSTATUS served;
    if (rig::ServeCounterNames(fake.counterList, name, type, data, size, &served)) return served;
    return realQuery(key, name, reserved, type, data, size);
}

// The keys the extender opens: where, with which options and access.
decltype(&RegOpenKeyExA) realOpenKey;
LSTATUS WINAPI RecordOpenKey(HKEY key, LPCSTR sub, DWORD options, REGSAM access, PHKEY opened) {
    fake.openedKeys += std::string(key == HKEY_LOCAL_MACHINE ? "HKLM\\" : "?\\") + sub + " " + std::to_string(options) + " " +
                  std::to_string(access) + "\n";
    return realOpenKey(key, sub, options, access, opened);
}

// The ANSI code page as the extender sees it (0: the system's): a UTF-8 one
// or a double-byte one, whose CharNextA steps over a lead and trail byte.
decltype(&WideCharToMultiByte) realWideToAnsi;
decltype(&CharNextA) realCharNext;
UINT WINAPI ServeAcp() { return fake.codePage ? fake.codePage : GetACP(); }
int WINAPI ServeWideToAnsi(UINT page, DWORD flags, LPCWCH wide, int units, LPSTR out, int size,
                           LPCCH fallback, LPBOOL used) {
    return realWideToAnsi(page == CP_ACP && fake.codePage ? fake.codePage : page, flags, wide, units, out, size,
                          fallback, used);
}
LPSTR WINAPI ServeCharNext(LPCSTR at) {
    if (fake.codePage == 0) return realCharNext(at);
    const bool pair = fake.codePage != CP_UTF8 && IsDBCSLeadByteEx(fake.codePage, *at) && at[1];
    return const_cast<LPSTR>(*at ? at + (pair ? 2 : 1) : at);
}
std::string Times(const std::string& piece, int count) {
    std::string text;
    while (count-- > 0) text += piece;
    return text;
}

decltype(&HeapAlloc) realHeapAlloc;
decltype(&HeapReAlloc) realHeapReAlloc;
LPVOID WINAPI FailHeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    return fake.heapAlloc.Now() ? nullptr : realHeapAlloc(heap, flags, bytes);
}
LPVOID WINAPI FailHeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
    return fake.heapReAlloc.Now() ? nullptr : realHeapReAlloc(heap, flags, block, bytes);
}

// OpenProcess as the extender asks for it; a nonzero openError refuses,
// and limitedError the limited query right in its place (0 grants it).
decltype(&OpenProcess) realOpen;
bool DebugEnabled(bool thread);
void SetDebug(bool enabled);
HANDLE WINAPI RecordOpen(DWORD access, BOOL inherit, DWORD id) {
    fake.steps += DebugEnabled(true) ? "open:debug " : "open ";
    if (fake.hostEnables) SetDebug(true);
    fake.openAccess = access;
    fake.accesses += std::to_string(access) + " ";
    fake.openInherit = inherit;
    const DWORD error = access == PROCESS_QUERY_LIMITED_INFORMATION ? fake.limitedError : fake.openError;
    if (error == 0) return realOpen(access, inherit, id);
    return SetLastError(error), nullptr;
}

// The priority calls, failing with a code of their own.
constexpr DWORD kPriorityError = ERROR_GEN_FAILURE;
DWORD WINAPI NoPriority(HANDLE) { return SetLastError(kPriorityError), 0; }
BOOL WINAPI NoNewPriority(HANDLE, DWORD) { return SetLastError(kPriorityError), FALSE; }
// Windows without SeIncreaseBasePriorityPrivilege: realtime asked, High set, success said.
decltype(&SetPriorityClass) realSetPriority;
BOOL WINAPI HighForRealtime(HANDLE process, DWORD priorityClass) {
    return realSetPriority(process, priorityClass == REALTIME_PRIORITY_CLASS ? HIGH_PRIORITY_CLASS : priorityClass);
}

// EnumProcesses with as many processes as a row says, within the array.
BOOL WINAPI ServeProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
    fake.arraySizes.push_back(bytes / sizeof(DWORD));
    if (fake.servedProcesses == 0) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
    const DWORD count = fake.servedProcesses < bytes / sizeof(DWORD) ? fake.servedProcesses : bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) ids[i] = 4 * (i + 1);
    *returned = count * sizeof(DWORD);
    return TRUE;
}

// Distinct figures, the pointer-sized ones above 32 bits, and the process
// they were asked of.
BOOL WINAPI ServeMemoryInfo(HANDLE process, PPROCESS_MEMORY_COUNTERS counters, DWORD size) {
    fake.memoryInfoOf = GetProcessId(process);
    if (fake.memoryInfoFails || size != sizeof *counters || counters->cb != sizeof *counters) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    counters->PageFaultCount = 4000000001u;
    SIZE_T* field = &counters->PeakWorkingSetSize;
    for (int i = 0; i < 8; ++i) field[i] = (SIZE_T{1} << 32) * (i + 1) + i + 2;
    return TRUE;
}
const char kServedFigures[] =
    "4000000001\t4294967298\t8589934595\t12884901892\t17179869189\t21474836486\t"
    "25769803783\t30064771080\t34359738377";

// The debug privilege as the extender asks for it; the fault fails one step.
decltype(&LookupPrivilegeValueA) realLookup;
decltype(&OpenProcessToken) realProcessToken;
decltype(&OpenThreadToken) realThreadToken;
decltype(&DuplicateTokenEx) realDuplicateToken;
decltype(&AdjustTokenPrivileges) realAdjust;
decltype(&SetThreadToken) realSetToken;
BOOL Failing(Step step) { return fake.failing == step ? (SetLastError(ERROR_ACCESS_DENIED), TRUE) : FALSE; }
BOOL WINAPI RecordLookup(LPCSTR system, LPCSTR name, PLUID luid) {
    fake.steps += std::string("lookup:") + (system ? system : "") + ":" + name + " ";
    return Failing(kLookup) ? FALSE : realLookup(system, name, luid);
}
BOOL WINAPI RecordProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    fake.steps += "process:" + std::to_string(process == GetCurrentProcess()) + ":" + std::to_string(access) + " ";
    return Failing(kProcessToken) ? FALSE : realProcessToken(process, access, token);
}
BOOL WINAPI RecordThreadToken(HANDLE thread, DWORD access, BOOL self, PHANDLE token) {
    fake.steps += "thread:" + std::to_string(thread == GetCurrentThread()) + ":" + std::to_string(access) + ":" + std::to_string(self) + " ";
    return Failing(kThreadToken) ? FALSE : realThreadToken(thread, access, self, token);
}
BOOL WINAPI RecordDuplicateToken(HANDLE from, DWORD access, LPSECURITY_ATTRIBUTES attributes, SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE token) {
    fake.steps += "duplicate:" + std::to_string(access) + ":" + std::to_string(level) + ":" + std::to_string(type) + " ";
    return Failing(kDuplicate) ? FALSE : realDuplicateToken(from, access, attributes, level, type, token);
}
BOOL WINAPI RecordAdjust(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD length, PTOKEN_PRIVILEGES previous, PDWORD returned) {
    LUID debug;
    realLookup(nullptr, "SeDebugPrivilege", &debug);
    fake.steps += "adjust:" + std::to_string(disableAll) + ":" + std::to_string(state->PrivilegeCount) +
             (state->PrivilegeCount && memcmp(&state->Privileges[0].Luid, &debug, sizeof debug) ? ":other" : "") +
             ":" + std::to_string(state->PrivilegeCount ? state->Privileges[0].Attributes : 99) + ":" + std::to_string(length) +
             ":" + std::to_string(previous == nullptr && returned == nullptr) + " ";
    return Failing(kAdjust) ? FALSE : realAdjust(token, disableAll, state, length, previous, returned);
}
BOOL WINAPI RecordSetToken(PHANDLE thread, HANDLE token) {
    fake.steps += "set:" + std::to_string(thread == nullptr) + ":" + std::to_string(token != nullptr) + " ";
    return Failing(++fake.tokenSets == 1 ? kSet : kRestore) ? FALSE : realSetToken(thread, token);
}
// SeDebugPrivilege's state in the calling thread's token (`thread`) or the process's.
bool DebugEnabled(bool thread) {
    HANDLE token;
    if (!(thread ? OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) : OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))) return false;
    LUID debug;
    LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &debug);
    union { TOKEN_PRIVILEGES held; BYTE bytes[4096]; } privileges;
    DWORD size = 0, enabled = 0;
    if (GetTokenInformation(token, TokenPrivileges, &privileges, sizeof privileges, &size)) {
        for (DWORD i = 0; i < privileges.held.PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& p = privileges.held.Privileges[i];
            if (p.Luid.LowPart == debug.LowPart && p.Luid.HighPart == debug.HighPart) enabled = p.Attributes & SE_PRIVILEGE_ENABLED;
        }
    }
    CloseHandle(token);
    return enabled != 0;
}
void SetDebug(bool enabled) {
    HANDLE token;
    TOKEN_PRIVILEGES state = {1, {{{}, enabled ? DWORD{SE_PRIVILEGE_ENABLED} : 0}}};
    LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &state.Privileges[0].Luid);
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) AdjustTokenPrivileges(token, FALSE, &state, 0, nullptr, nullptr), CloseHandle(token);
}
// The thread's token as the system knows it (0: none).
LUID ThreadTokenId() {
    HANDLE token;
    TOKEN_STATISTICS statistics = {};
    DWORD size;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) GetTokenInformation(token, TokenStatistics, &statistics, sizeof statistics, &size), CloseHandle(token);
    return statistics.TokenId;
}

// EnumProcessModules and its Ex form as 64-bit Windows gives them for a
// 32-bit process: the plain form, and any filter but LIST_MODULES_ALL, see
// the 64-bit view alone (here the first three modules). Both refuse with
// ERROR_PARTIAL_COPY the first times, as while a process starts; a nonzero
// `reported` fills the whole array with the first module and reports that
// many bytes needed.
typedef BOOL(WINAPI* EnumModulesExFn)(HANDLE, HMODULE*, DWORD, LPDWORD, DWORD);
EnumModulesExFn realEnumModules;
constexpr DWORD kPlainForm = 0xFFFFFFFF, kView = 3 * sizeof(HMODULE);
BOOL WINAPI ServeModulesEx(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed, DWORD filter) {
    fake.enumSize = size;
    fake.enumFilter = filter;
    fake.enumOf = GetProcessId(process);
    if (++fake.enumCalls <= abs(fake.partialCopies)) return SetLastError(fake.partialCopies > 0 ? ERROR_PARTIAL_COPY : ERROR_ACCESS_DENIED), FALSE;
    if (!realEnumModules(process, modules, size, needed, LIST_MODULES_ALL)) return FALSE;
    if (filter != LIST_MODULES_ALL) *needed = std::min(*needed, kView);
    if (fake.stranger) modules[1] = fake.stranger;
    if (fake.reported) {
        std::fill(modules, modules + size / sizeof(HMODULE), modules[0]);
        *needed = fake.reported;
    }
    return TRUE;
}
// One module's path as a long-path-aware process has it, beyond MAX_PATH,
// given as Windows gives it: cut to the buffer, with the buffer's size.
const std::string kLongPath = "C:\\" + std::string(300, 'p') + ".dll";
decltype(&GetModuleFileNameExA) realModulePath;
DWORD WINAPI ServeLongPath(HANDLE process, HMODULE module, LPSTR path, DWORD size) {
    if (module != fake.longModule) return realModulePath(process, module, path, size);
    const DWORD copied = std::min<DWORD>(size - 1, kLongPath.size());
    return *std::copy_n(kLongPath.begin(), copied, path) = '\0', copied < kLongPath.size() ? size : copied;
}
void WINAPI CountSleep(DWORD ms) { fake.slept += ms; }
BOOL WINAPI ServeModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) {
    return ServeModulesEx(process, modules, size, needed, kPlainForm);
}

// CloseHandle and TerminateProcess: what they were given. This process is
// never ended, whatever the extender asks.
decltype(&CloseHandle) realClose;
decltype(&TerminateProcess) realTerminate;
HANDLE Number(const std::string& text) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(atoll(text.c_str()))); }
BOOL WINAPI RecordClose(HANDLE handle) { return fake.closed = handle, fake.closeError ? (SetLastError(fake.closeError), FALSE) : realClose(handle); }
BOOL WINAPI RecordTerminate(HANDLE process, UINT code) {
    const bool self = (fake.terminated = process) == GetCurrentProcess() || GetProcessId(process) == GetCurrentProcessId();
    return self || fake.ended ? (SetLastError(ERROR_ACCESS_DENIED), FALSE) : realTerminate(process, code);
}

// The handles of this process to process `id` that tell it (GetProcessId: a query right), among
// the numbers below `bound`.
std::set<HANDLE> HandlesTo(DWORD id, uintptr_t bound = 0x1000) {
    std::set<HANDLE> found;
    for (uintptr_t h = 4; h < bound; h += 4) {
        if (GetProcessId(reinterpret_cast<HANDLE>(h)) == id) found.insert(reinterpret_cast<HANDLE>(h));
    }
    return found;
}

struct NtListRow;

class Processes : public ::testing::Test {
protected:
    // Every fake as a test starts: an assertion that stops a table leaves nothing to the next test.
    void SetUp() override {
        fake = Fakes{};
        ASSERT_TRUE(host.Loaded()) << host.LoadError();
        ASSERT_EQ(host.Initialise(), 19);
        host.LastError();
        psapi = LoadLibraryA("psapi.dll");
    }
    void TearDown() override {
        host.Terminate();
        if (psapi) FreeLibrary(psapi);
    }
    template <typename Fn>
    Fn Psapi(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(psapi, name)));
    }
    std::string Self() const { return std::to_string(GetCurrentProcessId()); }
    void WalkNtListRows(const std::vector<NtListRow>& rows);

    Host host;
    HMODULE psapi = nullptr;
};

}  // namespace

// One walk of the NT path, as a row gives it: the provider's scenario or
// the data served as Windows shapes it, the counter names, a failing read
// or allocation, and what comes of it.
namespace {
struct NtListRow {
        const char* name;
    const char* scenario;
    std::string names;
    int failRead;        // which read of the performance data fails (1: the size probe)
    LSTATUS failure;
    std::string text;
    int reads;           // of the performance data; -1: not looked at
    std::string served;  // performance data as Windows shapes it, instead of the provider's
    UINT codePage;
    int heapFault;       // 1: the buffer cannot be had, 2: it cannot grow
    DWORD code;          // tGetLastError afterwards (0: the 6 set before, untouched)
    const char* logged;
};
}  // namespace

// Wine's fixed English counter-name list has no "Process", and cannot be
// written: the list Windows has is served, and with it the NT path runs end
// to end on the registered provider's data, or on data as Windows shapes it.
void Processes::WalkNtListRows(const std::vector<NtListRow>& rows) {
    rig::Patch query(host.Module(), "ADVAPI32.dll", "RegQueryValueExA", ServeQuery, &realQuery);
    rig::Patch acp(host.Module(), "KERNEL32.dll", "GetACP", ServeAcp);
    rig::Patch wide(host.Module(), "KERNEL32.dll", "WideCharToMultiByte", ServeWideToAnsi, &realWideToAnsi);
    rig::Patch next(host.Module(), "USER32.dll", "CharNextA", ServeCharNext, &realCharNext);
    ASSERT_TRUE(query.Active() && acp.Active() && wide.Active() && next.Active());
    rig::Patch alloc(host.Module(), "KERNEL32.dll", "HeapAlloc", FailHeapAlloc, &realHeapAlloc);
    rig::Patch realloc(host.Module(), "KERNEL32.dll", "HeapReAlloc", FailHeapReAlloc, &realHeapReAlloc);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetEnvironmentVariableA("VEKPERF_SCENARIO", row.scenario);
        fake.counterList = row.names;
        fake.perfRead = {row.failRead};
        fake.perfFailure = row.failure;
        fake.servedData = row.served;
        fake.codePage = row.codePage;
        fake.heapAlloc = {row.heapFault == 1 ? 1 : 0};
        fake.heapReAlloc = {row.heapFault == 2 ? 1 : 0};
        ClearLastErrorLine();
        host.Call(tCloseProc, {"0"});  // a saved code that no path here may touch
        Outcome o = host.Call(tListProc);
        EXPECT_EQ(o.text, row.text) << row.scenario;
        EXPECT_EQ(o.status, row.text[0] >= '2' && row.text[3] == ':' ? -1 : 0) << row.scenario;
        EXPECT_EQ(fake.perfRead.calls, row.reads) << row.scenario;
        EXPECT_EQ(host.LastError(), row.code ? row.code : 6u) << row.scenario;
        EXPECT_EQ(LastErrorLine(), row.logged ? row.logged : "") << row.scenario;
    }

    SetEnvironmentVariableA("VEKPERF_SCENARIO", nullptr);
}

TEST_F(Processes, ListProcWalksWhatTheProviderServesAndFailsAsItsReadsFail) {
    WalkNtListRows({
        {"the provider's list, odd names and ids", "list:Idle=0,alpha=12,_Total=0,=77,neg=4294967295,_Total=5", kWindowsNames, 0, 0,
         "Idle|0\talpha|12\t|77\tneg|-1\t_Total|5", 2},
        {"one process", "list:solo=9", kWindowsNames, 0, 0, "solo|9", 2},
        {"only _Total", "list:_Total=0", kWindowsNames, 0, 0, "", 2},
        {"no instances", "list:", kWindowsNames, 0, 0, "", 2},
        {"no ID Process counter in the data", "noid", kWindowsNames, 0, 0, "239: Unable to locate 'ID process' counter.", 2},
        {"no Process in the names", "", Pairs({"1", "1847", "784", "ID Process"}), 0, 0, "213: Cannot retrieve counter index.", 0},
        {"Process with an empty index", "", Pairs({"", "Process", "784", "ID Process"}), 0, 0, "213: Cannot retrieve counter index.", 0},  // found, but empty
        {"no ID Process in the names", "", Pairs({"230", "Process"}), 0, 0, "213: Cannot retrieve counter index.", 2},
        {"ID Process under another index", "", Pairs({"230", "Process", "785", "ID Process"}), 0, 0,
         "239: Unable to locate 'ID process' counter.", 2},
        {"no Process object", "none", kWindowsNames, 0, 0, "239: Unable to locate 'ID process' counter.", 2},
        {"the id counter without an offset", "nooffset", kWindowsNames, 0, 0, "239: Unable to locate 'ID process' counter.", 2},
        {"the size probe refused", "", kWindowsNames, 1, ERROR_ACCESS_DENIED, "214:  Problem accessing registry", 1},
        {"the read refused", "", kWindowsNames, 2, ERROR_INVALID_PARAMETER, "214:  Problem accessing registry", 2},
        {"a re-read refused", "many:5000", kWindowsNames, 3, ERROR_FILE_NOT_FOUND, "214:  Problem accessing registry", 3},
        {"an instance length past the data", "bad:instlen", kWindowsNames, 0, 0, "214:  Problem accessing registry", 2},
    });
}

TEST_F(Processes, ListProcWalksDataAsWindowsShapesIt) {
    using perfdata::Build, perfdata::Process;
    const std::vector<perfdata::Instance> usual = {
        {L"Idle", 0}, {L"svchost", 4}, {L"svchost", 8}, {L"_Total", 0}, {L"_Total", 5}};
    const char* const usualText = "Idle|0\tsvchost|4\tsvchost|8\t_Total|5";
    WalkNtListRows({
        // Windows' own shapes: the Thread object first, records at odd
        // offsets, a count that over-states, no object with stale bytes.
        {"Windows' shape: Thread first", "", kWindowsNames, 0, 0, usualText, 2, Build({perfdata::Thread(), Process(usual)})},
        {"Windows' shape at an odd offset", "", kWindowsNames, 0, 0, usualText, 2, Build({perfdata::Thread(), Process(usual)}, 3)},
        {"a count that over-states", "", kWindowsNames, 0, 0, "239: Unable to locate 'ID process' counter.", 2,
         Build({perfdata::Thread()}, 0, 3)},
        {"no object, stale bytes", "", kWindowsNames, 0, 0, "239: Unable to locate 'ID process' counter.", 2, Build({Process(usual)}, 0, 0)},
        // Names of 259 characters fit; longer ones are cut between whole
        // characters of the ANSI code page, UTF-8 and double-byte alike.
        {"names of 259 and 260 characters", "", kWindowsNames, 0, 0, std::string(259, 'n') + "|1\t" + std::string(259, 'm') + "|2", 2,
         Build({Process({{std::wstring(259, L'n'), 1}, {std::wstring(260, L'm'), 2}})}, 5)},
        {"a long name in UTF-8", "", kWindowsNames, 0, 0, "aa" + Times("\xE2\x82\xAC", 85) + "|7", 2,
         Build({Process({{L"aa" + std::wstring(100, L'\x20AC'), 7}})}), CP_UTF8},
        {"a long name in code page 932", "", kWindowsNames, 0, 0, Times("\x82\xA0", 129) + "|8", 2,
         Build({Process({{std::wstring(200, L'\x3042'), 8}})}), 932},
        // 65,535 characters at most: the last item would make 65,536.
        {"65,535 characters at most", "", kWindowsNames, 0, 0, Times(std::string(255, 'n') + "|1\t", 253) + std::string(255, 'n') + "|1", 4, [] {
             std::vector<perfdata::Instance> v(254, {std::wstring(255, L'n'), 1}); v.push_back({L"ab", 7}); return Build({Process(v)}); }()},
        // A length without the NUL: 260 units are too long, a pair at the end goes whole.
        {"a length without its NUL", "", kWindowsNames, 0, 0, std::string(258, 'm') + "|9", 2, Build({Process({{std::wstring(258, L'm') + L"\xD83D\xDE00", 9, 520}})}), 1252},
        // The buffer cannot be had, or cannot grow: logged, with the code.
        {"no buffer", "", kWindowsNames, 0, 0, "215: tListProc failed.", 1, "", 0, 1, 8, "8 (HeapAlloc - dwBytes (1))"},
        {"no larger buffer", "many:5000", kWindowsNames, 0, 0, "215: tListProc failed.", 2, "", 0, 2, 8, "8 (HeapAlloc - dwBytes (2))"},
    });
}

// The running processes, this one among them, with no "_Total"; and
// thousands of them.
TEST_F(Processes, ListProcListsTheRunningProcessesAndThousands) {
    rig::Patch query(host.Module(), "ADVAPI32.dll", "RegQueryValueExA", ServeQuery, &realQuery);
    rig::Patch openKey(host.Module(), "ADVAPI32.dll", "RegOpenKeyExA", RecordOpenKey, &realOpenKey);
    Outcome running = host.Call(tListProc);
    const std::string names = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009\\ 0 131097\n";
    EXPECT_EQ(fake.openedKeys, names + names) << "KEY_READ, once a name";
    EXPECT_EQ(running.text.rfind("Idle|0\t", 0), 0u) << running.text;
    const auto items = Split(running.text, '\t');
    EXPECT_NE(std::find(items.begin(), items.end(), "host_tests|" + Self()), items.end()) << running.text;
    EXPECT_EQ(running.text.find("_Total"), std::string::npos);

    // Thousands of processes (300,240 bytes): since the size the call
    // leaves is undefined (0 on Wine), the buffer grows fourfold from its
    // own: 12,000, 48,000, 192,000 and 768,000 bytes after the probe. The
    // list ends at its last whole item.
    SetEnvironmentVariableA("VEKPERF_SCENARIO", "many:5000");
    fake.perfRead = {};
    Outcome many = host.Call(tListProc);
    ASSERT_EQ(many.status, 0) << many.text;
    EXPECT_EQ(fake.perfRead.calls, 5);
    EXPECT_EQ(many.text.rfind("process0|1000\tprocess1|1001\t", 0), 0u);
    EXPECT_GT(many.text.size(), 65535u - 20);
    const std::string last = many.text.substr(many.text.rfind('\t') + 1);
    EXPECT_EQ(last, "process" + std::to_string(std::stoi(last.substr(last.find('|') + 1)) - 1000) +
                        last.substr(last.find('|')));

    SetEnvironmentVariableA("VEKPERF_SCENARIO", nullptr);
}

// EnumProcesses' count, from an array of 1,024 ids; a terminal server runs
// more, and a full array is asked again with room to spare.
TEST_F(Processes, CountProcAsksAgainUntilTheArrayHasRoom) {
    rig::Serve served("EnumProcesses", reinterpret_cast<void*>(ServeProcesses));
    ASSERT_EQ(host.Initialise(), 19);
    struct { DWORD processes; const char* result; std::vector<DWORD> arrays; } rows[] = {
        {1023, "1023", {1024}},
        {1024, "1024", {1024, 4096}},
        {1500, "1500", {1024, 4096}},
        {70000, "70000", {1024, 4096, 16384, 65536, 262144}},
        {262143, "262143", {1024, 4096, 16384, 65536, 262144}},
        {262144, "200: tListProc Failed.", {1024, 4096, 16384, 65536, 262144}},
        {0, "200: tListProc Failed.", {1024}},
    };
    for (const auto& row : rows) {
        fake.servedProcesses = row.processes;
        fake.arraySizes.clear();
        Outcome o = host.Call(tCountProc);
        EXPECT_EQ(o.status == 0 ? std::to_string(o.value) : o.text, row.result) << row.processes;
        EXPECT_EQ(fake.arraySizes, row.arrays) << row.processes;
    }
}


// Mode 3 enables the debug privilege on every call for its open alone, in a
// copy of the thread's token (its own while it impersonates, else the
// process's) set on the calling thread and taken off again: the process token,
// which the host's other threads share, is never touched, so a privilege one
// of them enables meanwhile stays. A step that fails refuses with 244, opening
// nothing and keeping the code; a failed restore changes no answer.
TEST_F(Processes, OpenModeThreeEnablesTheDebugPrivilegeFirst) {
    rig::Patch open(host.Module(), "KERNEL32.dll", "OpenProcess", RecordOpen, &realOpen);
    rig::Patch lookup(host.Module(), "ADVAPI32.dll", "LookupPrivilegeValueA", RecordLookup, &realLookup);
    rig::Patch token(host.Module(), "ADVAPI32.dll", "OpenProcessToken", RecordProcessToken, &realProcessToken);
    rig::Patch thread(host.Module(), "ADVAPI32.dll", "OpenThreadToken", RecordThreadToken, &realThreadToken);
    rig::Patch copy(host.Module(), "ADVAPI32.dll", "DuplicateTokenEx", RecordDuplicateToken, &realDuplicateToken);
    rig::Patch adjust(host.Module(), "ADVAPI32.dll", "AdjustTokenPrivileges", RecordAdjust, &realAdjust);
    rig::Patch set(host.Module(), "ADVAPI32.dll", "SetThreadToken", RecordSetToken, &realSetToken);
    ASSERT_TRUE(set.Active() && copy.Active());
    const std::string opened = "lookup::SeDebugPrivilege thread:1:6:1 ", own = opened + "process:1:2 ";
    const std::string made = "duplicate:36:2:2 adjust:0:1:2:0:1 set:1:1 ", used = made + "open:debug ";
    struct { const char* name; Step fail; std::string steps; DWORD refused = 0; bool impersonating = false, hostEnables = false; } rows[] = {
        {"all steps succeed", kNone, own + used + "set:1:0 "},
        {"all succeed again", kNone, own + used + "set:1:0 "},  // nothing remembers the first success
        {"the thread impersonates", kNone, opened + used + "set:1:1 ", 0, true},  // its own token comes back
        {"another thread enables it meanwhile", kNone, own + used + "set:1:0 ", 0, false, true},
        {"no privilege value", kLookup, "lookup::SeDebugPrivilege "},
        {"the thread's token refused", kThreadToken, opened},
        {"no process token", kProcessToken, own},
        {"no copy", kDuplicate, own + "duplicate:36:2:2 "},
        {"the adjustment fails", kAdjust, own + "duplicate:36:2:2 adjust:0:1:2:0:1 "},
        {"the copy cannot be set", kSet, own + made},
        {"the open refused with 87", kNone, own + used + "set:1:0 ", ERROR_INVALID_PARAMETER},  // the open's code outlives the restore
        {"the restore fails", kRestore, own + used + "set:1:0 "},
    };
    Sleeper child;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fake.failing = row.fail;
        fake.steps.clear();
        fake.tokenSets = 0;
        fake.hostEnables = row.hostEnables;
        host.Call(tCloseProc, {"0"});
        if (row.impersonating) ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
        const LUID before = ThreadTokenId();
        fake.openError = row.refused;
        Outcome o = host.Call(tOpenProc, {std::to_string(child.Id()), "3"});
        fake.openError = 0;
        EXPECT_EQ(fake.steps, row.steps);
        EXPECT_EQ(DebugEnabled(false), row.hostEnables) << "the process token changed";
        const LUID after = ThreadTokenId();
        if (row.fail != kRestore) EXPECT_TRUE(after.LowPart == before.LowPart && after.HighPart == before.HighPart) << "the thread's own token is back";
        RevertToSelf();
        SetDebug(false);
        if (row.refused) {
            EXPECT_EQ(o.text + std::to_string(host.LastError()), "201: Open Process Failed" + std::to_string(row.refused));
        } else if (row.steps.find("open") != std::string::npos) {
            EXPECT_EQ(o.status, 0) << o.text;
            EXPECT_EQ(host.Call(tCloseProc, {std::to_string(o.value)}).value, 1);
        } else {
            EXPECT_EQ(o.text, "244: tOpenProc - Unable to set SeDebugPrivilege.");
            EXPECT_EQ(host.LastError(), 6u) << "244 keeps the saved code";
        }
    }
}

// tCloseProc and tKillProc reach the system only with a handle that tOpenProc
// gave and the script has not closed: Windows hands a closed handle's number
// out again at once, so any other number (one of the host's, a pseudo-handle,
// text, one closed already) is refused with code 6 and reaches neither call.
// A given handle to the host's own process is never terminated (5).
TEST_F(Processes, CloseAndKillReachTheSystemOnlyWithHandlesTheScriptHolds) {
    rig::Patch close(host.Module(), "KERNEL32.dll", "CloseHandle", RecordClose, &realClose);
    rig::Patch kill(host.Module(), "KERNEL32.dll", "TerminateProcess", RecordTerminate, &realTerminate);
    Sleeper child;
    HANDLE hostsOwn = OpenProcess(PROCESS_TERMINATE, FALSE, child.Id());
    const std::string own = std::to_string(reinterpret_cast<intptr_t>(hostsOwn));
    const std::string given = std::to_string(host.Call(tOpenProc, {std::to_string(child.Id()), "1"}).value);
    const std::string itself = std::to_string(host.Call(tOpenProc, {Self(), "1"}).value);
    struct { int id; std::string handle; DWORD code; } rows[] = {  // code 0: a success
        {tKillProc, own, 6}, {tCloseProc, own, 6}, {tKillProc, "-1", 6}, {tKillProc, "-2", 6}, {tCloseProc, "-4", 6},
        {tCloseProc, "-2147483648", 6}, {tCloseProc, "4294967295", 6}, {tKillProc, "abc", 6}, {tCloseProc, "", 6},
        {tKillProc, std::to_string(std::stoll(given) + (1LL << 32)), 6}, {tKillProc, itself, 5}, {tKillProc, " " + given + "x", 0},
        {tCloseProc, given, 0}, {tCloseProc, given, 6}, {tKillProc, given, 6}, {tCloseProc, itself, 0},
    };
    for (const auto& [id, handle, code] : rows) {
        SCOPED_TRACE(std::to_string(id) + " " + handle);
        fake.closed = fake.terminated = nullptr;
        ClearLastErrorLine();
        Outcome o = host.Call(id, {handle});
        EXPECT_EQ(o.status ? o.text : std::to_string(o.value), !code ? "1" : id == tKillProc ? "212: Terminate Process Failed" : "229: tCloseProc failed.");
        EXPECT_EQ(host.LastError(), code);
        EXPECT_EQ(id == tKillProc ? fake.terminated != nullptr : fake.closed && fake.closed == Number(handle), code == 0);
        if (id == tKillProc && code) EXPECT_EQ(LastErrorLine(), std::to_string(code) + " (tKillProc)");
    }
    fake.closeError = ERROR_GEN_FAILURE;
    EXPECT_EQ(host.Text(tCloseProc, {std::to_string(host.Call(tOpenProc, {Self(), "2"}).value)}), "229: tCloseProc failed.");
    EXPECT_EQ(host.LastError(), fake.closeError);
    fake.closeError = 0;
    EXPECT_EQ(child.ExitCode(), 1u);
    DWORD flags;
    EXPECT_TRUE(GetHandleInformation(hostsOwn, &flags)) << "the host's handle was closed";
    CloseHandle(hostsOwn);
}

// Every mode's handle as given (only modes 1 and 3 carry the terminate right), and a number the
// script closed itself, which goes out again at once (the lowest free under Wine, the last freed
// under Windows): to the host's own process through tOpenProc, to the host's event or its handle
// of another process, or of the same process with other access. CompareObjectHandles with the
// extender's duplicate tells (before Windows 10 the process id, which a mode-3 handle cannot give),
// with the access each was granted. A duplicate whose number the host closed and tOpenProc gave
// out again vouches for nothing. TerminateProcess only begins the end: Windows refuses a second
// with 5 while the process drains and after it has ended, and through a handle without the
// terminate right whatever the state. Every forgotten entry's duplicate is closed.
TEST_F(Processes, ANumberActsOnlyWhileItNamesWhatItWasGivenFor) {
    rig::Patch close(host.Module(), "KERNEL32.dll", "CloseHandle", RecordClose, &realClose);
    rig::Patch kill(host.Module(), "KERNEL32.dll", "TerminateProcess", RecordTerminate, &realTerminate);
    DWORD flags;
    enum Then { kAsGiven, kOpenedForHost, kHostsEvent, kHostsProcess, kHostReopens, kTwinReused, kEnding, kEnded };
    constexpr DWORD kRead = PROCESS_VM_READ, kQuery = PROCESS_QUERY_INFORMATION, kEnd = PROCESS_TERMINATE;
    struct { const char* mode; Then then; bool compare; DWORD access, code; } afterwards[] = {
        {"0", kAsGiven, true, kRead, 5}, {"1", kAsGiven, true, PROCESS_ALL_ACCESS, 0}, {"2", kAsGiven, true, kQuery, 5},
        {"3", kAsGiven, true, kEnd, 0}, {"4", kAsGiven, true, kRead, 5}, {"-1", kAsGiven, true, kRead, 5}, {"abc", kAsGiven, true, kRead, 5},
        {"2", kOpenedForHost, true, kQuery, 5}, {"2", kHostsEvent, true, kQuery, 6}, {"3", kHostsProcess, true, kEnd, 6},
        {"2", kHostsProcess, false, kQuery, 6}, {"1", kHostsEvent, false, PROCESS_ALL_ACCESS, 6}, {"2", kHostReopens, true, kQuery, 6},
        {"2", kHostReopens, false, kQuery, 6}, {"2", kTwinReused, true, kQuery, 6}, {"2", kTwinReused, false, kQuery, 6},
        {"3", kEnding, true, kEnd, 0}, {"1", kEnding, true, PROCESS_ALL_ACCESS, 0}, {"3", kEnded, true, kEnd, 0},
        {"0", kEnded, true, kRead, 5}, {"2", kEnded, true, kQuery, 5},
    };
    rig::Patch open(host.Module(), "KERNEL32.dll", "OpenProcess", RecordOpen, &realOpen);
    for (const auto& [mode, then, compare, access, code] : afterwards) {
        SCOPED_TRACE(std::string(mode) + " " + std::to_string(then) + " " + std::to_string(compare));
        std::optional<rig::Serve> beforeWindows10;
        if (!compare) beforeWindows10.emplace("CompareObjectHandles", nullptr);
        ASSERT_EQ(host.Initialise(), 19);
        Sleeper target, other;
        fake.openInherit = TRUE;
        const std::set<HANDLE> before = HandlesTo(target.Id());
        const std::string given = std::to_string(host.Call(tOpenProc, {std::to_string(target.Id()), mode}).value);
        EXPECT_EQ(fake.openAccess, access);
        EXPECT_EQ(fake.openInherit, FALSE);
        HANDLE now = nullptr;
        if (then >= kEnding) {
            fake.ended = true;
            if (then == kEnded) target.End();
        } else if (then == kTwinReused) {
            std::set<HANDLE> twins = HandlesTo(target.Id());
            for (HANDLE h : before) twins.erase(h);
            twins.erase(Number(given));
            ASSERT_EQ(twins.size(), 1u);
            CloseHandle(*twins.begin());
            const std::string reopened = std::to_string(host.Call(tOpenProc, {Self(), "2"}).value);
            ASSERT_EQ(Number(reopened), *twins.begin());
            host.Call(tCloseProc, {reopened});
            now = Number(given);
        } else if (then != kAsGiven) {
            CloseHandle(Number(given));
            now = then == kOpenedForHost ? Number(std::to_string(host.Call(tOpenProc, {Self(), "1"}).value))
                : then == kHostsEvent    ? CreateEventA(nullptr, TRUE, FALSE, nullptr)
                : then == kHostReopens   ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, target.Id())
                                         : OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, other.Id());
            ASSERT_EQ(now, Number(given));
        }
        ClearLastErrorLine(), host.LastError();
        const auto said = [this](int id, const std::string& handle) { Outcome o = host.Call(id, {handle}); return o.status ? o.text : std::to_string(o.value); };
        EXPECT_EQ(said(tKillProc, given), code ? "212: Terminate Process Failed" : "1");
        EXPECT_EQ(host.LastError(), code);
        EXPECT_EQ(LastErrorLine(), code ? std::to_string(code) + " (tKillProc)" : "");
        EXPECT_TRUE(other.Running());
        if (then == kAsGiven && !code) EXPECT_EQ(target.ExitCode(), 1u);
        if (then != kEnded && (then != kAsGiven || code)) EXPECT_TRUE(target.Running());
        fake.ended = false;
        const bool hosts = then >= kHostsEvent && then <= kTwinReused;
        EXPECT_EQ(said(tCloseProc, given), hosts ? "229: tCloseProc failed." : "1");
        if (hosts) {
            EXPECT_TRUE(GetHandleInformation(now, &flags)) << "the host's was closed";
            CloseHandle(now);
        }
        EXPECT_EQ(HandlesTo(target.Id()), before) << "a duplicate left open";
    }
}

// At most 4,096 are held; a full table drops what the script closed itself first, and its
// duplicates with it; terminate closes only what is still the script's.
TEST_F(Processes, AFullTableDropsWhatTheScriptClosedItself) {
    DWORD flags;
    Sleeper target;
    const auto closedBehindItsBack = [&] {
        const HANDLE left = Number(std::to_string(host.Call(tOpenProc, {std::to_string(target.Id()), "2"}).value));
        CloseHandle(left);
        const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_EQ(event, left);
        return event;
    };
    HANDLE events[] = {closedBehindItsBack(), nullptr};

    std::vector<int32_t> held;
    for (int i = 0; i < 4096; ++i) held.push_back(host.Call(tOpenProc, {Self(), "2"}).value);
    EXPECT_EQ(std::set<int32_t>(held.begin(), held.end()).size(), 4096u);
    EXPECT_EQ(host.Text(tOpenProc, {Self(), "2"}), "201: Open Process Failed");
    EXPECT_EQ(host.LastError(), 4u);
    EXPECT_EQ(host.Call(tCloseProc, {std::to_string(held[7])}).value, 1);
    EXPECT_EQ(host.Call(tOpenProc, {Self(), "2"}).status, 0) << "room again";
    EXPECT_EQ(host.Call(tCloseProc, {std::to_string(held[8])}).value, 1);
    EXPECT_EQ(HandlesTo(target.Id(), 0x10000).size(), 1u) << "the swept entry's duplicate left open";
    events[1] = closedBehindItsBack();
    host.Terminate();
    for (int32_t h : {held.front(), held.back()}) EXPECT_FALSE(GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)), &flags)) << "terminate closes what the script left";
    for (HANDLE event : events) {
        EXPECT_TRUE(GetHandleInformation(event, &flags)) << "the host's event was closed";
        CloseHandle(event);
    }
}

// The host's calling thread holds the extender's frames: every keyword's deepest path, the system's
// calls (a failure logged first loads the shell's folder library) and the 64 KiB result text among
// them, fits in 80 KiB of it; a module's path, up to 32,767 characters, is on the heap. The PDH
// keywords' are in the double's tests. The performance data is served: Wine's own read loads the
// provider on every read, 16 to 22 KiB beyond the bound.
TEST_F(Processes, EveryKeywordFitsIn80KiBOfTheCallersStack) {
    rig::Patch query(host.Module(), "ADVAPI32.dll", "RegQueryValueExA", ServeQuery, &realQuery);
    fake.servedData = perfdata::Build({perfdata::Process({{L"Idle", 0}, {L"host", 4}})});
    Sleeper child;
    const std::string other = std::to_string(child.Id()), module = std::to_string(reinterpret_cast<uintptr_t>(host.Module()));
    const std::vector<std::string> calls[] = {{"9", "0"}, {"1"}, {"2"}, {"3", other, "3"}, {"4", Self(), "0"}, {"5", Self()}, {"6"},
        {"7", Self(), module}, {"12", "0"}, {"13"}, {"14"}, {"22", "\\System\\System Up Time", "1"}, {"24", other, "256"}, {"25", Self()}};
    for (const auto& call : calls) {
        Outcome o;
        EXPECT_LE(StackTaken([&] { o = host.Call(std::stoi(call[0]), {call.begin() + 1, call.end()}); }), 80u * 1024) << call[0];
        EXPECT_EQ(o.calls, 1) << call[0];
    }
}

TEST_F(Processes, OpenFailuresGive201Or202WithTheSystemsCode) {
    rig::Patch open(host.Module(), "KERNEL32.dll", "OpenProcess", RecordOpen, &realOpen);
    rig::Patch high(host.Module(), "KERNEL32.dll", "SetPriorityClass", HighForRealtime, &realSetPriority);
    const std::string k201 = "201: Open Process Failed", k202 = "202: Could not open process. Access denied.";
    const std::string k204 = "204: tGetProcInfo failed. Maybe invalid process handle.", k206 = "206: tGetModInfo failed.";
    // A process that has ended is refused as one that is not there, though its object and id live on
    // while a handle (here the sleeper's own) is open.
    Sleeper ended;
    ended.End();
    const std::string gone = std::to_string(ended.Id()), module = std::to_string(reinterpret_cast<uintptr_t>(host.Module()));
    // tGetPriority and tGetProcInfo try the limited right (Vista on), after a
    // refusal with 5 only, and a second refusal leaves the first standing.
    struct { int id; std::vector<std::string> args; DWORD error, limited; std::string accesses, text; DWORD saved; } rows[] = {
        {tOpenProc, {Self(), "2"}, 5, 5, "1024 ", k202, 5},
        {tListMod, {Self(), "0"}, 5, 5, "1040 ", k202, 5},
        {tSetPriority, {Self(), "32"}, 5, 5, "512 ", k202, 5},
        {tGetProcInfo, {Self()}, 5, 5, "1040 4096 ", k202, 5},
        {tGetProcInfo, {Self()}, 5, 0, "1040 4096 ", "", 0},
        {tGetProcInfo, {Self()}, 87, 0, "1040 ", k204, 87},
        {tGetModInfo, {Self(), module}, 5, 5, "1040 ", k206, 5},  // the open's code, not the null handle's 6
        {tGetPriority, {Self()}, 5, 0, "1024 4096 ", "32", 0},
        {tGetPriority, {Self()}, 5, 87, "1024 4096 ", k202, 5},
        {tGetPriority, {Self()}, 87, 0, "1024 ", k201, 87},
        // Where Windows sets High for realtime, the class read back (the limited right
        // from Vista on, opened before the set) says so, with 1314, and is set back. Unread,
        // the success stands.
        {tSetPriority, {Self(), "256"}, 0, 0, "512 4096 ", "236: Unable to Set Priority.", ERROR_PRIVILEGE_NOT_HELD},
        {tSetPriority, {Self(), "256"}, 0, 5, "512 4096 ", "1", 0},
        {tSetPriority, {Self(), "32"}, 0, 0, "512 4096 ", "1", 0},
        // Processes that are not there, as Wine answers; the open comes before the class is looked at.
        {tOpenProc, {"4000000000", "1"}, 0, 0, "2097151 ", k201, 87},
        {tGetPriority, {"99999999"}, 0, 0, "1024 ", k201, 87},
        {tGetProcInfo, {""}, 0, 0, "1040 ", k204, 87},  // process 0
        {tSetPriority, {"99999999", "100"}, 0, 0, "512 ", k201, 87},
        {tGetModInfo, {"99999999", module}, 0, 0, "1040 ", k206, 87},
        {tGetPriority, {gone}, 0, 0, "1024 ", k201, 87}, {tGetProcInfo, {gone}, 0, 0, "1040 ", k204, 87},
        {tListMod, {gone, "0"}, 0, 0, "1040 ", k201, 87}, {tSetPriority, {gone, "100"}, 0, 0, "512 4096 ", k201, 87},
        {tGetModInfo, {gone, module}, 0, 0, "1040 ", k206, 87},
    };
    for (const auto& row : rows) {
        fake.openInherit = TRUE;
        fake.openError = row.error;
        fake.limitedError = row.limited;
        fake.accesses.clear();
        Outcome o = host.Call(row.id, row.args);
        EXPECT_EQ(o.status ? o.text : o.type == 1 ? std::to_string(o.value) : "", row.text) << row.id << " " << row.accesses;
        EXPECT_EQ(host.LastError(), row.saved) << row.id << " " << row.accesses;
        EXPECT_EQ(fake.accesses, row.accesses) << row.id;
        EXPECT_EQ(fake.openInherit, FALSE) << row.id;
        if (row.id == tSetPriority && o.status) EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), NORMAL_PRIORITY_CLASS) << "a refusal changed the class";
    }
}

TEST_F(Processes, PriorityClassesRoundTrip) {
    Sleeper child;
    const std::string id = std::to_string(child.Id());
    EXPECT_EQ(host.Call(tGetPriority, {id}).value, 32);
    for (const char* cls : {"64", "16384", "32768", "128", "256", "32"}) {
        Outcome set = host.Call(tSetPriority, {id, cls});
        EXPECT_EQ(set.status, 0) << cls << ": " << set.text;
        EXPECT_EQ(host.Call(tGetPriority, {id}).value, atoi(cls)) << cls;
    }
    for (const char* bad : {"0", "100", "-32", "abc"}) {
        host.Call(tCloseProc, {"0"});
        SetLastError(ERROR_INVALID_FUNCTION);  // what a 203 that took the system's code would keep
        EXPECT_EQ(host.Text(tSetPriority, {id, bad}), "203: Invalid flag(s) specified.") << bad;
        EXPECT_EQ(host.LastError(), 6u) << "203 keeps the saved code";
        EXPECT_EQ(host.Call(tGetPriority, {id}).value, 32) << bad;
    }

    rig::Patch get(host.Module(), "KERNEL32.dll", "GetPriorityClass", NoPriority);
    rig::Patch set(host.Module(), "KERNEL32.dll", "SetPriorityClass", NoNewPriority);
    EXPECT_EQ(host.Text(tGetPriority, {id}), "237: Unable to Get Priority.");
    EXPECT_EQ(host.LastError(), kPriorityError);
    EXPECT_EQ(host.Text(tSetPriority, {id, "64"}), "236: Unable to Set Priority.");
    EXPECT_EQ(host.LastError(), kPriorityError);
}

// Wine's figures are zeros and equal pairs: distinct ones show the order.
TEST_F(Processes, ProcInfoGivesNineFiguresOfTheProcessNamed) {
    rig::Serve served("GetProcessMemoryInfo", reinterpret_cast<void*>(ServeMemoryInfo));
    ASSERT_EQ(host.Initialise(), 19);
    Sleeper child;
    for (const std::string& id : {Self(), std::to_string(child.Id())}) {
        EXPECT_EQ(host.Text(tGetProcInfo, {id}), kServedFigures);
        EXPECT_EQ(std::to_string(fake.memoryInfoOf), id);
    }
    fake.memoryInfoFails = TRUE;
    Outcome failed = host.Call(tGetProcInfo, {Self()});
    EXPECT_EQ(failed.status, 0);
    EXPECT_EQ(failed.text, "") << "a failed memory query is an empty success";
    fake.memoryInfoFails = FALSE;
    EXPECT_EQ(host.Text(tGetProcInfo, {"12a"}), "205: Invalid parameter type. ");
}

// Each listed module's information matches the system's.
TEST_F(Processes, ListModInItsThreeModes) {
    typedef BOOL(WINAPI * EnumModulesFn)(HANDLE, HMODULE*, DWORD, LPDWORD);
    typedef BOOL(WINAPI * ModuleInfoFn)(HANDLE, HMODULE, LPMODULEINFO, DWORD);
    auto enumModules = Psapi<EnumModulesFn>("EnumProcessModules");
    auto moduleInfo = Psapi<ModuleInfoFn>("GetModuleInformation");
    ASSERT_TRUE(enumModules && moduleInfo);

    Outcome paths = host.Call(tListMod, {Self(), "1"});
    ASSERT_EQ(paths.status, 0) << paths.text;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_EQ(Split(paths.text, '\t')[0], self);

    Outcome numbers = host.Call(tListMod, {Self(), "2"});
    ASSERT_EQ(numbers.status, 0);
    std::set<std::string> listed;
    for (const std::string& n : Split(numbers.text, '\t')) {
        EXPECT_TRUE(IsUnsignedNumber(n)) << n;
        listed.insert(n);
        MODULEINFO info = {};
        ASSERT_TRUE(moduleInfo(GetCurrentProcess(), reinterpret_cast<HMODULE>(std::stoull(n)), &info, sizeof info));
        EXPECT_EQ(host.Text(tGetModInfo, {Self(), n}), n + "\t" + std::to_string(static_cast<int32_t>(info.SizeOfImage)) + "\t" +
                                                         std::to_string(reinterpret_cast<uintptr_t>(info.EntryPoint)));
    }
    EXPECT_EQ(host.Text(tGetModInfo, {Self(), "12345"}), "206: tGetModInfo failed.") << "no such module";
    EXPECT_EQ(host.LastError(), 6u);
    EXPECT_EQ(host.Text(tGetModInfo, {"x", "12345"}), "205: Invalid parameter type. ");
    HMODULE modules[1024];
    DWORD needed = 0;
    ASSERT_TRUE(enumModules(GetCurrentProcess(), modules, sizeof modules, &needed));
    std::set<std::string> direct;
    for (DWORD i = 0; i < needed / sizeof(HMODULE); ++i) {
        direct.insert(std::to_string(reinterpret_cast<uintptr_t>(modules[i])));
    }
    EXPECT_EQ(listed, direct);

    Outcome both = host.Call(tListMod, {Self(), "0"});
    auto entries = Split(both.text, '\t');
    EXPECT_EQ(entries.size(), listed.size());
    for (const std::string& e : entries) {
        auto parts = Split(e, '|');
        ASSERT_EQ(parts.size(), 2u) << e;
        EXPECT_TRUE(listed.count(parts[1])) << e;
    }
}

// A process whose module list is changing is asked again, ten times at
// most, before its list counts as empty. An array of 1,024 modules
// (8,192 bytes) lists no more than it holds, whatever the system needs.
// A 32-bit process lists its whole list through the Ex form, and before
// Vista, without it, what the plain form gives.
TEST_F(Processes, ListModAsksAgainWhileTheListChangesAndListsWhatTheArrayHolds) {
    const Outcome numbers = host.Call(tListMod, {Self(), "2"});
    rig::Serve ex("EnumProcessModulesEx", reinterpret_cast<void*>(ServeModulesEx),
                  reinterpret_cast<void**>(&realEnumModules));
    rig::Serve plain("EnumProcessModules", reinterpret_cast<void*>(ServeModules));
    std::optional<rig::Serve> beforeVista;
    rig::Patch pause(host.Module(), "KERNEL32.dll", "Sleep", CountSleep);
    ASSERT_EQ(host.Initialise(), 19);
    const auto all = Split(numbers.text, '\t');
    ASSERT_GT(all.size(), 3u);
    const std::string first = all[0], view = first + "\t" + all[1] + "\t" + all[2];
    const std::string full = Times(first + "\t", 1023) + first;
    const std::string skipped = first + numbers.text.substr(first.size() + all[1].size() + 1);
    struct { const char* name; int partial; DWORD reported; std::string text; int calls; bool ex = true; HMODULE stranger = nullptr; } rows[] = {
        {"listed at once", 0, 0, numbers.text, 1}, {"a module of no image", 0, 0, skipped, 1, true, reinterpret_cast<HMODULE>(0x1000)},
        {"one partial copy", 1, 0, numbers.text, 2}, {"nine partial copies", 9, 0, numbers.text, 10}, {"ten partial copies", 10, 0, "", 10},
        {"partial copies without end", 1000, 0, "", 10}, {"refused with 5", -1000, 0, "", 1}, {"7 bytes reported", 0, 7, "", 1},
        {"one module reported", 0, 8, first, 1}, {"1,024 modules reported", 0, 8192, full, 1}, {"1,025 modules reported", 0, 8200, full, 1},
        {"before Vista", 0, 0, view, 1, false}, {"before Vista, one partial copy", 1, 0, view, 2, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.ex && !beforeVista) {
            beforeVista.emplace("EnumProcessModulesEx", nullptr);
            ASSERT_EQ(host.Initialise(), 19);
        }
        fake.partialCopies = row.partial;
        fake.reported = row.reported;
        fake.stranger = row.stranger;
        fake.enumCalls = fake.slept = 0;
        EXPECT_EQ(host.Text(tListMod, {Self(), "2"}), row.text) << row.partial << " " << row.reported;
        EXPECT_EQ(fake.enumCalls, row.calls) << row.partial;
        EXPECT_EQ(fake.slept, row.calls - 1u) << "a pause of 1 ms before each new try";
        EXPECT_EQ(fake.enumSize, 8192u);
        EXPECT_EQ(fake.enumOf, GetCurrentProcessId());
        EXPECT_EQ(fake.enumFilter, row.ex ? LIST_MODULES_ALL : kPlainForm) << row.partial;
    }
}

// A module loaded from a path beyond MAX_PATH (a long-path-aware process) is
// listed whole, in both modes that show paths; the path's buffer that cannot
// be had fails with 245 and ERROR_NOT_ENOUGH_MEMORY; the arguments are
// looked at before the process is opened, the mode after.
TEST_F(Processes, ListModReadsLongPathsAndChecksItsArguments) {
    const auto all = Split(host.Text(tListMod, {Self(), "2"}), '\t');
    ASSERT_GT(all.size(), 1u);
    fake.longModule = reinterpret_cast<HMODULE>(std::stoull(all[1]));
    rig::Serve longPaths("GetModuleFileNameExA", reinterpret_cast<void*>(ServeLongPath), reinterpret_cast<void**>(&realModulePath));
    ASSERT_EQ(host.Initialise(), 19);
    EXPECT_EQ(Split(host.Text(tListMod, {Self(), "1"}), '\t')[1], kLongPath);
    EXPECT_EQ(Split(host.Text(tListMod, {Self(), "0"}), '\t')[1], kLongPath + "|" + all[1]);
    rig::Patch alloc(host.Module(), "KERNEL32.dll", "HeapAlloc", FailHeapAlloc, &realHeapAlloc);
    fake.heapAlloc = {1};
    EXPECT_EQ(host.Text(tListMod, {Self(), "1"}), "245: Unable to allocate memory in order to complete the function.\n");
    EXPECT_EQ(host.LastError(), 8u);
    EXPECT_EQ(host.Text(tListMod, {Self(), "5"}), "203: Invalid flag(s) specified.");
    EXPECT_EQ(host.Text(tListMod, {Self(), "abc"}), "205: Invalid parameter type. ");
    EXPECT_EQ(host.Text(tListMod, {"99999999", "abc"}), "205: Invalid parameter type. ")
        << "the mode is tested before the process is opened";
    EXPECT_EQ(host.Text(tListMod, {"99999999", "5"}), "201: Open Process Failed") << "the open before the mode";
    EXPECT_EQ(host.LastError(), 87u);
}
