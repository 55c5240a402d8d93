// Registers the process performance provider (vekperf.dll beside this
// program) in the current Wine prefix; --remove takes it out again.
//
// Wine's English counter-name list (Perflib\009, value "Counter") cannot be
// extended: the wineserver marks that key as predefined and kernelbase
// answers every read of it with a fixed list of four strings, whatever is
// stored there or linked in its place. The provider's object therefore
// carries the index Windows gives "Process" (230), and readers that look
// the name up in that list do not find it under Wine.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

const char kServiceKey[] = "System\\CurrentControlSet\\Services\\VekProcPerf";
const char kPerformanceKey[] = "System\\CurrentControlSet\\Services\\VekProcPerf\\Performance";

bool SetText(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool Register() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    std::string library(self, length);
    library = library.substr(0, library.find_last_of('\\') + 1) + "vekperf.dll";
    if (GetFileAttributesA(library.c_str()) == INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "vekperf_install: %s not found\n", library.c_str());
        return false;
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPerformanceKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = SetText(key, "Library", library) && SetText(key, "Open", "OpenPerfData") &&
              SetText(key, "Collect", "CollectPerfData") &&
              SetText(key, "Close", "ClosePerfData") && SetText(key, "Object List", "230");
    RegCloseKey(key);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--remove") == 0) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPerformanceKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServiceKey);
        return 0;
    }
    if (!Register()) {
        fprintf(stderr, "vekperf_install: registration failed\n");
        return 1;
    }
    printf("vekperf: process performance provider registered\n");
    return 0;
}
