// Loads the extender in a process of its own, so that Wine's per-program
// Windows version applies to it, and reports what the host sees:
//   platchild DLL [-without:NAME] [ID[:ARG[:ARG]]]...
// prints "load <0|1>", then after initialise "init <n>", "psapi <0|1>" and
// "pdh <0|1>" (whether those modules are loaded), then one line
// "<id> <status> <text or value>" per call, and after it "books <what>"
// when the call left something unreleased or released it wrongly (the
// test host's import-table rig keeps the books here too). Each Toolhelp
// snapshot a call takes prints "snapshot <flags> <process id>" as it is
// taken. With -without, the library NAME (one with a dot) cannot be
// loaded, or the entry point NAME is missing from its library; with -deny:ACCESS,
// OpenProcess refuses ACCESS with 5 and each open prints "open <access>";
// with -race:MS, two threads open this process and close what they were
// given, at once, for MS milliseconds, and "race <pairs> <failed closes>"
// follows initialise ("fault" and exit 3 where one faults).
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <optional>
#include <string>
#include <vector>

#include "rig.h"
#include "vek_host.h"

using namespace vek;

namespace {

int32_t lastStatus, lastType, lastValue;
std::string lastText;

int32_t Copy(int32_t status, uint32_t, HostContext*, ResultSlot* result) {
    lastStatus = status;
    lastType = result->type;
    lastValue = result->value;
    lastText = result->type == kResultString && result->text ? result->text : "";
    return 0;
}

std::string without;
decltype(&LoadLibraryExA) realLoad;
HMODULE WINAPI RefuseLibrary(LPCSTR name, HANDLE file, DWORD flags) {
    const char* base = strrchr(name, '\\');
    if (lstrcmpiA(base ? base + 1 : name, without.c_str()) != 0) return realLoad(name, file, flags);
    return SetLastError(ERROR_MOD_NOT_FOUND), nullptr;
}

// A process snapshot leaves 183 behind and its first entry 0, so that the
// saved code tells after which call it was taken.
typedef HANDLE(WINAPI* SnapshotFn)(DWORD, DWORD);
SnapshotFn realSnapshot;
HANDLE WINAPI RecordSnapshot(DWORD flags, DWORD processId) {
    printf("snapshot %lu %lu\n", flags, processId);
    const HANDLE snapshot = realSnapshot(flags, processId);
    if (flags == TH32CS_SNAPPROCESS) SetLastError(ERROR_ALREADY_EXISTS);
    return snapshot;
}
decltype(&Process32First) realFirst;
BOOL WINAPI FirstEntry(HANDLE snapshot, LPPROCESSENTRY32 entry) { const BOOL got = realFirst(snapshot, entry); return SetLastError(0), got; }

DWORD denied;
decltype(&OpenProcess) realOpen;
HANDLE WINAPI DenyOpen(DWORD access, BOOL inherit, DWORD id) {
    printf("open %lu\n", access);
    if (access != denied) return realOpen(access, inherit, id);
    return SetLastError(ERROR_ACCESS_DENIED), nullptr;
}

// Two host threads calling at once, which a host is not meant to do.
VEKExtender2Proc raceCall;
HostContext* raceContext;
ULONGLONG raceEnd;
LONG racePairs, raceFailures;
int32_t Ignore(int32_t, uint32_t, HostContext*, ResultSlot*) { return 0; }
DWORD WINAPI Racer(void*) {
    const std::string self = std::to_string(GetCurrentProcessId());
    while (GetTickCount64() < raceEnd) {
        ArgSlot slots[3] = {};
        slots[0].text = self.c_str(), slots[1].text = "2", slots[2].text = "";
        ResultSlot opened = {}, closed = {};
        raceCall(nullptr, 0, 0, 3, Ignore, raceContext, 0, slots, 0, &opened);
        const std::string given = opened.type == kResultInteger ? std::to_string(opened.value) : "x";
        slots[0].text = given.c_str();
        raceCall(nullptr, 0, 0, 12, Ignore, raceContext, 0, slots, 0, &closed);
        InterlockedIncrement(&racePairs);
        if (closed.type != kResultInteger || closed.value != 1) InterlockedIncrement(&raceFailures);
    }
    return 0;
}
// Wine would start its debugger on an unhandled fault.
LONG WINAPI Fault(EXCEPTION_POINTERS*) {
    printf("fault\n");
    fflush(stdout);
    ExitProcess(3);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 64;
    HMODULE module = LoadLibraryA(argv[1]);
    printf("load %d\n", module != nullptr);
    if (!module) return 0;
    rig::Install(module);
    int first = 2;
    std::optional<rig::Patch> library;
    std::optional<rig::Serve> entry;
    std::optional<rig::Patch> open;
    DWORD raceMs = 0;
    if (argc > 2 && strncmp(argv[2], "-race:", 6) == 0) {
        raceMs = strtoul(argv[first++] + 6, nullptr, 0);
    } else if (argc > 2 && strncmp(argv[2], "-deny:", 6) == 0) {
        denied = strtoul(argv[first++] + 6, nullptr, 0);
        open.emplace(module, "KERNEL32.dll", "OpenProcess", reinterpret_cast<void*>(DenyOpen),
                     reinterpret_cast<void**>(&realOpen));
    } else if (argc > 2 && strncmp(argv[2], "-without:", 9) == 0) {
        without = argv[first++] + 9;
        if (without.find('.') != std::string::npos) {
            library.emplace(module, "KERNEL32.dll", "LoadLibraryExA", RefuseLibrary, &realLoad);
        } else {
            entry.emplace(without.c_str(), nullptr);
        }
    }
    rig::Serve snapshots("CreateToolhelp32Snapshot", reinterpret_cast<void*>(RecordSnapshot),
                         reinterpret_cast<void**>(&realSnapshot));
    rig::Serve firsts("Process32First", reinterpret_cast<void*>(FirstEntry), reinterpret_cast<void**>(&realFirst));
    auto call = reinterpret_cast<VEKExtender2Proc>(
        reinterpret_cast<void*>(GetProcAddress(module, "VEKExtender2")));
    HostContext context = {};
    context.hostVersion = kMinimumHostVersion;
    char refusal[64];
    printf("init %d\n", call(nullptr, 0, 0, kCallInitialise, Copy, &context, 0, refusal, 0, nullptr));
    printf("psapi %d\n", GetModuleHandleA("psapi.dll") != nullptr);
    printf("pdh %d\n", GetModuleHandleA("pdh.dll") != nullptr);
    if (raceMs) {
        SetUnhandledExceptionFilter(Fault);
        raceCall = call, raceContext = &context, raceEnd = GetTickCount64() + raceMs;
        HANDLE racers[] = {CreateThread(nullptr, 0, Racer, nullptr, 0, nullptr), CreateThread(nullptr, 0, Racer, nullptr, 0, nullptr)};
        WaitForMultipleObjects(2, racers, TRUE, INFINITE);
        printf("race %ld %ld\n", racePairs, raceFailures);
        CloseHandle(racers[0]), CloseHandle(racers[1]);
    }
    for (int i = first; i < argc; ++i) {
        std::vector<std::string> parts;
        std::string request = argv[i];
        size_t start = 0;
        for (;;) {
            size_t colon = request.find(':', start);
            parts.push_back(request.substr(start, colon == std::string::npos ? colon : colon - start));
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
        std::vector<ArgSlot> slots(3);
        memset(slots.data(), 0, sizeof(ArgSlot) * 3);
        for (size_t a = 1; a < parts.size() && a <= 3; ++a) slots[a - 1].text = parts[a].c_str();
        for (size_t a = parts.size(); a <= 3; ++a) slots[a - 1].text = "";
        ResultSlot result = {};
        rig::OpenBooks();
        const int id = atoi(parts[0].c_str());
        call(nullptr, 0, 0, id, Copy, &context, 0, slots.data(), 0, &result);
        const std::string books = rig::CloseBooks(
            id == 3 && lastStatus == 0 ? reinterpret_cast<HANDLE>(static_cast<intptr_t>(lastValue)) : nullptr);
        if (lastType == kResultInteger) {
            printf("%s %d %d\n", parts[0].c_str(), lastStatus, lastValue);
        } else {
            printf("%s %d %s\n", parts[0].c_str(), lastStatus, lastText.c_str());
        }
        if (!books.empty()) printf("books %s\n", books.c_str());
    }
    call(nullptr, 0, 0, kCallTerminate, Copy, &context, 0, nullptr, 0, nullptr);
    printf("after %d %d\n", GetModuleHandleA("psapi.dll") != nullptr,
           GetModuleHandleA("pdh.dll") != nullptr);
    FreeLibrary(module);
    return 0;
}
