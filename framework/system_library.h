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

}  // namespace vek
