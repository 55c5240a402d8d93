// A PDH.DLL that does what its script says and records what it is asked.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <type_traits>

#include "pdh_script.h"
#include "rig.h"

// Exported under its undecorated name, as PDH.DLL does.
#undef PdhOpenQuery

using pdhdouble::CallRecord;
using pdhdouble::Script;

namespace {

Script script = [] {
    Script s = {};
    strcpy(s.fullPath, "\\\\DOUBLE\\Widget(left)\\Turns");
    strcpy(s.browsePath, "\\\\DOUBLE\\Widget(browsed)\\Turns");
    s.formatFills = TRUE;
    s.longValue = 42;
    s.doubleValue = 2.5;
    strcpy(s.machine, "\\\\DOUBLE");
    strcpy(s.object, "Widget");
    strcpy(s.instance, "left");
    strcpy(s.parent, "<null>");
    strcpy(s.counter, "Turns");
    // For a host in another process, such as vekrun: statuses and the decimal value.
    char text[32];
    const auto status = [&text](const char* name, auto& field) {
        if (GetEnvironmentVariableA(name, text, sizeof text)) field = static_cast<std::decay_t<decltype(field)>>(strtoul(text, nullptr, 0));
    };
    status("PDH_DOUBLE_BROWSE_STATUS", s.browse), status("PDH_DOUBLE_INFO_CSTATUS", s.infoCStatus);
    status("PDH_DOUBLE_ADD_STATUS", s.addCounter), status("PDH_DOUBLE_ADD_STATUS", s.addEnglish);
    if (GetEnvironmentVariableA("PDH_DOUBLE_VALUE", text, sizeof text)) s.doubleValue = atof(text);
    return s;
}();

// vekrun's doctor and the extender read the English counter names from the
// registry, where Wine answers every process from a fixed list without
// "Process": loaded into vekrun, the double serves both the list the
// environment gives ('|' between entries), or "refuse" a refused read,
// through their import tables.
// With PDH_DOUBLE_LOCAL_NAMES, Windows' language is another: the list of the local names (read
// through HKEY_PERFORMANCE_NLSTEXT) is the one given, the English one the widget's, and PDH's
// enumeration answers in the local names.
std::string names, localNames;
decltype(&RegQueryValueExA) realQuery;
LSTATUS WINAPI ServeNames(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    const std::string& served = key == HKEY_PERFORMANCE_NLSTEXT && !localNames.empty() ? localNames : names;
    if (served == "refuse" || rig::ServeCounterNames(served, name, type, data, size, &status)) return status;
    return realQuery(key, name, reserved, type, data, size);
}
// With the names, both open keys with options 0 or REG_OPTION_OPEN_LINK alone, as RegOpenKeyEx asks; Wine ignores the rest.
LSTATUS WINAPI StrictOpen(HKEY key, LPCSTR sub, DWORD options, REGSAM access, PHKEY opened) {
    return options & ~REG_OPTION_OPEN_LINK ? ERROR_INVALID_PARAMETER : RegOpenKeyExA(key, sub, options, access, opened);
}

// With PDH_DOUBLE_LACKS, the extender finds no entry point of that name, as in a PDH older than it.
std::string lacking;
decltype(&GetProcAddress) realResolve;
FARPROC WINAPI Resolve(HMODULE module, LPCSTR name) { return lacking == name ? nullptr : realResolve(module, name); }

// With PDH_DOUBLE_WINDOWS_CONSOLE, vekrun's console as Windows has it where
// Wine's differs: UTF-8 takes no flags but MB_ERR_INVALID_CHARS, a Ctrl+C
// that no handler takes ends the process with STATUS_CONTROL_C_EXIT (Wine's
// ends it with 0). Set before vekrun's, this handler is asked last.
int WINAPI StrictWide(UINT codePage, DWORD flags, LPCCH text, int size, LPWSTR wide, int units) {
    if (codePage == CP_UTF8 && (flags & ~MB_ERR_INVALID_CHARS)) return SetLastError(ERROR_INVALID_FLAGS), 0;
    return MultiByteToWideChar(codePage, flags, text, size, wide, units);
}
BOOL WINAPI DefaultCtrlC(DWORD) { ExitProcess(STATUS_CONTROL_C_EXIT); }
// Windows' console shows each half of a surrogate pair split between two writes as U+FFFD.
BOOL WINAPI HalvesApart(HANDLE console, const void* text, DWORD units, LPDWORD written, LPVOID reserved) {
    std::wstring shown(static_cast<const wchar_t*>(text), units);
    if (units && IS_LOW_SURROGATE(shown[0])) shown[0] = 0xFFFD;
    if (units && IS_HIGH_SURROGATE(shown[units - 1])) shown[units - 1] = 0xFFFD;
    return WriteConsoleW(console, shown.data(), units, written, reserved);
}

// With PDH_DOUBLE_CLOCK, vekrun's clock moves only as it sleeps, so that an
// hour's wait passes at once; a wait that reads the clock a thousand times
// without sleeping spins a core, and ends the process with exit 99. The day
// is 23 September 2026, whose day and month cannot be taken for each other.
// Its counter counts milliseconds; the day moves as vekrun sleeps, in a zone
// at UTC unless PDH_DOUBLE_ZONE says otherwise.
ULONGLONG slept = 0, reads = 0;
ULONGLONG WINAPI ReadClock() { return ++reads > 1000 ? ExitProcess(99), 0 : slept; }
BOOL WINAPI ReadCounter(LARGE_INTEGER* count) { return count->QuadPart = static_cast<LONGLONG>(ReadClock()), TRUE; }
BOOL WINAPI CounterFrequency(LARGE_INTEGER* frequency) { return frequency->QuadPart = 1000, TRUE; }
void WINAPI PassTime(DWORD ms) { slept += ms, reads = 0; }
void WINAPI TheDayPrecisely(LPFILETIME time) {
    const SYSTEMTIME day = {2026, 9, 3, 23, 14, 5, 6, 789};
    SystemTimeToFileTime(&day, time);
    ULARGE_INTEGER t = {{time->dwLowDateTime, time->dwHighDateTime}};
    t.QuadPart += slept * 10000;
    *time = {t.LowPart, t.HighPart};
}
void WINAPI TheDay(LPSYSTEMTIME time) {
    FILETIME now;
    TheDayPrecisely(&now);
    FileTimeToSystemTime(&now, time);
}
// With PDH_DOUBLE_COARSE_CLOCK, the clocks vekrun could read the time of day
// from move as Windows' do, in ticks of 15.625 ms, but the precise one.
void WINAPI CoarseTime(LPFILETIME time) {
    GetSystemTimePreciseAsFileTime(time);
    ULARGE_INTEGER t = {{time->dwLowDateTime, time->dwHighDateTime}};
    t.QuadPart -= t.QuadPart % 156250;
    *time = {t.LowPart, t.HighPart};
}
void WINAPI CoarseLocalTime(LPSYSTEMTIME time) {
    FILETIME now, local;
    CoarseTime(&now);
    FileTimeToLocalFileTime(&now, &local);
    FileTimeToSystemTime(&local, time);
}
// With PDH_DOUBLE_WINDOWS_SNAPSHOT=[CHILD:PARENT], vekrun's process snapshots are Windows': each
// base priority as Windows gives it (Wine gives the class's index), and no Wine to be seen; CHILD's
// parent id names PARENT, as when CHILD's own parent has ended and PARENT, younger, took its id.
typedef LONG(NTAPI* QuerySystemFn)(ULONG, PVOID, ULONG, PULONG);
QuerySystemFn realQuerySystem = nullptr;
ULONGLONG reusedChild = 0, reusedParent = 0;
// With PDH_DOUBLE_SNAPSHOT_FAILS=STATUS, the snapshot is refused with it. With
// PDH_DOUBLE_WINDOWS_SNAPSHOT=reborn:ID, ID names a process created later in every snapshot after
// the first, as when it ended and its id was taken at once.
LONG snapshotFails = 0;
ULONGLONG rebornId = 0;
int snapshots = 0;
LONG NTAPI WindowsSnapshot(ULONG kind, PVOID data, ULONG size, PULONG needed) {
    if (snapshotFails && kind == 5) return snapshotFails;
    const LONG status = realQuerySystem(kind, data, size, needed);
    static const LONG kBase[] = {0, 4, 8, 13, 24, 6, 10};  // PROCESS_PRIOCLASS_* to base priorities
    const bool later = kind == 5 && snapshots++ > 0;
    for (BYTE* at = static_cast<BYTE*>(data); status >= 0 && kind == 5;) {
        LONG priority;
        ULONGLONG id;
        ULONG next;
        memcpy(&priority, at + 72, 4), memcpy(&id, at + 80, 8), memcpy(&next, at, 4);
        if (priority > 0 && priority < 7) memcpy(at + 72, &kBase[priority], 4);
        if (id == reusedChild && reusedChild) memcpy(at + 88, &reusedParent, 8);
        LONGLONG created;
        memcpy(&created, at + 32, 8), created += id == rebornId && later ? 10000000 : 0, memcpy(at + 32, &created, 8);
        if (next == 0) break;
        at += next;
    }
    return status;
}
// vekrun takes the precise clock by name (Windows 8 on), and the process snapshot.
decltype(&GetProcAddress) realVekrunResolve;
void* dayClock = nullptr;
FARPROC WINAPI ResolveClock(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && strcmp(name, "GetSystemTimePreciseAsFileTime") == 0 && dayClock)
        return reinterpret_cast<FARPROC>(dayClock);
    if (!IS_INTRESOURCE(name) && realQuerySystem && strcmp(name, "wine_get_version") == 0) return nullptr;
    if (!IS_INTRESOURCE(name) && realQuerySystem && strcmp(name, "NtQuerySystemInformation") == 0)
        return reinterpret_cast<FARPROC>(WindowsSnapshot);
    return realVekrunResolve(module, name);
}
// With PDH_DOUBLE_ZONE=BIAS, vekrun's time zone is BIAS minutes behind UTC (UTC = local time + bias).
LONG zoneBias = 0;
DWORD WINAPI TheZone(LPTIME_ZONE_INFORMATION zone) { return *zone = {}, zone->Bias = zoneBias, TIME_ZONE_ID_UNKNOWN; }
// With PDH_DOUBLE_DISK_FULL=N, vekrun's own writes to files (its captures) fail from the Nth on,
// as on a full disk.
long writesLeft = 0;
BOOL WINAPI FullDisk(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (--writesLeft < 0) return *written = 0, SetLastError(ERROR_DISK_FULL), FALSE;
    return WriteFile(file, data, size, written, overlapped);
}
// With PDH_DOUBLE_CONSOLE_REFUSES, the console takes no UTF-16 text, as a console host that fails a write.
BOOL WINAPI RefuseWide(HANDLE, const void*, DWORD, LPDWORD, LPVOID) { return SetLastError(ERROR_INVALID_FUNCTION), FALSE; }

}  // namespace

// Where the environment says: the counter names served, an entry point lacking, the
// console and the clock (above), or a PDH.DLL that will not load. What it patches in vekrun
// stays patched for the process's life, and so the double stays loaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char list[256];
    DWORD length = GetEnvironmentVariableA("PDH_DOUBLE_LOCAL_NAMES", list, sizeof list);
    if (length && length < sizeof list) {
        localNames.assign(list, length);
        localNames += '|';
        std::replace(localNames.begin(), localNames.end(), '|', '\0');
        strcpy(list, "500|Widget|502|Turns");
        length = static_cast<DWORD>(strlen(list));
    } else {
        length = GetEnvironmentVariableA("PDH_DOUBLE_COUNTER_NAMES", list, sizeof list);
    }
    const HMODULE vekrun = GetModuleHandleA(nullptr), extender = GetModuleHandleA("vekproc.dll");
    const auto patch = [self](HMODULE module, const char* dll, const char* function, auto fake, decltype(fake)* real = nullptr) {
        HMODULE pinned;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN, reinterpret_cast<LPCSTR>(self), &pinned);
        new rig::Patch(module, dll, function, fake, real);
    };
    if (length && length < sizeof list) {
        names.assign(list, length);
        if (names != "refuse") names += '|';
        std::replace(names.begin(), names.end(), '|', '\0');
        for (HMODULE module : {vekrun, extender}) {
            patch(module, "ADVAPI32.dll", "RegQueryValueExA", ServeNames, &realQuery);
            patch(module, "ADVAPI32.dll", "RegOpenKeyExA", StrictOpen);
        }
    }
    if (GetEnvironmentVariableA("PDH_DOUBLE_LACKS", list, sizeof list)) {
        lacking = list;
        // The doctor looks for the same entry points, through vekrun's own imports.
        for (HMODULE module : {extender, vekrun}) patch(module, "KERNEL32.dll", "GetProcAddress", Resolve, &realResolve);
    }
    if (GetEnvironmentVariableA("PDH_DOUBLE_WINDOWS_CONSOLE", nullptr, 0) && SetConsoleCtrlHandler(DefaultCtrlC, TRUE)) {
        patch(vekrun, "KERNEL32.dll", "MultiByteToWideChar", StrictWide);
        patch(vekrun, "KERNEL32.dll", "WriteConsoleW", HalvesApart);
    }
    if (GetEnvironmentVariableA("PDH_DOUBLE_CONSOLE_REFUSES", nullptr, 0)) patch(vekrun, "KERNEL32.dll", "WriteConsoleW", RefuseWide);
    char count[16];
    if (GetEnvironmentVariableA("PDH_DOUBLE_DISK_FULL", count, sizeof count)) {
        writesLeft = atol(count) - 1;
        patch(vekrun, "KERNEL32.dll", "WriteFile", FullDisk);
    }
    char bias[16];
    const bool zone = GetEnvironmentVariableA("PDH_DOUBLE_ZONE", bias, sizeof bias) != 0;
    if (zone) zoneBias = atol(bias);
    if (GetEnvironmentVariableA("PDH_DOUBLE_CLOCK", nullptr, 0)) {
        patch(vekrun, "KERNEL32.dll", "GetTickCount64", ReadClock);
        patch(vekrun, "KERNEL32.dll", "QueryPerformanceCounter", ReadCounter);
        patch(vekrun, "KERNEL32.dll", "QueryPerformanceFrequency", CounterFrequency);
        patch(vekrun, "KERNEL32.dll", "Sleep", PassTime);
        patch(vekrun, "KERNEL32.dll", "GetLocalTime", TheDay);
        patch(vekrun, "KERNEL32.dll", "GetSystemTimeAsFileTime", TheDayPrecisely);
        dayClock = reinterpret_cast<void*>(TheDayPrecisely);
    }
    if (GetEnvironmentVariableA("PDH_DOUBLE_COARSE_CLOCK", nullptr, 0)) {
        patch(vekrun, "KERNEL32.dll", "GetSystemTimeAsFileTime", CoarseTime);
        patch(vekrun, "KERNEL32.dll", "GetLocalTime", CoarseLocalTime);
    }
    char reused[64];
    if (GetEnvironmentVariableA("PDH_DOUBLE_SNAPSHOT_FAILS", reused, sizeof reused))
        snapshotFails = static_cast<LONG>(strtoul(reused, nullptr, 16));
    if (snapshotFails || GetEnvironmentVariableA("PDH_DOUBLE_WINDOWS_SNAPSHOT", reused, sizeof reused)) {
        realQuerySystem = reinterpret_cast<QuerySystemFn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
        char* colon = strchr(reused, ':');
        if (colon && strncmp(reused, "reborn:", 7) == 0) rebornId = strtoull(colon + 1, nullptr, 10);
        else if (colon) reusedChild = strtoull(reused, nullptr, 10), reusedParent = strtoull(colon + 1, nullptr, 10);
    }
    if (dayClock || realQuerySystem) patch(vekrun, "KERNEL32.dll", "GetProcAddress", ResolveClock, &realVekrunResolve);
    if (zone || dayClock) patch(vekrun, "KERNEL32.dll", "GetTimeZoneInformation", TheZone);
    return !GetEnvironmentVariableA("PDH_DOUBLE_REFUSE_LOAD", nullptr, 0);
}

namespace {

// Handles are small numbers, so a test can see which one a call was given.
constexpr ULONG_PTR kQueryBase = 0x1000, kCounterBase = 0x2000;
ULONG_PTR nextQuery = kQueryBase, nextCounter = kCounterBase;

// As PDH does, only handles it issued and has not closed are taken, null
// never: a counter lives until it is removed or its query is closed.
std::set<ULONG_PTR> queries;
std::map<ULONG_PTR, ULONG_PTR> counters;  // counter -> its query

const char kExplain[] = "Counts the turns of the widget.";

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Record(const char* name, const char* text, ULONG_PTR handle, ULONG_PTR value) {
    if (script.callCount >= pdhdouble::kMaxCalls) return;
    CallRecord& r = script.calls[script.callCount++];
    snprintf(r.name, sizeof r.name, "%s", name);
    snprintf(r.text, sizeof r.text, "%s", text ? text : "");
    r.handle = handle;
    r.value = value;
    r.ms = Now();
}

ULONG_PTR H(void* handle) { return reinterpret_cast<ULONG_PTR>(handle); }

bool Refused(bool known) { return script.refusedHandles += !known, !known; }
bool BadQuery(PDH_HQUERY query) { return Refused(queries.count(H(query)) != 0); }
bool BadCounter(PDH_HCOUNTER counter) { return Refused(counters.count(H(counter)) != 0); }

PDH_STATUS AddCounter(const char* name, PDH_STATUS refusal, PDH_HQUERY query, LPCSTR path,
                      DWORD_PTR userData, PDH_HCOUNTER* counter) {
    Record(name, path, H(query), userData);
    if (BadQuery(query)) return PDH_INVALID_HANDLE;
    if (refusal) return refusal;
    *counter = reinterpret_cast<PDH_HCOUNTER>(++nextCounter);
    counters[nextCounter] = H(query);
    return 0;
}

}  // namespace

extern "C" {

Script* PdhDoubleScript() { return &script; }

// Loaded by vekrun as its extender, the double accepts no host code.
int32_t VEKExtenderQuery(int32_t, int32_t*, int32_t) { return 0; }
int32_t VEKExtender2() { return -1; }

PDH_STATUS WINAPI PdhOpenQuery(LPCWSTR source, DWORD_PTR userData, PDH_HQUERY* query) {
    Record("PdhOpenQuery", source ? "log file" : nullptr, 0, userData);
    if (script.openQuery) return script.openQuery;
    *query = reinterpret_cast<PDH_HQUERY>(++nextQuery);
    queries.insert(nextQuery);
    ++script.openQueries;
    return 0;
}

PDH_STATUS WINAPI PdhAddCounterA(PDH_HQUERY query, LPCSTR path, DWORD_PTR userData, PDH_HCOUNTER* counter) {
    return AddCounter("PdhAddCounterA", script.addCounter, query, path, userData, counter);
}

// As on a system of another language: the localised form refuses English
// paths (addCounter), the English form takes them (addEnglish).
PDH_STATUS WINAPI PdhAddEnglishCounterA(PDH_HQUERY query, LPCSTR path, DWORD_PTR userData, PDH_HCOUNTER* counter) {
    return AddCounter("PdhAddEnglishCounterA", script.addEnglish, query, path, userData, counter);
}

PDH_STATUS WINAPI PdhGetCounterInfoA(PDH_HCOUNTER counter, BOOLEAN explain, LPDWORD size, PPDH_COUNTER_INFO_A info) {
    Record("PdhGetCounterInfoA", info ? "block" : "size", H(counter), explain);
    if (BadCounter(counter)) return PDH_INVALID_HANDLE;
    // The record, its path, and the explain text only when it is asked for.
    const DWORD natural = static_cast<DWORD>(sizeof(PDH_COUNTER_INFO_A) + strlen(script.fullPath) +
                                             1 + (explain ? sizeof kExplain : 0));
    if (info == nullptr && *size != 0) return PDH_INVALID_ARGUMENT;  // no buffer goes with a size of zero
    if (info == nullptr && script.infoSize) return *size = script.infoSize, script.infoSizeQuery ? script.infoSizeQuery : PDH_MORE_DATA;
    if (info == nullptr || *size < natural) return *size = natural, info == nullptr && script.infoSizeQuery ? script.infoSizeQuery : PDH_MORE_DATA;
    info->dwLength = natural;
    info->dwType = script.infoType;
    info->CStatus = script.infoCStatus;
    char* text = reinterpret_cast<char*>(info + 1);
    strcpy(text, script.fullPath);
    info->szFullPath = text;
    if (explain) {
        info->szExplainText = text + strlen(text) + 1;
        strcpy(info->szExplainText, kExplain);
    }
    *size = natural;
    return script.info;
}

PDH_STATUS WINAPI PdhCollectQueryData(PDH_HQUERY query) {
    int n = 0;
    for (int i = 0; i < script.callCount; ++i) n += strcmp(script.calls[i].name, "PdhCollectQueryData") == 0;
    Record("PdhCollectQueryData", nullptr, H(query), 0);
    if (BadQuery(query)) return PDH_INVALID_HANDLE;
    return script.collect[n < 2 ? n : 1];
}

PDH_STATUS WINAPI PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, LPDWORD, PPDH_FMT_COUNTERVALUE value) {
    Record("PdhGetFormattedCounterValue", nullptr, H(counter), format);
    if (BadCounter(counter)) return PDH_INVALID_HANDLE;
    if (script.format) SetLastError(ERROR_INVALID_DATA);  // the system's code, beside the status
    if (script.formatFills) {
        value->CStatus = script.valueCStatus;
        if (format & PDH_FMT_LONG) value->longValue = script.longValue;
        if (format & PDH_FMT_DOUBLE) value->doubleValue = script.doubleValue;
    }
    return script.format;
}

PDH_STATUS WINAPI PdhRemoveCounter(PDH_HCOUNTER counter) {
    Record("PdhRemoveCounter", nullptr, H(counter), 0);
    if (BadCounter(counter)) return PDH_INVALID_HANDLE;
    if (script.remove) return script.remove;
    counters.erase(H(counter));
    return 0;
}

PDH_STATUS WINAPI PdhCloseQuery(PDH_HQUERY query) {
    Record("PdhCloseQuery", nullptr, H(query), 0);
    if (BadQuery(query)) return PDH_INVALID_HANDLE;
    if (script.close) return script.close;
    queries.erase(H(query));
    for (auto at = counters.begin(); at != counters.end();) at = at->second == H(query) ? counters.erase(at) : ++at;
    --script.openQueries;
    return 0;
}

PDH_STATUS WINAPI PdhBrowseCountersA(PPDH_BROWSE_DLG_CONFIG_A config) {
    Record("PdhBrowseCountersA", config->szDialogBoxCaption, H(config->hWndOwner), config->cchReturnPathLength);
    script.browseConfig = *config;
    snprintf(script.browseCaption, sizeof script.browseCaption, "%s", config->szDialogBoxCaption ? config->szDialogBoxCaption : "");
    if (script.browse) return script.browse;
    // A path as long as the buffer fills it with no terminator, as a dialog may.
    const size_t length = strnlen(script.browsePath, config->cchReturnPathLength);
    memcpy(config->szReturnPathBuffer, script.browsePath, length);
    if (length < config->cchReturnPathLength) config->szReturnPathBuffer[length] = '\0';
    return 0;
}

PDH_STATUS WINAPI PdhConnectMachineA(LPCSTR machine) {
    Record("PdhConnectMachineA", machine, machine == nullptr, 0);
    return script.connect;
}

// Counter discovery: two objects; the widget's counters, and its instances with one name twice
// (as svchost comes more than once); each list asked for its size first, as PDH's protocol has it.
PDH_STATUS Served(const std::string& list, LPSTR buffer, LPDWORD size) {
    const DWORD needed = static_cast<DWORD>(list.size());
    const bool fits = buffer != nullptr && *size >= needed;
    if (fits) memcpy(buffer, list.data(), needed);
    *size = needed;
    return fits ? ERROR_SUCCESS : PDH_MORE_DATA;
}
std::string Widget() { return localNames.empty() ? "Widget" : "Dingsbums"; }

PDH_STATUS WINAPI PdhEnumObjectsA(LPCSTR, LPCSTR, LPSTR list, LPDWORD size, DWORD detail, BOOL) {
    Record("PdhEnumObjectsA", nullptr, 0, detail);
    return Served(Widget() + std::string("\0Gadget\0\0", 9), list, size);
}

PDH_STATUS WINAPI PdhEnumObjectItemsA(LPCSTR, LPCSTR, LPCSTR object, LPSTR counters, LPDWORD counterSize, LPSTR instances,
                                      LPDWORD instanceSize, DWORD detail, DWORD) {
    Record("PdhEnumObjectItemsA", object, 0, detail);
    std::string counterList, instanceList;
    if (_stricmp(object, Widget().c_str()) == 0) {
        counterList = (localNames.empty() ? "Turns" : "Drehungen") + std::string("\0Spins\0\0", 8);
        instanceList = std::string("left\0right\0left\0\0", 17);
    } else if (_stricmp(object, "Gadget") == 0) {
        counterList = std::string("Count\0\0", 7);
    } else {
        return PDH_CSTATUS_NO_OBJECT;
    }
    const PDH_STATUS first = Served(counterList, counters, counterSize);
    const PDH_STATUS second = instanceList.empty() ? (*instanceSize = 0, ERROR_SUCCESS) : Served(instanceList, instances, instanceSize);
    return first != ERROR_SUCCESS ? first : second;
}

PDH_STATUS WINAPI PdhParseCounterPathA(LPCSTR path, PPDH_COUNTER_PATH_ELEMENTS_A elements, LPDWORD size, DWORD flags) {
    Record("PdhParseCounterPathA", path, elements != nullptr, flags);
    const DWORD natural = sizeof(PDH_COUNTER_PATH_ELEMENTS_A) + 5 * 128;
    if (elements == nullptr) return *size = script.parseSize ? script.parseSize : natural, script.parseSizeQuery ? script.parseSizeQuery : PDH_MORE_DATA;
    if (script.parse) return script.parse;
    if (*size < natural) return *size = natural, PDH_MORE_DATA;
    char* text = reinterpret_cast<char*>(elements + 1);
    auto put = [&](const char* value) -> LPSTR {
        if (strcmp(value, "<null>") == 0) return nullptr;
        char* at = text;
        strcpy(at, value);
        text += 128;
        return at;
    };
    elements->szMachineName = put(script.machine);
    elements->szObjectName = put(script.object);
    elements->szInstanceName = put(script.instance);
    elements->szParentInstance = put(script.parent);
    elements->dwInstanceIndex = script.instanceIndex;
    elements->szCounterName = put(script.counter);
    return 0;
}

}  // extern "C"
