// vekbench: each keyword, called through the host protocol, against the
// direct system path it wraps, measured side by side in one run (A B A B
// ...), after a warm-up, as medians of many repetitions.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <psapi.h>
#include <tlhelp32.h>

#include "../process/process_shared.h"
#include "keyword_call.h"
#include "platform.h"
#include "host.h"
#include "rig.h"
#include "process_snapshot.h"
#include "process_table.h"

using namespace test;

namespace {

// The performance counter, as steady_clock reads it under MinGW.
double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Seconds per call of a and of b, each sample a batch of `batch` calls.
std::pair<double, double> SideBySide(const std::function<void()>& a, const std::function<void()>& b,
                                     int repetitions, int batch) {
    for (int i = 0; i < std::max(1, repetitions / 10); ++i) {
        a();
        b();
    }
    std::vector<double> ta, tb;
    for (int r = 0; r < repetitions; ++r) {
        double start = Now();
        for (int i = 0; i < batch; ++i) a();
        ta.push_back((Now() - start) / batch);
        start = Now();
        for (int i = 0; i < batch; ++i) b();
        tb.push_back((Now() - start) / batch);
    }
    return {Median(ta), Median(tb)};
}

std::string Human(double seconds) {
    char text[32];
    if (seconds < 1e-6) snprintf(text, sizeof text, "%.0f ns", seconds * 1e9);
    else if (seconds < 1e-3) snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
    else snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
    return text;
}

void Row(const char* keyword, const char* direct, std::pair<double, double> t, const char* target,
         const char* note = "") {
    printf("| %-14s | %-41s | %10s | %10s | %6.2f | %-9s | %s\n", keyword, direct,
           Human(t.first).c_str(), Human(t.second).c_str(), t.first / t.second, target, note);
}

// Windows' English counter names, served in place of Wine's fixed list so
// that tListProc runs its NT path end to end.
decltype(&RegQueryValueExA) realQuery;
LSTATUS WINAPI ServeNames(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD size) {
    LSTATUS served;
    if (key != HKEY_PERFORMANCE_DATA &&
        rig::ServeCounterNames(rig::kWindowsCounterNames, name, type, data, size, &served)) {
        return served;
    }
    return realQuery(key, name, reserved, type, data, size);
}

// The Toolhelp walk as a program that Wine shows Windows 98 has it: this
// program again, under another name.
void ToolhelpRow(Host& host) {
    auto walk = SideBySide([&] { host.Call(tListProc); },
                           [&] {
                               HANDLE s = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
                               PROCESSENTRY32 e;
                               e.dwSize = sizeof e;
                               char path[MAX_PATH];
                               char* file;
                               for (BOOL more = Process32First(s, &e); more;
                                    more = Process32Next(s, &e)) {
                                   GetFullPathNameA(e.szExeFile, MAX_PATH, path, &file);
                                   e.dwSize = sizeof e;
                               }
                               CloseHandle(s);
                           },
                           60, 5);
    Row("tListProc 98", "Toolhelp walk with the file names", walk, "1.1x", "as Windows 98, end to end");
}

int32_t Bare(int32_t status, uint32_t, vek::HostContext*, vek::ResultSlot* result) {
    result->value = status;
    return status;
}

// A --procs round without path and command line against the snapshot it
// takes, at the processes there are and with about 200 (the bench's own
// sleepers); then vekrun --wait on 100 processes, whose processor time
// while they run is read from the system's snapshot (Wine's own per-process
// times are the caller's).
void ProcessJobRows() {
    // Every process's row written, to NUL.
    fflush(stdout);
    const int shown = _dup(1), nul = _open("NUL", _O_WRONLY);
    vekrun::Options options;
    vekrun::ProcessRounds rounds(options);
    vekrun::ProcessSnapshots snapshots;
    std::vector<vekrun::ProcessRecord> records;
    auto measure = [&](const char* label) {
        bool matched;
        snapshots.Take(records);
        _dup2(nul, 1);
        const auto round = SideBySide([&] { rounds.Next(false, matched); }, [&] { snapshots.Take(records); }, 40, 5);
        _dup2(shown, 1);
        char note[64];
        snprintf(note, sizeof note, "%zu processes", records.size());
        Row(label, "NtQuerySystemInformation alone", round, "1.3x", note);
        return round;
    };
    const auto few = measure("--procs round");
    std::vector<std::unique_ptr<Sleeper>> sleepers;
    for (int i = 0; i < 180; ++i) sleepers.emplace_back(new Sleeper());
    const auto many = measure("--procs round");
    printf("\n--procs: a round grows %.2fx from the fewer processes to the more, the snapshot %.2fx (target: no faster)\n",
           many.first / few.first, many.second / few.second);
    sleepers.clear();

    // --wait on 100 processes: its processor time between 1 s and 3 s after it starts, then they end.
    for (int i = 0; i < 100; ++i) sleepers.emplace_back(new Sleeper());
    std::string line = "\"" + Directory() + "vekrun.exe\" --wait";
    for (const auto& sleeper : sleepers) line += " " + std::to_string(sleeper->Id());
    STARTUPINFOA startup = {sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    startup.hStdOutput = startup.hStdError = CreateFileA("NUL", GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    PROCESS_INFORMATION waiting = {};
    CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &waiting);
    auto spent = [&] {
        snapshots.Take(records);
        for (const auto& record : records) {
            if (record.processId == waiting.dwProcessId) return (record.userTime + record.kernelTime) / 1e7;
        }
        return -1.0;
    };
    Sleep(1000);
    const double before = spent();
    Sleep(2000);
    const double after = spent();
    sleepers.clear();
    WaitForSingleObject(waiting.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(waiting.hProcess, &code);
    printf("--wait on 100 processes: %.1f ms of processor time over 2 s of waiting (target: 0; read: %s), exit %lu "
           "(target 0)\n", (after - before) * 1e3, before >= 0 && after >= 0 ? "yes" : "NO", code);
    CloseHandle(waiting.hProcess), CloseHandle(waiting.hThread), CloseHandle(startup.hStdOutput);
}

// A round of 100 calls (tGetProcInfo of the bench: 900 columns) to --output with --rotate against
// the same round to stdout (NUL): each the time of 21 rounds less that of one, over 20. (A counter
// read takes 300 ms by design, which would only make the difference smaller.)
void CaptureRow() {
    const std::string folder = Directory() + "bench_capture\\", script = folder + "calls.vek";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string calls;
    for (int i = 0; i < 100; ++i) calls += "tGetProcInfo " + std::to_string(GetCurrentProcessId()) + "\n";
    Save(script, calls);
    auto run = [&](int samples, bool capture) {
        std::string line = "\"" + Directory() + "vekrun.exe\" --every 0.01 --samples " + std::to_string(samples) +
                           " --csv --script \"" + script + "\"";
        if (capture) line += " --rotate 1M --output \"" + folder + "round.csv\"";
        std::string out;  // stdout through a pipe, as a program reading vekrun has it
        const double start = Now();
        Run(line, &out);
        const double taken = Now() - start;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "round-*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
            DeleteFileA((folder + found.cFileName).c_str());
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        return taken;
    };
    std::vector<double> toFile, toStdout;
    for (int i = 0; i < 3; ++i) {
        toFile.push_back((run(21, true) - run(1, true)) / 20);
        toStdout.push_back((run(21, false) - run(1, false)) / 20);
    }
    Row("--output round", "the same round to stdout", {Median(toFile), Median(toStdout)}, "1.1x",
        "100 calls, --rotate 1M");
    DeleteFileA(script.c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Host host(std::string(), false);
    if (!host.Loaded() || host.Initialise() <= 0) {
        fprintf(stderr, "vekbench: cannot load and initialise vekproc.dll\n");
        return 1;
    }
    if (argc > 1 && strcmp(argv[1], "--toolhelp") == 0) {
        ToolhelpRow(host);
        return 0;
    }
    HMODULE psapi = LoadLibraryA("psapi.dll");
    auto enumProcesses = reinterpret_cast<vek::EnumProcessesFn>(
        reinterpret_cast<void*>(GetProcAddress(psapi, "EnumProcesses")));
    auto memoryInfo = reinterpret_cast<vek::GetProcessMemoryInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(psapi, "GetProcessMemoryInfo")));
    auto enumModules = reinterpret_cast<vek::EnumProcessModulesExFn>(
        reinterpret_cast<void*>(GetProcAddress(psapi, "EnumProcessModulesEx")));
    auto moduleName = reinterpret_cast<vek::GetModuleFileNameExAFn>(
        reinterpret_cast<void*>(GetProcAddress(psapi, "GetModuleFileNameExA")));

    Sleeper child;
    const std::string childId = std::to_string(child.Id());
    const DWORD childPid = child.Id();

    printf("| keyword        | direct path                               |    keyword |     direct |  ratio | target    |\n");
    printf("|----------------|-------------------------------------------|------------|------------|--------|-----------|\n");

    // The dispatch's own cost: a keyword call that does nothing, against a
    // bare call through a function pointer.
    volatile vek::HostCallback bare = Bare;
    vek::ResultSlot slot = {};
    auto version = SideBySide([&] { host.Call(tVersion); },
                              [&] { bare(0, 0, nullptr, &slot); }, 200, 2000);
    Row("tVersion", "call through a function pointer", version, "+1 us",
        ("dispatch adds " + Human(version.first - version.second)).c_str());

    auto count = SideBySide([&] { host.Call(tCountProc); },
                            [&] {
                                DWORD ids[1024], bytes;
                                enumProcesses(ids, sizeof ids, &bytes);
                            },
                            60, 5);
    Row("tCountProc", "EnumProcesses", count, "1.2x");

    auto info = SideBySide([&] { host.Call(tGetProcInfo, {childId}); },
                           [&] {
                               HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                                      FALSE, childPid);
                               PROCESS_MEMORY_COUNTERS c = {};
                               memoryInfo(p, &c, sizeof c);
                               CloseHandle(p);
                           },
                           100, 10);
    Row("tGetProcInfo", "OpenProcess + memory info + CloseHandle", info, "1.2x");

    auto modules = SideBySide([&] { host.Call(tListMod, {childId, "1"}); },
                              [&] {
                                  HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                                         FALSE, childPid);
                                  HMODULE m[1024];
                                  DWORD needed = 0;
                                  enumModules(p, m, sizeof m, &needed, LIST_MODULES_ALL);
                                  char path[MAX_PATH];
                                  for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 1024; ++i) {
                                      moduleName(p, m[i], path, MAX_PATH);
                                  }
                                  CloseHandle(p);
                              },
                              30, 1);
    Row("tListMod", "EnumProcessModulesEx + module paths", modules, "1.2x");

    auto readAndWalk = [&] {
        BYTE* data = nullptr;
        DWORD size = 0;
        if (!vek::ReadPerformanceObject("230", &data, &size, nullptr)) {
            static char text[vek::kResultTextCapacity];
            vek::TextBuffer out = {text, sizeof text, 0};
            out.Clear();
            vek::ProcessListFromPerfData(data, size, 230, 784, out);
            HeapFree(GetProcessHeap(), 0, data);
        }
        RegCloseKey(HKEY_PERFORMANCE_DATA);
    };

    auto data = SideBySide([&] { host.Call(tGetData, {"\\System\\System Up Time", "0"}); },
                           [&] { Sleep(300); }, 5, 1);
    Row("tGetData", "Sleep(300), its floor", data, "310 ms");

    // Five thousand processes from the provider: registry reads of one
    // read-and-walk, and its time per process.
    SetEnvironmentVariableA("VEKPERF_SCENARIO", "many:5000");
    BYTE* big = nullptr;
    DWORD bigSize = 0;
    int reads = 0;
    vek::ReadPerformanceObject("230", &big, &bigSize, &reads);
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    if (big) HeapFree(GetProcessHeap(), 0, big);
    std::vector<double> samples;
    for (int i = 0; i < 9; ++i) {
        double start = Now();
        readAndWalk();
        samples.push_back(Now() - start);
    }
    SetEnvironmentVariableA("VEKPERF_SCENARIO", nullptr);
    printf("\n5000 processes: %lu bytes of data, %d registry reads (size probe included; "
           "target at most 1 + log2(size / 12000) = %.1f), %s per process\n",
           bigSize, reads, 1 + log2(bigSize / 12000.0), Human(Median(samples) / 5000).c_str());

    // The NT path end to end through the DLL at 5000 processes, against
    // reading the same object as any caller must, from the same first size
    // with growth, and walking it.
    {
        rig::Patch names(host.Module(), "ADVAPI32.dll", "RegQueryValueExA", ServeNames, &realQuery);
        SetEnvironmentVariableA("VEKPERF_SCENARIO", "many:5000");
        auto endToEnd = SideBySide([&] { host.Call(tListProc); },
                                   [&] {
                                       static std::vector<BYTE> data;
                                       DWORD capacity = 12000, size;
                                       for (;;) {
                                           data.resize(capacity);
                                           size = capacity;
                                           if (RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr,
                                                                data.data(), &size) != ERROR_MORE_DATA) break;
                                           capacity *= 4;
                                       }
                                       RegCloseKey(HKEY_PERFORMANCE_DATA);
                                       static char text[vek::kResultTextCapacity];
                                       vek::TextBuffer out = {text, sizeof text, 0};
                                       out.Clear();
                                       vek::ProcessListFromPerfData(data.data(), size, 230, 784, out);
                                   },
                                   20, 1);
        SetEnvironmentVariableA("VEKPERF_SCENARIO", nullptr);
        Row("tListProc NT", "grown read + walk, 5000 processes", endToEnd, "1.1x",
            "end to end, counter names served");
    }

    ProcessJobRows();
    CaptureRow();

    // The same DLL in a program Wine shows Windows 98.
    {
        const std::string copy = Directory() + "vekbench_toolhelp.exe";
        CopyFileA((Directory() + "vekbench.exe").c_str(), copy.c_str(), FALSE);
        std::string out;
        {
            WineVersion pose("vekbench_toolhelp.exe", "win98");
            Run("\"" + copy + "\" --toolhelp", &out);
        }
        DeleteFileA(copy.c_str());
        fputs(out.c_str(), stdout);
    }

    host.Terminate();
    FreeLibrary(psapi);
    return 0;
}
