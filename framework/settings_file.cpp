// Where the host's per-user settings file lies: one implementation, for the
// extender, which writes its "LastError" line there, and for vekrun's
// doctor, which reads it back.
#include <string.h>

#include "owner.h"
#include "settings_file.h"
#include "system_library.h"

#include <shlobj.h>

namespace vek {

namespace {

typedef HRESULT(WINAPI* SHGetFolderPathAFn)(HWND, int, HANDLE, DWORD, LPSTR);

// The folders are only created when the file's full path will fit, so a
// path too long to log leaves nothing behind on disk.
constexpr int kSettingsFileReserve = sizeof kSettingsFileName - 1;
constexpr int kSmallestSettingsCapacity = sizeof kSettingsFolders + kSettingsFileReserve;

bool AppendBounded(char* buffer, int capacity, const char* piece) {
    size_t used = strlen(buffer);
    size_t add = strlen(piece);
    if (used + add + 1 > static_cast<size_t>(capacity)) return false;
    memcpy(buffer + used, piece, add + 1);
    return true;
}

bool CreateFolder(const char* path) {
    return CreateDirectoryA(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

// Any failure to build or create the path returns 0, and nothing is written:
// logging never fails the call that logs.
int GetSettingsFolder(char* buffer, int size) {
    // Too small for the folders and the file name even on their own: no
    // bound below would be positive, and the buffer is left untouched.
    if (size < kSmallestSettingsCapacity) return 0;
    buffer[0] = '\0';
    bool found = false;

    LibraryGuard shell32(LoadSystemLibrary("SHELL32.DLL"));
    SHGetFolderPathAFn getFolderPath = nullptr;
    if (shell32) {
        getFolderPath = reinterpret_cast<SHGetFolderPathAFn>(
            reinterpret_cast<void*>(GetProcAddress(shell32.Get(), "SHGetFolderPathA")));
    }
    LibraryGuard shfolder(getFolderPath ? nullptr : LoadSystemLibrary("SHFOLDER.DLL"));
    if (shfolder) {
        getFolderPath = reinterpret_cast<SHGetFolderPathAFn>(
            reinterpret_cast<void*>(GetProcAddress(shfolder.Get(), "SHGetFolderPathA")));
    }
    // SHGetFolderPathA writes up to MAX_PATH characters; a smaller buffer
    // gets no shell folder at all rather than an overrun.
    if (getFolderPath && size >= MAX_PATH) {
        found = getFolderPath(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) >= 0;
    }
    shell32.Reset();
    shfolder.Reset();

    if (!found || buffer[0] == '\0') {
        buffer[0] = '\0';  // a failed shell call may have left anything there
        UINT length = GetWindowsDirectoryA(buffer, static_cast<UINT>(size));
        if (length == 0 || length >= static_cast<UINT>(size)) buffer[0] = '\0';
    }

    if (buffer[0] != '\0') {
        // Walk by characters, so the trail byte of a double-byte character
        // is never taken for a backslash.
        char* end = buffer;
        while (*end) end = CharNextA(end);
        char* last = CharPrevA(buffer, end);
        if (*last != '\\' && !AppendBounded(buffer, size, "\\")) return 0;
    }

    const int folderCapacity = size - kSettingsFileReserve;
    if (!AppendBounded(buffer, folderCapacity, kSettingsFolders)) return 0;
    char* settings = buffer + strlen(buffer) - strlen("\\Settings");
    *settings = '\0';
    if (!CreateFolder(buffer)) return 0;
    *settings = '\\';
    return CreateFolder(buffer) ? 1 : 0;
}

int SettingsFilePath(char* buffer, int size) {
    if (!GetSettingsFolder(buffer, size)) return 0;
    return AppendBounded(buffer, size, kSettingsFileName) ? 1 : 0;
}

}  // namespace vek
