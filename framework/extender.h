// Process-wide state and the routines the keyword functions share.
#pragma once

#include <windows.h>
#include <pdh.h>
#include <psapi.h>
#include <tlhelp32.h>

#include "vek_host.h"

namespace vek {

// ---- Platform probe and API loader ------------------------------------

struct PlatformInfo {
    int32_t isWin9x;
    int32_t isNT;
    int32_t isNT3;
    int32_t isVersion4Plus;
    int32_t isVersion5Plus;
    int32_t isVersion6Plus;  // NT family only: Vista and later
    int32_t missingApi;
    int32_t unsupportedPlatform;
};

// PdhOpenQuery is resolved by its undecorated name, which is the wide form.
typedef PDH_STATUS(WINAPI* PdhOpenQueryFn)(LPCWSTR, DWORD_PTR, PDH_HQUERY*);
typedef PDH_STATUS(WINAPI* PdhAddCounterAFn)(PDH_HQUERY, LPCSTR, DWORD_PTR, PDH_HCOUNTER*);
typedef PdhAddCounterAFn PdhAddEnglishCounterAFn;
typedef PDH_STATUS(WINAPI* PdhCollectQueryDataFn)(PDH_HQUERY);
typedef PDH_STATUS(WINAPI* PdhGetFormattedCounterValueFn)(PDH_HCOUNTER, DWORD, LPDWORD,
                                                          PPDH_FMT_COUNTERVALUE);
typedef PDH_STATUS(WINAPI* PdhCloseQueryFn)(PDH_HQUERY);
typedef PDH_STATUS(WINAPI* PdhRemoveCounterFn)(PDH_HCOUNTER);
typedef PDH_STATUS(WINAPI* PdhBrowseCountersAFn)(PPDH_BROWSE_DLG_CONFIG_A);
typedef PDH_STATUS(WINAPI* PdhGetCounterInfoAFn)(PDH_HCOUNTER, BOOLEAN, LPDWORD,
                                                 PPDH_COUNTER_INFO_A);
typedef PDH_STATUS(WINAPI* PdhConnectMachineAFn)(LPCSTR);
typedef PDH_STATUS(WINAPI* PdhEnumObjectItemsAFn)(LPCSTR, LPCSTR, LPCSTR, LPSTR, LPDWORD, LPSTR,
                                                  LPDWORD, DWORD, DWORD);
typedef PDH_STATUS(WINAPI* PdhParseCounterPathAFn)(LPCSTR, PPDH_COUNTER_PATH_ELEMENTS_A,
                                                   LPDWORD, DWORD);

typedef HANDLE(WINAPI* CreateToolhelp32SnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI* Process32FirstFn)(HANDLE, LPPROCESSENTRY32);
typedef BOOL(WINAPI* Process32NextFn)(HANDLE, LPPROCESSENTRY32);
typedef BOOL(WINAPI* Module32FirstFn)(HANDLE, LPMODULEENTRY32);
typedef BOOL(WINAPI* Module32NextFn)(HANDLE, LPMODULEENTRY32);

typedef BOOL(WINAPI* EnumProcessesFn)(DWORD*, DWORD, DWORD*);
typedef BOOL(WINAPI* EnumProcessModulesFn)(HANDLE, HMODULE*, DWORD, LPDWORD);
typedef BOOL(WINAPI* EnumProcessModulesExFn)(HANDLE, HMODULE*, DWORD, LPDWORD, DWORD);
typedef DWORD(WINAPI* GetModuleFileNameExAFn)(HANDLE, HMODULE, LPSTR, DWORD);
typedef DWORD(WINAPI* GetModuleBaseNameAFn)(HANDLE, HMODULE, LPSTR, DWORD);
typedef BOOL(WINAPI* GetModuleInformationFn)(HANDLE, HMODULE, LPMODULEINFO, DWORD);
typedef BOOL(WINAPI* GetProcessMemoryInfoFn)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);

struct ApiTable {
    HMODULE toolhelpModule;
    HMODULE psapiModule;
    HMODULE pdhModule;

    CreateToolhelp32SnapshotFn CreateToolhelp32Snapshot;
    Process32FirstFn Process32First;
    Process32NextFn Process32Next;
    Module32FirstFn Module32First;
    Module32NextFn Module32Next;

    EnumProcessesFn EnumProcesses;
    EnumProcessModulesFn EnumProcessModules;
    GetModuleFileNameExAFn GetModuleFileNameExA;
    GetModuleBaseNameAFn GetModuleBaseNameA;
    GetModuleInformationFn GetModuleInformation;
    GetProcessMemoryInfoFn GetProcessMemoryInfo;
    // Windows Vista and later; optional, outside the all-present test.
    EnumProcessModulesExFn EnumProcessModulesEx;

    PdhOpenQueryFn PdhOpenQuery;
    PdhAddCounterAFn PdhAddCounterA;
    PdhCollectQueryDataFn PdhCollectQueryData;
    PdhGetFormattedCounterValueFn PdhGetFormattedCounterValue;
    PdhCloseQueryFn PdhCloseQuery;
    PdhRemoveCounterFn PdhRemoveCounter;
    PdhBrowseCountersAFn PdhBrowseCountersA;
    PdhGetCounterInfoAFn PdhGetCounterInfoA;
    PdhConnectMachineAFn PdhConnectMachineA;
    PdhEnumObjectItemsAFn PdhEnumObjectItemsA;
    PdhParseCounterPathAFn PdhParseCounterPathA;
    // Windows Vista and later; optional, outside the all-present test.
    PdhAddEnglishCounterAFn PdhAddEnglishCounterA;
};

extern PlatformInfo platformInfo;
extern HINSTANCE moduleInstance;
extern ApiTable apiTable;

BOOL PlatformProbe(HINSTANCE instance, DWORD reason);
void ApiLoader();
void ApiRelease();

// Availability checks: 0 when the function may go on, else its message id.
int CheckListProc();
int CheckProcessApi();     // tCountProc, tListMod
int CheckModInfo();        // tGetModInfo
int CheckProcInfo();       // tGetProcInfo
int CheckPlatformOnly();   // tOpenProc, tKillProc, tCloseProc
int CheckPdh();            // every counter function

inline bool OnNtPath() { return platformInfo.isNT && platformInfo.isVersion4Plus; }

// ---- Errors and the last-error log -------------------------------------

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
inline int FailWithStatus(int message, LONG status) { return FailWithCode(message, static_cast<uint32_t>(status)); }

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
BOOL WriteSettingsValue(const char* section, const char* key, const char* value);

// The open-process failure tail's choice: keeps the system's code, names 202
// for access denied and otherMessage for everything else.
int OpenProcessFailure(int otherMessage);

// ---- Numbers ----------------------------------------------------------

constexpr int kInt32TextCapacity = 12;
constexpr int kUInt64TextCapacity = 21;
constexpr int kDoubleTextCapacity = 32;

bool IsIntegerText(const char* text);
int32_t ParseInteger(const char* text);
int32_t TextToInt32(const char* text);
int64_t TextToInt64(const char* text);
void Int32ToText(int32_t value, char* buffer);
void UInt64ToText(uint64_t value, char* buffer);
int FormatDouble(double value, char* buffer);

// ---- Bounded text -----------------------------------------------------

// Appends never write past capacity; a piece that does not fit is refused
// whole, so a list can end at its last complete item.
struct TextBuffer {
    char* text;
    size_t capacity;  // characters, terminator included
    size_t length;

    void Clear() { length = 0; text[0] = '\0'; }
    bool Append(const char* piece);
    bool AppendChar(char c);
    void Truncate(size_t newLength) { length = newLength; text[length] = '\0'; }
};

// ---- One keyword call --------------------------------------------------

constexpr size_t kResultTextCapacity = 65536;

// Outcomes of a keyword function besides its message ids.
enum KeywordOutcome : int {
    kSucceeded = 0,
    kCancelledWithoutCallback = -5,  // the host gets kReturnDialogCancelled, no callback
    kCalledBackItself = -100,        // the function called back; its value is returned
};

// Per-call storage, in the stack frame of VEKExtender2: it ends when the
// call returns, after the host has copied the result in its callback.
struct KeywordCall {
    HWND hostWindow;
    const uint8_t* slots;
    ResultSlot* result;
    HostCallback callback;
    uint32_t hostTag;
    HostContext* hostContext;
    int32_t callbackValue;  // set by a function that calls back itself
    char numberText[kDoubleTextCapacity];
    char resultText[kResultTextCapacity];
};

const char* ArgText(const KeywordCall& call, int index);
void SetInteger(KeywordCall& call, int32_t value);
void SetString(KeywordCall& call, const char* text);
TextBuffer ResultBuffer(KeywordCall& call);

typedef int (*KeywordFunction)(KeywordCall& call);

// ---- Keyword table ----------------------------------------------------

int32_t KeywordCount();
int EnumerateKeyword(uint32_t keywordIndex, KeywordEntry* record);
// Null where no function answers to the id (0, the constants, 15 to 21, out of range).
KeywordFunction FindKeywordFunction(int32_t id);

// ---- Keyword functions ------------------------------------------------

int tVersion(KeywordCall& call);
int tCompatible(KeywordCall& call);
int tGetLastError(KeywordCall& call);
int tListProc(KeywordCall& call);
int tCountProc(KeywordCall& call);
int tOpenProc(KeywordCall& call);
int tKillProc(KeywordCall& call);
int tCloseProc(KeywordCall& call);
int tSetPriority(KeywordCall& call);
int tGetPriority(KeywordCall& call);
int tGetProcInfo(KeywordCall& call);
int tListMod(KeywordCall& call);
int tGetModInfo(KeywordCall& call);
int tGetData(KeywordCall& call);
int tBrowseCntrs(KeywordCall& call);
int tParseCntrPath(KeywordCall& call);
int tRemoteConn(KeywordCall& call);

// ---- Shared by the process functions ------------------------------------

// Opens a process to read one figure: with `access`, or, where that is
// refused with ERROR_ACCESS_DENIED from Vista on, with the limited query right.
HANDLE OpenProcessForQuery(DWORD access, DWORD processId);
// Closes the handles tOpenProc gave the script and it has not closed.
void CloseScriptHandles();
int CounterIndexLookup(const char* name, char* indexText, int capacity);
int CounterIndexWalk(const char* data, DWORD size, const char* name, char* indexText,
                     int capacity);

// Reads one object of the performance data into a process-heap buffer
// that grows until it fits; 0 or a message id. `reads` (may be null) gets
// the number of registry queries made. The caller frees the buffer.
int ReadPerformanceObject(const char* indexText, BYTE** buffer, DWORD* returned, int* reads);

// Walks the object `objectIndex` of a performance-data block of `size`
// bytes for the process list; 0 or a message id. Bounded by size: nothing
// outside the block is read.
int ProcessListFromPerfData(const BYTE* data, DWORD size, int32_t objectIndex,
                            int32_t idCounterIndex, TextBuffer& out);

// Releases what it holds when the scope ends, on every path, in the manner
// of WIL's unique_any: Owner<HKEY, RegCloseKey> key; ... RegOpenKeyExA(...,
// key.Put()). Releases whose statuses a keyword reports, in an order it
// reports them, stay spelled out where they happen.
template <typename T, auto Release>
class Owner {
public:
    Owner() = default;
    explicit Owner(T value) : value_(value) {}
    ~Owner() { Reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    T Get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    T* Put() {
        Reset();
        return &value_;
    }
    void Reset() {
        if (value_ != T{}) Release(value_);
        value_ = T{};
    }

private:
    T value_ = T{};
};

// Kernel handles, whose failed opens give null or INVALID_HANDLE_VALUE.
inline void CloseValidHandle(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}
using HandleGuard = Owner<HANDLE, CloseValidHandle>;

}  // namespace vek
