// The host's per-user settings file, where some failures leave a "LastError"
// line: its place and names, shared by the extender, vekrun's doctor and the
// tests, which read the line back.
#pragma once

namespace vek {

// Below the application-data folder (the Windows directory when there is none).
constexpr char kSettingsFolders[] = "Dravolin\\Settings";
constexpr char kSettingsFileName[] = "\\QUENDRAL.INI";  // after the folders
constexpr char kSettingsSection[] = "KAVRENT1";
constexpr char kLastErrorKey[] = "LastError";

}  // namespace vek
