// Process listing, handles, priority and module information, on real
// processes: this test program and sleeper children of its own.
#include <gtest/gtest.h>

#include <set>

#include "host.h"

#include <psapi.h>

using namespace test;

namespace {

class Processes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.Loaded()) << host.LoadError();
        ASSERT_EQ(host.Initialise(), 19);
        host.LastError();
        psapi = LoadLibraryA("psapi.dll");
    }
    void TearDown() override {
        host.Terminate();
        if (psapi) FreeLibrary(psapi);
    }
    template <typename Fn>
    Fn Psapi(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(psapi, name)));
    }
    std::string Self() const { return std::to_string(GetCurrentProcessId()); }

    Host host;
    HMODULE psapi = nullptr;
};

}  // namespace

// Wine's fixed English counter-name list has no "Process": the NT path ends
// before any performance data is read.
TEST_F(Processes, ListProcWithoutTheProcessCounterNameGives213) {
    Outcome o = host.Call(kListProc);
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.text, "213: Cannot retrieve counter index.");
    EXPECT_EQ(host.LastError(), 0u);
}

TEST_F(Processes, CountProcEqualsWhatEnumProcessesGives) {
    typedef BOOL(WINAPI * EnumProcessesFn)(DWORD*, DWORD, DWORD*);
    auto enumProcesses = Psapi<EnumProcessesFn>("EnumProcesses");
    ASSERT_NE(enumProcesses, nullptr);
    // Wine starts some of its own services on demand: compare only while the
    // count holds still around the call.
    for (int attempt = 0; attempt < 10; ++attempt) {
        DWORD ids[1024], before = 0, after = 0;
        ASSERT_TRUE(enumProcesses(ids, sizeof ids, &before));
        Outcome o = host.Call(kCountProc);
        ASSERT_TRUE(enumProcesses(ids, sizeof ids, &after));
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.type, 1);
        if (before != after) continue;
        EXPECT_EQ(o.value, static_cast<int32_t>(before / 4));
        return;
    }
    FAIL() << "the number of processes never held still";
}

TEST_F(Processes, OpenInEveryModeAndKillThroughTerminateRights) {
    for (const char* mode : {"0", "1", "2", "3", "4", "-1", "abc"}) {
        Sleeper child;
        Outcome open = host.Call(kOpenProc, {std::to_string(child.Id()), mode});
        ASSERT_EQ(open.status, 0) << mode << ": " << open.text;
        ASSERT_EQ(open.type, 1);
        ASSERT_NE(open.value, 0);
        const std::string handle = std::to_string(open.value);
        const bool canTerminate = std::string(mode) == "1" || std::string(mode) == "3";

        ClearLastErrorLine();
        Outcome kill = host.Call(kKillProc, {handle});
        if (canTerminate) {
            EXPECT_EQ(kill.status, 0) << mode;
            EXPECT_EQ(kill.value, 1);
            EXPECT_EQ(child.ExitCode(), 1u) << mode;
        } else {
            EXPECT_EQ(kill.text, "212: Terminate Process Failed") << mode;
            EXPECT_EQ(host.LastError(), 5u);
            EXPECT_EQ(LastErrorLine(), "5 (tKillProc)");
            EXPECT_TRUE(child.Running()) << mode;
        }
        EXPECT_EQ(host.Call(kCloseProc, {handle}).value, 1) << mode;
    }
}

TEST_F(Processes, KillNeverEndsTheHostThroughAPseudoHandle) {
    for (const char* pseudo : {"-1", "-2", " -1", "18446744073709551615"}) {
        ClearLastErrorLine();
        Outcome kill = host.Call(kKillProc, {pseudo});
        EXPECT_EQ(kill.text, "212: Terminate Process Failed") << pseudo;
        EXPECT_EQ(host.LastError(), 6u) << pseudo;
        EXPECT_EQ(LastErrorLine(), "6 (tKillProc)") << pseudo;
    }
    EXPECT_EQ(host.Call(kKillProc, {"0"}).text, "212: Terminate Process Failed");
    EXPECT_EQ(host.LastError(), 6u);
}

TEST_F(Processes, CloseProcClosesOnceAndKeepsTheCode) {
    Sleeper child;
    Outcome open = host.Call(kOpenProc, {std::to_string(child.Id()), "2"});
    ASSERT_EQ(open.status, 0);
    const std::string handle = std::to_string(open.value);
    EXPECT_EQ(host.Call(kCloseProc, {handle}).value, 1);
    EXPECT_EQ(host.Text(kCloseProc, {handle}), "229: tCloseProc failed.");
    EXPECT_EQ(host.LastError(), 6u);
    EXPECT_EQ(host.Text(kCloseProc, {"abc"}), "229: tCloseProc failed.");
    EXPECT_EQ(host.LastError(), 6u);
}

TEST_F(Processes, OpenOfAMissingProcessGives201WithTheSystemsCode) {
    Outcome o = host.Call(kOpenProc, {"4000000000", "1"});
    EXPECT_EQ(o.text, "201: Open Process Failed");
    EXPECT_EQ(host.LastError(), 87u);
    EXPECT_EQ(host.Text(kGetPriority, {"99999999"}), "201: Open Process Failed");
    EXPECT_EQ(host.LastError(), 87u);
    // The open comes before the class is looked at.
    EXPECT_EQ(host.Text(kSetPriority, {"99999999", "100"}), "201: Open Process Failed");
}

TEST_F(Processes, PriorityClassesRoundTrip) {
    Sleeper child;
    const std::string id = std::to_string(child.Id());
    EXPECT_EQ(host.Call(kGetPriority, {id}).value, 32);
    for (const char* cls : {"64", "16384", "32768", "128", "32"}) {
        Outcome set = host.Call(kSetPriority, {id, cls});
        EXPECT_EQ(set.status, 0) << cls << ": " << set.text;
        EXPECT_EQ(host.Call(kGetPriority, {id}).value, atoi(cls)) << cls;
    }
    for (const char* bad : {"0", "100", "-32", "abc"}) {
        EXPECT_EQ(host.Text(kSetPriority, {id, bad}), "203: Invalid flag(s) specified.") << bad;
        EXPECT_EQ(host.Call(kGetPriority, {id}).value, 32) << bad;
    }
    EXPECT_EQ(host.LastError(), 0u) << "203 keeps the saved code";
}

TEST_F(Processes, NoHandleStaysOpenApartFromTheScriptsOwn) {
    Sleeper child;
    const std::string id = std::to_string(child.Id());
    host.Call(kGetPriority, {id});  // first-use allocations out of the way
    const DWORD before = CountHandles();
    for (int i = 0; i < 20; ++i) {
        host.Call(kGetPriority, {id});
        host.Call(kSetPriority, {id, "32"});
        host.Call(kSetPriority, {id, "5"});
        host.Call(kSetPriority, {"99999999", "32"});
        host.Call(kGetProcInfo, {id});
        host.Call(kGetProcInfo, {"12a"});
        host.Call(kListMod, {Self(), "2"});
        host.Call(kListMod, {Self(), "9"});
        host.Call(kGetModInfo, {Self(), "1"});
        host.Call(kCountProc);
        host.Call(kListProc);
        host.Call(kCloseProc, {"0"});
    }
    Outcome open = host.Call(kOpenProc, {id, "2"});
    ASSERT_EQ(open.status, 0);
    EXPECT_EQ(CountHandles(), before + 1) << "only the handle the script holds";
    host.Call(kCloseProc, {std::to_string(open.value)});
    EXPECT_EQ(CountHandles(), before);
}

TEST_F(Processes, ProcInfoGivesNineFiguresMatchingTheSystems) {
    typedef BOOL(WINAPI * MemoryInfoFn)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
    auto memoryInfo = Psapi<MemoryInfoFn>("GetProcessMemoryInfo");
    ASSERT_NE(memoryInfo, nullptr);
    Sleeper child;
    for (const std::string& id : {Self(), std::to_string(child.Id())}) {
        Outcome o = host.Call(kGetProcInfo, {id});
        ASSERT_EQ(o.status, 0) << o.text;
        auto figures = Split(o.text, '\t');
        ASSERT_EQ(figures.size(), 9u) << o.text;
        for (const std::string& f : figures) EXPECT_TRUE(IsUnsignedNumber(f)) << f;
        EXPECT_LE(std::stoull(figures[2]), std::stoull(figures[1])) << "working set above peak";

        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                     static_cast<DWORD>(std::stoul(id)));
        PROCESS_MEMORY_COUNTERS direct = {};
        ASSERT_TRUE(memoryInfo(process, &direct, sizeof direct));
        CloseHandle(process);
        const uint64_t slack = 1 << 20;  // what the call itself may allocate
        EXPECT_NEAR(static_cast<double>(std::stoull(figures[2])), direct.WorkingSetSize, slack);
        EXPECT_NEAR(static_cast<double>(std::stoull(figures[7])), direct.PagefileUsage, slack);
    }
    EXPECT_EQ(host.Text(kGetProcInfo, {"12a"}), "205: Invalid parameter type. ");
    Outcome zero = host.Call(kGetProcInfo, {""});
    EXPECT_TRUE(zero.text == "204: tGetProcInfo failed. Maybe invalid process handle." ||
                zero.text == "202: Could not open process. Access denied.")
        << zero.text;
    EXPECT_NE(host.LastError(), 0u);
}

TEST_F(Processes, ListModInItsThreeModes) {
    typedef BOOL(WINAPI * EnumModulesFn)(HANDLE, HMODULE*, DWORD, LPDWORD);
    auto enumModules = Psapi<EnumModulesFn>("EnumProcessModules");
    ASSERT_NE(enumModules, nullptr);

    Outcome paths = host.Call(kListMod, {Self(), "1"});
    ASSERT_EQ(paths.status, 0) << paths.text;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_EQ(Split(paths.text, '\t')[0], self);

    Outcome numbers = host.Call(kListMod, {Self(), "2"});
    ASSERT_EQ(numbers.status, 0);
    std::set<std::string> listed;
    for (const std::string& n : Split(numbers.text, '\t')) {
        EXPECT_TRUE(IsUnsignedNumber(n)) << n;
        listed.insert(n);
    }
    HMODULE modules[1024];
    DWORD needed = 0;
    ASSERT_TRUE(enumModules(GetCurrentProcess(), modules, sizeof modules, &needed));
    std::set<std::string> direct;
    for (DWORD i = 0; i < needed / sizeof(HMODULE); ++i) {
        direct.insert(std::to_string(reinterpret_cast<uintptr_t>(modules[i])));
    }
    EXPECT_EQ(listed, direct);

    Outcome both = host.Call(kListMod, {Self(), "0"});
    auto entries = Split(both.text, '\t');
    EXPECT_EQ(entries.size(), listed.size());
    for (const std::string& e : entries) {
        auto parts = Split(e, '|');
        ASSERT_EQ(parts.size(), 2u) << e;
        EXPECT_TRUE(listed.count(parts[1])) << e;
    }

    EXPECT_EQ(host.Text(kListMod, {Self(), "5"}), "203: Invalid flag(s) specified.");
    EXPECT_EQ(host.Text(kListMod, {Self(), "abc"}), "205: Invalid parameter type. ");
    EXPECT_EQ(host.Text(kListMod, {"99999999", "abc"}), "205: Invalid parameter type. ")
        << "the mode is tested before the process is opened";
    EXPECT_EQ(host.Text(kListMod, {"99999999", "0"}), "201: Open Process Failed");
    EXPECT_EQ(host.LastError(), 87u);
}

TEST_F(Processes, ModInfoOfAListedModuleMatchesTheSystems) {
    typedef BOOL(WINAPI * ModuleInfoFn)(HANDLE, HMODULE, LPMODULEINFO, DWORD);
    auto moduleInfo = Psapi<ModuleInfoFn>("GetModuleInformation");
    ASSERT_NE(moduleInfo, nullptr);
    Outcome numbers = host.Call(kListMod, {Self(), "2"});
    for (const std::string& n : Split(numbers.text, '\t')) {
        Outcome o = host.Call(kGetModInfo, {Self(), n});
        ASSERT_EQ(o.status, 0) << n << ": " << o.text;
        auto fields = Split(o.text, '\t');
        ASSERT_EQ(fields.size(), 3u);
        EXPECT_EQ(fields[0], n);
        MODULEINFO info = {};
        ASSERT_TRUE(moduleInfo(GetCurrentProcess(),
                               reinterpret_cast<HMODULE>(std::stoull(n)), &info, sizeof info));
        EXPECT_EQ(fields[1], std::to_string(static_cast<int32_t>(info.SizeOfImage)));
        EXPECT_EQ(fields[2], std::to_string(reinterpret_cast<uintptr_t>(info.EntryPoint)));
    }
    EXPECT_EQ(host.Text(kGetModInfo, {Self(), "12345"}), "206: tGetModInfo failed.");
    EXPECT_NE(host.LastError(), 0u);
    EXPECT_EQ(host.Text(kGetModInfo, {"99999999", "12345"}), "206: tGetModInfo failed.");
    EXPECT_NE(host.LastError(), 0u);
    EXPECT_EQ(host.Text(kGetModInfo, {"x", "12345"}), "205: Invalid parameter type. ");
}
