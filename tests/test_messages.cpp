// The message table as the script sees it, and the "LastError" line.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <optional>
#include <regex>

#include "host.h"
#include "rig.h"
#include "settings_file.h"

using namespace test;

namespace {

struct Message {
    int id;
    std::string text;
};

// The message table as resources/messages.rc spells it: a line `ID "text"`
// each, with the resource compiler's \n for a line feed.
std::vector<Message> ReadMessages() {
    std::ifstream in(std::string("Z:") + VEK_SOURCE_DIR "/resources/messages.rc");
    std::vector<Message> messages;
    std::smatch row;
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_match(line, row, std::regex(" *([0-9]+) \"(.*)\"\r?"))) continue;
        std::string text = row[2];
        for (size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
        messages.push_back({std::stoi(row[1]), text});
    }
    return messages;
}

}  // namespace

TEST(Messages, EveryTextIsStoredExactlyInTheDllsOwnResources) {
    HMODULE dll = LoadLibraryExA((Directory() + "vekproc.dll").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    const std::vector<Message> messages = ReadMessages();
    EXPECT_EQ(messages.size(), 48u) << "resources/messages.rc not found, or not read whole";
    for (const Message& m : messages) {
        char text[256];
        memset(text, 'x', sizeof text);
        int length = LoadStringA(dll, m.id, text, sizeof text);
        EXPECT_EQ(length, static_cast<int>(m.text.size())) << m.id;
        EXPECT_EQ(text, m.text) << m.id;
    }
    char text[256] = "";
    for (int id : {199, 247, 901, 999, 1001}) EXPECT_EQ(LoadStringA(dll, id, text, sizeof text), 0) << id;
    FreeLibrary(dll);
}

TEST(Messages, TheVersionResourceCarries44017) {
    const std::string path = Directory() + "vekproc.dll";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, &block[0]));
    struct Translation { WORD language, codePage; }* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(translation->language, 1033);
    char query[64];
    for (const char* name : {"FileVersion", "ProductVersion"}) {
        snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                 translation->codePage, name);
        char* value = nullptr;
        ASSERT_TRUE(VerQueryValueA(&block[0], query, reinterpret_cast<void**>(&value), &length));
        EXPECT_STREQ(value, "44017") << name;
    }
}

namespace {

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Points the user's application-data folder elsewhere for one scope.
class AppDataFolder {
public:
    explicit AppDataFolder(const std::string& path) {
        RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ | KEY_WRITE, &key_);
        DWORD size = sizeof saved_;
        RegQueryValueExA(key_, "AppData", nullptr, &type_, reinterpret_cast<BYTE*>(saved_), &size);
        RegSetValueExA(key_, "AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
    }
    ~AppDataFolder() {
        RegSetValueExA(key_, "AppData", 0, type_, reinterpret_cast<const BYTE*>(saved_),
                       static_cast<DWORD>(strlen(saved_) + 1));
        RegCloseKey(key_);
    }

private:
    HKEY key_ = nullptr;
    DWORD type_ = REG_EXPAND_SZ;
    char saved_[MAX_PATH] = "";
};

std::string IniLine(const std::string& folder) {
    char value[256] = "";
    GetPrivateProfileStringA(vek::kSettingsSection, vek::kLastErrorKey, "", value, sizeof value,
                             (folder + "\\" + vek::kSettingsFolders + vek::kSettingsFileName).c_str());
    return value;
}

}  // namespace

void RemoveSettings(const std::string& root) {
    DeleteFileA((root + "\\" + vek::kSettingsFolders + vek::kSettingsFileName).c_str());
    RemoveDirectoryA((root + "\\" + vek::kSettingsFolders).c_str());
    RemoveDirectoryA((root + "\\Dravolin").c_str());
}

namespace {

// Where the shell folder comes from, row by row.
decltype(&GetProcAddress) realResolve;
decltype(&GetWindowsDirectoryA) realWindowsDirectory;
struct Folders {
    bool shell32, shfolder, windows;  // which of them can give a folder
    HRESULT shellResult;
} folders;
std::string asked;  // the modules asked for SHGetFolderPathA, in order
const char kShfolderRoot[] = "C:\\vek-shfolder";

HRESULT WINAPI FailingFolder(HWND, int, HANDLE, DWORD, LPSTR path) {
    strcpy(path, "C:\\junk");  // what a failed call may leave behind
    return folders.shellResult;
}
HRESULT WINAPI ShfolderFolder(HWND window, int folder, HANDLE token, DWORD flags, LPSTR path) {
    strcpy(path, kShfolderRoot);  // CSIDL_APPDATA (26) as it is now (0), for no window and this user
    return folder == 26 && flags == 0 && !window && !token ? S_OK : E_INVALIDARG;
}
FARPROC WINAPI ResolveFolder(HMODULE module, LPCSTR name) {
    FARPROC entry = realResolve(module, name);
    if (IS_INTRESOURCE(name) || strcmp(name, "SHGetFolderPathA") != 0) return entry;
    const bool shell = module == GetModuleHandleA("shell32.dll");
    asked += shell ? "shell32 " : module == GetModuleHandleA("shfolder.dll") ? "shfolder " : "other ";
    if (shell) {
        if (!folders.shell32) return nullptr;
        return folders.shellResult ? reinterpret_cast<FARPROC>(FailingFolder) : entry;
    }
    return folders.shfolder ? reinterpret_cast<FARPROC>(ShfolderFolder) : nullptr;
}
UINT WINAPI WindowsDirectory(LPSTR buffer, UINT size) {
    return folders.windows ? realWindowsDirectory(buffer, size) : 0;
}

std::string Windows() { char path[MAX_PATH]; return std::string(path, GetWindowsDirectoryA(path, MAX_PATH)); }
std::string Current() { char path[MAX_PATH]; return std::string(path, GetCurrentDirectoryA(MAX_PATH, path)); }

}  // namespace

// SHELL32's folder, else SHFOLDER's, else the Windows directory, else the
// current directory; both libraries are released on every path.
// ...\Dravolin\Settings\QUENDRAL.INI adds 31 characters to the folder: the
// whole path and its terminator must fit in 260, and no folder is made for a
// file that cannot be written.
TEST(LastErrorLog, TheFolderFallsBackToShfolderThenWindowsThenTheCurrentDirectory) {
    const std::string fits = "C:\\" + std::string(225, 'p');      // 228 characters
    const std::string tooLong = "C:\\" + std::string(226, 'q');    // 229 characters
    for (const std::string& folder : {fits, tooLong, std::string(kShfolderRoot)}) CreateDirectoryA(folder.c_str(), nullptr);
    Host host;
    ASSERT_EQ(host.Initialise(), 19);
    rig::Patch resolve(host.Module(), "KERNEL32.dll", "GetProcAddress", ResolveFolder, &realResolve);
    rig::Patch windows(host.Module(), "KERNEL32.dll", "GetWindowsDirectoryA", WindowsDirectory, &realWindowsDirectory);
    ASSERT_TRUE(windows.Active());
    // Each row kills handle 0, which tKillProc refuses and logs. An
    // application-data folder a row gives is the user's for that call.
    const Folders shell = {true, true, true, S_OK};
    struct { const char* name; Folders folders; std::string root, asked, appData; bool written = true; } rows[] = {
        {"shfolder's, shell32 lacking it", {false, true, true, S_OK}, kShfolderRoot, "shell32 shfolder "},
        {"shell32's failing: Windows'", {true, true, true, E_FAIL}, Windows(), "shell32 "},
        {"no shfolder: Windows'", {false, false, true, S_OK}, Windows(), "shell32 shfolder "},
        {"no Windows folder: the current one", {false, false, false, S_OK}, Current(), "shell32 shfolder "},
        {"228 characters", shell, fits, "shell32 ", fits},
        {"228 with a backslash", shell, fits, "shell32 ", fits + "\\"},  // 229 with the backslash: fits only if not doubled
        {"229 characters", shell, tooLong, "shell32 ", tooLong, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        folders = row.folders;
        asked.clear();
        RemoveSettings(row.root);
        {
            std::optional<AppDataFolder> elsewhere;
            if (!row.appData.empty()) elsewhere.emplace(row.appData);
            EXPECT_EQ(host.Text(tKillProc, {"0"}), "212: Terminate Process Failed");
            EXPECT_EQ(host.LastError(), 6u);
        }
        EXPECT_EQ(asked, row.asked) << row.root;
        EXPECT_EQ(IniLine(row.root), row.written ? "6 (tKillProc)" : "") << row.root.size();
        EXPECT_EQ(GetFileAttributesA((row.root + "\\Dravolin").c_str()) != INVALID_FILE_ATTRIBUTES, row.written) << row.root.size();
        RemoveSettings(row.root);
    }
    for (const std::string& folder : {fits, tooLong, std::string(kShfolderRoot)}) RemoveDirectoryA(folder.c_str());
    host.Terminate();
}
