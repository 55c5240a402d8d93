// Failure messages from our own string table, and the "LastError" line that
// some failures leave in the host's per-user settings file.
#include "messages.h"
#include "platform.h"
#include "settings_file.h"

namespace vek {

void LoadMessage(int id, char* buffer, int capacity) {
    // LoadStringA leaves the buffer alone when the id has no text (901).
    buffer[0] = '\0';
    LoadStringA(ModuleInstance(), static_cast<UINT>(id), buffer, capacity);
}

Outcome OpenProcessFailure(int otherMessage) {
    const DWORD code = GetLastError();
    return FailWithCode(code == ERROR_ACCESS_DENIED ? kMsgAccessDenied : otherMessage, code);
}

namespace {

constexpr int kSettingsPathCapacity = MAX_PATH;

BOOL WriteSettingsValue(const char* section, const char* key, const char* value) {
    char path[kSettingsPathCapacity];
    if (!SettingsFilePath(path, kSettingsPathCapacity)) return 0;
    return WritePrivateProfileStringA(section, key, value, path);
}

}  // namespace

void LogLastError(int32_t code, const char* context) {
    // "%d (%s)" with a context of our own fits with room to spare;
    // wsprintfA stops at 1024 characters in any case.
    char line[kErrorTextCapacity];
    wsprintfA(line, "%d (%s)", code, context);
    WriteSettingsValue(kSettingsSection, kLastErrorKey, line);
}

}  // namespace vek
