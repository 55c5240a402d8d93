// What the platform probe found and the entry points the loader resolved at
// run time, with the checks each keyword makes of them first.
#pragma once

#include <windows.h>
#include <pdh.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <stdint.h>

namespace vek {

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
typedef PDH_STATUS(WINAPI* PdhParseCounterPathAFn)(LPCSTR, PPDH_COUNTER_PATH_ELEMENTS_A, LPDWORD,
                                                   DWORD);

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

typedef BOOL(WINAPI* CompareObjectHandlesFn)(HANDLE, HANDLE);
// ObjectInformationClass 0, ObjectBasicInformation, fills a
// PUBLIC_OBJECT_BASIC_INFORMATION.
typedef LONG(NTAPI* NtQueryObjectFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);

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

    // Windows 10 and later (kernelbase); optional.
    CompareObjectHandlesFn CompareObjectHandles;
    // ntdll, every NT system; optional.
    NtQueryObjectFn NtQueryObject;
};

// What the probe found and the loader resolved, read-only to the keywords:
// only the probe and the loader (platform.cpp) write them.
const PlatformInfo& Platform();
const ApiTable& Api();
HINSTANCE ModuleInstance();

BOOL PlatformProbe(HINSTANCE instance, DWORD reason);
void ApiLoader();
void ApiRelease();

// Availability checks: 0 when the function may go on, else its message id.
int CheckListProc();
int CheckProcessApi();    // tCountProc, tListMod
int CheckModInfo();       // tGetModInfo
int CheckProcInfo();      // tGetProcInfo
int CheckPlatformOnly();  // tOpenProc, tKillProc, tCloseProc
int CheckPdh();           // every counter function

inline bool OnNtPath() { return Platform().isNT && Platform().isVersion4Plus; }

}  // namespace vek
