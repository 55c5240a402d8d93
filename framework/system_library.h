// Loads a library of Windows' own from the system folder, never through the
// search path: PDH.DLL is not a KnownDLL on any Windows (PSAPI.DLL only from
// Windows 7 on), so a bare name would take a file of that name from the
// host's folder or the current directory first, and run its code in the host.
// Shared by the extender and vekrun's doctor.
#pragma once

#include <windows.h>
#include <string.h>

namespace vek {

inline HMODULE LoadSystemLibrary(const char* name) {
    // LOAD_LIBRARY_SEARCH_SYSTEM32 is known where kernel32 exports
    // AddDllDirectory (Windows 8, and Vista and 7 with the loader update);
    // elsewhere LoadLibraryExA refuses it with ERROR_INVALID_PARAMETER.
    HMODULE kernel32 = GetModuleHandleA("KERNEL32.DLL");
    if (kernel32 != nullptr && GetProcAddress(kernel32, "AddDllDirectory") != nullptr) {
        HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    }
    constexpr UINT kPathCapacity = MAX_PATH;
    char path[kPathCapacity];
    const UINT folder = GetSystemDirectoryA(path, kPathCapacity);
    const size_t length = strlen(name);
    // 0 is a failure, and a size beyond the buffer is what it would need.
    if (folder == 0 || folder + 1 + length >= kPathCapacity) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    path[folder] = '\\';
    memcpy(path + folder + 1, name, length + 1);
    // Its own imports are then looked for beside it, in the system folder.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Wine's pdh.dll exports PdhParseCounterPathA, PdhConnectMachineA and
// PdhBrowseCountersA as stubs: GetProcAddress finds them, and a call raises
// an exception that no handler can resume, which ends the host. Under Wine
// (ntdll exports wine_get_version there alone) a builtin image carries
// "Wine builtin DLL" where a native image has its DOS stub.
inline bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline bool IsWineBuiltin(HMODULE module) {
    static const char kBuiltinMark[] = "Wine builtin DLL";
    constexpr size_t kBuiltinMarkOffset = 0x40;
    if (module == nullptr || !UnderWine()) return false;
    // Within the image's first page, which every image has.
    return memcmp(reinterpret_cast<const char*>(module) + kBuiltinMarkOffset, kBuiltinMark,
                  sizeof kBuiltinMark - 1) == 0;
}

// An entry point served from elsewhere (a native PDH.DLL, a stand-in) lies
// outside the module's image.
inline bool InsideImage(HMODULE module, const void* entry) {
    MEMORY_BASIC_INFORMATION region;
    return entry != nullptr && VirtualQuery(entry, &region, sizeof region) != 0 &&
           region.AllocationBase == module;
}

// One of Wine's stubs, whose call ends the caller: an entry point that Wine's
// own DLL serves from its image (a native PDH.DLL, or a stand-in, is none).
// The loader applies the same rule a module at a time (ForgetWineStubs).
inline bool IsWineStub(HMODULE module, const void* entry) {
    return IsWineBuiltin(module) && InsideImage(module, entry);
}

}  // namespace vek
