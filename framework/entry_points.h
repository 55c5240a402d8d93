// The entry points the extender takes by name from the libraries it loads at
// run time, in the order it resolves them, each with what its absence means,
// as lists of X(name, need): the loader expands them into its resolution,
// vekrun's doctor into the names it looks for, so that both name the same.
#pragma once

namespace vek {

enum EntryPointNeed {
    kNeeded,           // absent: an API is missing (missingApi)
    kCheckedByCaller,  // absent: its own keywords give 211
    kOptional,         // absent on older Windows, where the extender does without
};

}  // namespace vek

// A list keeps a row a line, as tables do.
// clang-format off

// Kernel32's Toolhelp, on Windows 95, 98 and Me.
#define VEK_TOOLHELP_ENTRY_POINTS(X)     \
    X(CreateToolhelp32Snapshot, kNeeded) \
    X(Process32First, kNeeded)           \
    X(Process32Next, kNeeded)            \
    X(Module32First, kNeeded)            \
    X(Module32Next, kNeeded)

// PSAPI.DLL. EnumProcessModulesEx from Vista on; before, the plain form
// lists every module there is.
#define VEK_PSAPI_ENTRY_POINTS(X)        \
    X(EnumProcesses, kNeeded)            \
    X(EnumProcessModules, kNeeded)       \
    X(GetModuleFileNameExA, kNeeded)     \
    X(GetModuleBaseNameA, kNeeded)       \
    X(GetModuleInformation, kNeeded)     \
    X(GetProcessMemoryInfo, kNeeded)     \
    X(EnumProcessModulesEx, kOptional)

// PDH.DLL. PdhAddEnglishCounterA, from Vista on, is only a second try.
#define VEK_PDH_ENTRY_POINTS(X)                 \
    X(PdhOpenQuery, kNeeded)                    \
    X(PdhAddCounterA, kNeeded)                  \
    X(PdhCollectQueryData, kNeeded)             \
    X(PdhGetFormattedCounterValue, kNeeded)     \
    X(PdhCloseQuery, kNeeded)                   \
    X(PdhRemoveCounter, kNeeded)                \
    X(PdhBrowseCountersA, kNeeded)              \
    X(PdhGetCounterInfoA, kCheckedByCaller)     \
    X(PdhConnectMachineA, kNeeded)              \
    X(PdhEnumObjectItemsA, kNeeded)             \
    X(PdhParseCounterPathA, kCheckedByCaller)   \
    X(PdhAddEnglishCounterA, kOptional)

// Wine's pdh.dll exports these as stubs whose call ends the caller.
#define VEK_PDH_WINE_STUBS(X) X(PdhParseCounterPathA) X(PdhConnectMachineA) X(PdhBrowseCountersA)

// PDH's enumeration, which vekrun's counter discovery takes by name; Wine's
// are stubs too.
#define VEK_PDH_ENUMERATION(X) X(PdhEnumObjectsA) X(PdhEnumObjectItemsA)

// clang-format on
