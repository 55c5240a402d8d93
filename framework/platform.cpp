// Which Windows family runs us, and the optional system libraries that serve
// the keyword functions, resolved by name so that none is a load-time import.
#include "messages.h"
#include "platform.h"
#include "system_library.h"

namespace vek {

PlatformInfo platformInfo;
HINSTANCE moduleInstance;
ApiTable apiTable;

namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return entry != nullptr;
}

template <typename Fn>
void ForgetInsideImage(HMODULE module, Fn& entry) {
    if (InsideImage(module, reinterpret_cast<const void*>(entry))) entry = nullptr;
}

void LoadToolhelp() {
    apiTable.toolhelpModule = LoadSystemLibrary("Kernel32.DLL");
    if (apiTable.toolhelpModule == nullptr) return;
    HMODULE m = apiTable.toolhelpModule;
    bool all = true;
    all &= Resolve(m, "CreateToolhelp32Snapshot", apiTable.CreateToolhelp32Snapshot);
    all &= Resolve(m, "Process32First", apiTable.Process32First);
    all &= Resolve(m, "Process32Next", apiTable.Process32Next);
    all &= Resolve(m, "Module32First", apiTable.Module32First);
    all &= Resolve(m, "Module32Next", apiTable.Module32Next);
    if (!all) platformInfo.missingApi = 1;
}

void LoadPsapi() {
    apiTable.psapiModule = LoadSystemLibrary("PSAPI.DLL");
    if (apiTable.psapiModule == nullptr) return;
    HMODULE m = apiTable.psapiModule;
    bool all = true;
    all &= Resolve(m, "EnumProcesses", apiTable.EnumProcesses);
    all &= Resolve(m, "EnumProcessModules", apiTable.EnumProcessModules);
    all &= Resolve(m, "GetModuleFileNameExA", apiTable.GetModuleFileNameExA);
    all &= Resolve(m, "GetModuleBaseNameA", apiTable.GetModuleBaseNameA);
    all &= Resolve(m, "GetModuleInformation", apiTable.GetModuleInformation);
    all &= Resolve(m, "GetProcessMemoryInfo", apiTable.GetProcessMemoryInfo);
    if (!all) platformInfo.missingApi = 1;
    // Absent before Vista, where the plain form lists every module there is.
    Resolve(m, "EnumProcessModulesEx", apiTable.EnumProcessModulesEx);
}

void LoadPdh() {
    apiTable.pdhModule = LoadSystemLibrary("PDH.DLL");
    if (apiTable.pdhModule == nullptr) return;
    HMODULE m = apiTable.pdhModule;
    Resolve(m, "PdhOpenQuery", apiTable.PdhOpenQuery);
    Resolve(m, "PdhAddCounterA", apiTable.PdhAddCounterA);
    Resolve(m, "PdhCollectQueryData", apiTable.PdhCollectQueryData);
    Resolve(m, "PdhGetFormattedCounterValue", apiTable.PdhGetFormattedCounterValue);
    Resolve(m, "PdhCloseQuery", apiTable.PdhCloseQuery);
    Resolve(m, "PdhRemoveCounter", apiTable.PdhRemoveCounter);
    Resolve(m, "PdhBrowseCountersA", apiTable.PdhBrowseCountersA);
    Resolve(m, "PdhGetCounterInfoA", apiTable.PdhGetCounterInfoA);
    Resolve(m, "PdhConnectMachineA", apiTable.PdhConnectMachineA);
    Resolve(m, "PdhEnumObjectItemsA", apiTable.PdhEnumObjectItemsA);
    Resolve(m, "PdhParseCounterPathA", apiTable.PdhParseCounterPathA);
    Resolve(m, "PdhAddEnglishCounterA", apiTable.PdhAddEnglishCounterA);
    // PdhGetCounterInfoA and PdhParseCounterPathA stay outside this test;
    // their callers check them themselves. PdhAddEnglishCounterA is only
    // a second try, and absent before Vista.
    if (!apiTable.PdhOpenQuery || !apiTable.PdhAddCounterA || !apiTable.PdhRemoveCounter ||
        !apiTable.PdhBrowseCountersA || !apiTable.PdhCollectQueryData ||
        !apiTable.PdhGetFormattedCounterValue || !apiTable.PdhConnectMachineA ||
        !apiTable.PdhEnumObjectItemsA || !apiTable.PdhCloseQuery) {
        platformInfo.missingApi = 1;
    }
    // Present, so no reason for missingApi; absent for their own keywords
    // alone, which then give 211 where a call would end the host.
    if (IsWineBuiltin(m)) {
        ForgetInsideImage(m, apiTable.PdhParseCounterPathA);
        ForgetInsideImage(m, apiTable.PdhConnectMachineA);
        ForgetInsideImage(m, apiTable.PdhBrowseCountersA);
    }
}

}  // namespace

BOOL PlatformProbe(HINSTANCE instance, DWORD reason) {
    if (reason == DLL_PROCESS_DETACH || reason == DLL_THREAD_DETACH) return TRUE;
    moduleInstance = instance;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop

    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) platformInfo.isWin9x = 1;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) platformInfo.isNT = 1;
    if (platformInfo.isNT && version.dwMajorVersion <= 3) platformInfo.isNT3 = 1;
    if (version.dwMajorVersion >= 4) platformInfo.isVersion4Plus = 1;
    if (platformInfo.isNT) {
        if (version.dwMajorVersion >= 5) platformInfo.isVersion5Plus = 1;
        if (version.dwMajorVersion >= 6) platformInfo.isVersion6Plus = 1;
        return TRUE;
    }
    return platformInfo.isWin9x ? TRUE : FALSE;
}

// Releases what an earlier initialise loaded, once, and forgets every entry
// point with it, so that nothing can call into a module that has gone.
void ApiRelease() {
    if (apiTable.psapiModule) FreeLibrary(apiTable.psapiModule);
    if (apiTable.toolhelpModule) FreeLibrary(apiTable.toolhelpModule);
    if (apiTable.pdhModule) FreeLibrary(apiTable.pdhModule);
    apiTable = ApiTable{};
}

void ApiLoader() {
    ApiRelease();
    if (platformInfo.isWin9x) LoadToolhelp();
    if (!platformInfo.isNT) return;
    if (platformInfo.isNT3) {
        platformInfo.unsupportedPlatform = 1;
        return;
    }
    LoadPsapi();
    LoadPdh();
    // Served by kernelbase, which every NT system this build loads on has
    // loaded already: nothing to load or release.
    HMODULE kernelbase = GetModuleHandleA("kernelbase.dll");
    if (kernelbase) Resolve(kernelbase, "CompareObjectHandles", apiTable.CompareObjectHandles);
}

int CheckListProc() {
    if (platformInfo.unsupportedPlatform) return kMsgWrongPlatform;
    if (platformInfo.isWin9x && !apiTable.toolhelpModule) return kMsgNoKernel32;
    if (platformInfo.missingApi) return kMsgOldPsapi;
    return 0;
}

int CheckProcessApi() {
    if (platformInfo.unsupportedPlatform) return kMsgWrongPlatform;
    if (OnNtPath() && !apiTable.psapiModule) return kMsgNoPsapi;
    if (platformInfo.isWin9x && !apiTable.toolhelpModule) return kMsgNoKernel32;
    if (platformInfo.missingApi) return kMsgOldPsapi;
    return 0;
}

int CheckModInfo() {
    if (platformInfo.unsupportedPlatform) return kMsgWrongPlatform;
    if (OnNtPath() && !apiTable.psapiModule) return kMsgNoPsapi;
    if (platformInfo.isWin9x && !apiTable.toolhelpModule) return kMsgWrongPlatform;
    if (platformInfo.missingApi) return kMsgOldPsapi;
    return 0;
}

int CheckProcInfo() {
    if (platformInfo.unsupportedPlatform) return kMsgWrongPlatform;
    if (OnNtPath() && !apiTable.psapiModule) return kMsgNoPsapi;
    if (platformInfo.missingApi) return kMsgOldPsapi;
    return 0;
}

int CheckPlatformOnly() { return platformInfo.unsupportedPlatform ? kMsgWrongPlatform : 0; }

int CheckPdh() {
    if (platformInfo.unsupportedPlatform) return kMsgWrongPlatform;
    if (OnNtPath() && !apiTable.pdhModule) return kMsgNoPdh;
    if (platformInfo.isWin9x && !apiTable.pdhModule) return kMsgWrongPlatform;
    if (platformInfo.missingApi) return kMsgOldPdh;
    return 0;
}

}  // namespace vek

// Runs after the C runtime's own start-up for the attach notifications.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return vek::PlatformProbe(instance, reason);
}
