// Which Windows family runs us, and the optional system libraries that serve
// the keyword functions, resolved by name so that none is a load-time import.
#include "call_lock.h"
#include "entry_points.h"
#include "messages.h"
#include "platform.h"
#include "system_library.h"

namespace vek {

namespace {

PlatformInfo platformInfo;
HINSTANCE moduleInstance;
ApiTable apiTable;

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return entry != nullptr;
}

template <typename Fn>
void ForgetInsideImage(HMODULE module, Fn& entry) {
    if (InsideImage(module, reinterpret_cast<const void*>(entry))) entry = nullptr;
}

// One library's entry points, from its list: whether every needed one is there.
#define VEK_RESOLVE(name, need) all &= Resolve(m, #name, apiTable.name) || need != kNeeded;
#define VEK_RESOLVER(function, list)  \
    bool function(HMODULE m) {        \
        bool all = true;              \
        list(VEK_RESOLVE) return all; \
    }
VEK_RESOLVER(ResolveToolhelp, VEK_TOOLHELP_ENTRY_POINTS)
VEK_RESOLVER(ResolvePsapi, VEK_PSAPI_ENTRY_POINTS)
VEK_RESOLVER(ResolvePdh, VEK_PDH_ENTRY_POINTS)
#undef VEK_RESOLVER
#undef VEK_RESOLVE

// A system library from the system folder with its entry points; null where
// it cannot be loaded. One that lacks a needed entry point sets missingApi.
HMODULE LoadWithEntryPoints(const char* name, bool (*resolveAll)(HMODULE)) {
    const HMODULE module = LoadSystemLibrary(name);
    if (module != nullptr && !resolveAll(module)) platformInfo.missingApi = 1;
    return module;
}

// Wine's stubs are present, so no reason for missingApi; absent for their
// own keywords alone, which then give 211 where a call would end the host.
void ForgetWineStubs(HMODULE m) {
    if (!IsWineBuiltin(m)) return;
#define VEK_FORGET_STUB(name) ForgetInsideImage(m, apiTable.name);
    VEK_PDH_WINE_STUBS(VEK_FORGET_STUB)
#undef VEK_FORGET_STUB
}

}  // namespace

const PlatformInfo& Platform() { return platformInfo; }
const ApiTable& Api() { return apiTable; }
HINSTANCE ModuleInstance() { return moduleInstance; }

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
    if (platformInfo.isWin9x)
        apiTable.toolhelpModule = LoadWithEntryPoints("Kernel32.DLL", ResolveToolhelp);
    if (!platformInfo.isNT) return;
    if (platformInfo.isNT3) {
        platformInfo.unsupportedPlatform = 1;
        return;
    }
    apiTable.psapiModule = LoadWithEntryPoints("PSAPI.DLL", ResolvePsapi);
    apiTable.pdhModule = LoadWithEntryPoints("PDH.DLL", ResolvePdh);
    if (apiTable.pdhModule) ForgetWineStubs(apiTable.pdhModule);
    // Served by kernelbase, which every NT system this build loads on has
    // loaded already: nothing to load or release.
    HMODULE kernelbase = GetModuleHandleA("kernelbase.dll");
    if (kernelbase) Resolve(kernelbase, "CompareObjectHandles", apiTable.CompareObjectHandles);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll) Resolve(ntdll, "NtQueryObject", apiTable.NtQueryObject);
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

// Runs after the C runtime's own start-up for the attach notifications. The
// lock is left alone when the process is ending: a thread killed on the way
// out may have held it.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) vek::DeleteCallLock();
    if (!vek::PlatformProbe(instance, reason)) return FALSE;
    if (reason == DLL_PROCESS_ATTACH) vek::CreateCallLock();
    return TRUE;
}
