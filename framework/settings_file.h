// The host's per-user settings file, where some failures leave a "LastError"
// line: its place and names, shared by the extender, vekrun's doctor and the
// tests, which read the line back.
#pragma once

#include <windows.h>

namespace vek {

// Below the application-data folder (the Windows directory when there is none).
constexpr char kSettingsFolders[] = "Dravolin\\Settings";
constexpr char kSettingsFileName[] = "\\QUENDRAL.INI";  // after the folders
constexpr char kSettingsSection[] = "KAVRENT1";
constexpr char kLastErrorKey[] = "LastError";

// The folders' path (created when missing), ending in "Settings", in a
// buffer of `size` characters; 0, and nothing created, when the file's full
// path would not fit.
int GetSettingsFolder(char* buffer, int size);
// The file's full path, its folders created; 0 where GetSettingsFolder fails.
int SettingsFilePath(char* buffer, int size);

}  // namespace vek
