// The host's side of the boundary: queries, the control calls, enumeration,
// dispatch and the endings of a keyword call.
#include <gtest/gtest.h>
#include <string.h>

#include <optional>

#include "host.h"
#include "rig.h"

using namespace test;
using vek::KeywordEntry;

namespace {

struct Row {
    int32_t id, kind, count;
    const char* name;
};
const Row kTable[] = {
    {1, 2, 0, "tversion"},       {2, 2, 0, "tlistproc"},    {3, 2, 2, "topenproc"},
    {4, 2, 2, "tlistmod"},       {5, 2, 1, "tgetprocinfo"}, {6, 2, 0, "tcountproc"},
    {7, 2, 2, "tgetmodinfo"},    {8, 2, 5, "tbrowsecntrs"}, {9, 2, 1, "tkillproc"},
    {10, 3, 1, "@true"},         {11, 3, 0, "@false"},      {12, 2, 1, "tcloseproc"},
    {13, 2, 0, "tcompatible"},   {14, 2, 0, "tgetlasterror"}, {22, 2, 2, "tgetdata"},
    {23, 2, 1, "tremoteconn"},   {24, 2, 2, "tsetpriority"}, {25, 2, 1, "tgetpriority"},
    {26, 2, 1, "tparsecntrpath"},
};

class Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.Loaded()) << host.LoadError();
        ASSERT_EQ(host.Initialise(), 19);
    }
    void TearDown() override { host.Terminate(); }
    Host host;
};

}  // namespace

// Code 1 copies the description within the length given, code 2 accepts
// 4 among the codes offered, any other answers 0; the low 16 bits count.
TEST(Query, EachCodeAndLengthGivesItsAnswer) {
    Host host;
    ASSERT_TRUE(host.Loaded());
    char text[64];
    int32_t none[] = {1, 2, 3}, withFour[] = {3, 4};
    struct { int32_t code; void* buffer; int32_t length, answer; const char* copied; } rows[] = {
        {1, text, 64, 44017, "Process VEK Extender"}, {1, text, 5, 44017, "Proc"}, {1, text, 0, 44017, ""},
        {1, text, 21, 44017, "Process VEK Extender"}, {1, text, 20, 44017, "Process VEK Extende"}, {1, text, 1, 44017, ""},
        {1, nullptr, 0, 44017, ""}, {1, nullptr, 64, 44017, ""}, {0x10001, text, 64, 44017, "Process VEK Extender"},
        {2, none, 3, -1, ""}, {2, withFour, 2, 4, ""}, {2, withFour, 1, -1, ""}, {2, withFour, 0, -1, ""},
        {2, withFour, -3, -1, ""}, {3, withFour, 2, 0, ""}, {0, withFour, 2, 0, ""},
    };
    for (const auto& row : rows) {
        memset(text, 'x', sizeof text);
        EXPECT_EQ(host.Query(row.code, row.buffer, row.length), row.answer) << row.code << " " << row.length;
        std::string want = row.copied;
        if (row.buffer == text && row.length > 0) want += '\0';
        EXPECT_EQ(std::string(text, want.size() + 1), want + 'x') << "the text, its end, nothing past it: " << row.length;
    }
}

namespace {

// What the fakes serve and record, put back as a whole as each test starts: a table stopped by
// an assertion leaves nothing behind.
struct Fakes {
    std::string resolved;
    std::string loads;            // each library asked for, with its flags
    DWORD refusal = 0;            // what LOAD_LIBRARY_SEARCH_SYSTEM32 is refused with (0: taken),
    const char* refused = nullptr;  // for this library alone (null: every one)
    UINT folderLength = 0;        // of the system folder served: 0 fails the call
};
Fakes fake;

decltype(&GetProcAddress) realResolve;
FARPROC WINAPI RecordResolve(HMODULE module, LPCSTR name) {
    fake.resolved += std::string(name) + " ";
    return realResolve(module, name);
}
decltype(&LoadLibraryExA) realLoadEx;
UINT WINAPI ServeFolder(LPSTR folder, UINT size) {
    if (fake.folderLength == 0 || size <= fake.folderLength) return fake.folderLength ? fake.folderLength + 1 : 0;
    return strcpy(folder, ("C:\\" + std::string(fake.folderLength - 3, 'f')).c_str()), fake.folderLength;
}
HMODULE WINAPI RecordLoad(LPCSTR name, HANDLE file, DWORD flags) {
    fake.loads += std::string(name) + " " + std::to_string(flags) + "\n";
    const bool refuse = fake.refusal && flags == LOAD_LIBRARY_SEARCH_SYSTEM32 && (!fake.refused || lstrcmpiA(name, fake.refused) == 0);
    return refuse ? (SetLastError(fake.refusal), nullptr) : realLoadEx(name, file, flags);
}

class Initialise : public ::testing::Test {
protected:
    void SetUp() override { fake = Fakes{}; }
};

}  // namespace

// Each optional entry point by name, in order; one missing from the
// all-present test raises missingApi for all (208 and 211), while the two
// outside it fail only their own callers. The flag never clears, so each
// row loads the extender afresh.
TEST_F(Initialise, EveryOptionalEntryPointIsResolvedAndTested) {
    {
        Host host;
        rig::Patch resolve(host.Module(), "KERNEL32.dll", "GetProcAddress", RecordResolve, &realResolve);
        ASSERT_EQ(host.Initialise(), 19);
        EXPECT_EQ(fake.resolved,
                  "AddDllDirectory EnumProcesses EnumProcessModules GetModuleFileNameExA GetModuleBaseNameA "
                  "GetModuleInformation GetProcessMemoryInfo EnumProcessModulesEx AddDllDirectory PdhOpenQuery PdhAddCounterA "
                  "PdhCollectQueryData PdhGetFormattedCounterValue PdhCloseQuery PdhRemoveCounter "
                  "PdhBrowseCountersA PdhGetCounterInfoA PdhConnectMachineA PdhEnumObjectItemsA "
                  "PdhParseCounterPathA PdhAddEnglishCounterA wine_get_version CompareObjectHandles NtQueryObject ");
        host.Terminate();
    }
    const char* const tested[] = {
        "EnumProcesses", "EnumProcessModules", "GetModuleFileNameExA", "GetModuleBaseNameA",
        "GetModuleInformation", "GetProcessMemoryInfo", "PdhOpenQuery", "PdhAddCounterA",
        "PdhCollectQueryData", "PdhGetFormattedCounterValue", "PdhCloseQuery", "PdhRemoveCounter",
        "PdhBrowseCountersA", "PdhConnectMachineA", "PdhEnumObjectItemsA",
    };
    for (const char* name : tested) {
        ASSERT_EQ(GetModuleHandleA("vekproc.dll"), nullptr) << "loaded afresh for " << name;
        Host host;
        rig::Serve missing(name, nullptr);
        ASSERT_EQ(host.Initialise(), 19);
        EXPECT_EQ(host.Text(tCountProc), "208: May need newer version of PSAPI.DLL") << name;
        EXPECT_EQ(host.Text(tListMod, {"0", "0"}), "208: May need newer version of PSAPI.DLL") << name;
        EXPECT_EQ(host.Text(tRemoteConn, {"x"}), "211: May need newer version of PDH.DLL") << name;
        host.Terminate();
    }
    // Outside it: their own callers say 211, or go on without (the English
    // form and the modules' Ex form, absent before Vista).
    struct { const char* name; int id; std::vector<std::string> args; const char* text; } untested[] = {
        {"PdhGetCounterInfoA", tGetData, {"\\System\\System Up Time", "0"}, "211: May need newer version of PDH.DLL"},
        {"PdhGetCounterInfoA", tBrowseCntrs, {"0", "0", "", "", ""}, "211: May need newer version of PDH.DLL"},
        {"PdhParseCounterPathA", tParseCntrPath, {"\\System\\System Up Time"}, "211: May need newer version of PDH.DLL"},
        {"PdhAddEnglishCounterA", tGetData, {"\\System\\System Up Time", "0"}, ""},
        {"EnumProcessModulesEx", tListMod, {"0", "0"}, "201: Open Process Failed"},
    };
    for (const auto& row : untested) {
        Host host;
        rig::Serve missing(row.name, nullptr);
        ASSERT_EQ(host.Initialise(), 19);
        EXPECT_EQ(host.Call(tCountProc).status, 0) << row.name << " raised missingApi";
        EXPECT_EQ(host.Text(row.id, row.args), row.text) << row.name;
        host.Terminate();
    }
    Host host;  // Wine's stubs are absent to the loader alone: one served from elsewhere is called.
    rig::Serve served("PdhConnectMachineA", reinterpret_cast<void*>(+[](const char*) -> LONG { return 0; }));
    EXPECT_EQ((host.Initialise(), host.Call(tRemoteConn, {"x"}).value), 1);
}

// PSAPI, PDH and, when a failure is logged, the shell folder's library come
// from the system folder alone: with LOAD_LIBRARY_SEARCH_SYSTEM32 (2048)
// where kernel32 has AddDllDirectory and takes the flag, else by the folder's
// full path (LOAD_WITH_ALTERED_SEARCH_PATH, 8); never by a bare name, which
// the search path would find beside the host first. A library that is not
// there fails its own functions' gates alone (207, 230), the other's go on.
TEST_F(Initialise, SystemLibrariesComeFromTheSystemFolderAlone) {
    char folder[MAX_PATH];
    const std::string sys = std::string(folder, GetSystemDirectoryA(folder, MAX_PATH)) + "\\";
    const auto both = [&sys](const char* dll) { return std::string(dll) + " 2048\n" + sys + dll + " 8\n"; };
    // 249 and 250 characters: PSAPI.DLL's path and its NUL take all 260 the first time, one more the second.
    const std::string bound = "C:\\" + std::string(246, 'f') + "\\", over = "C:\\" + std::string(247, 'f') + "\\";
    struct { const char* scenario; DWORD refuse; bool noAddDllDirectory; int folder; std::string loads; const char* only = nullptr; } rows[] = {
        {"flag taken", 0, false, -1, "PSAPI.DLL 2048\nPDH.DLL 2048\nSHELL32.DLL 2048\n"},
        {"flag refused", ERROR_INVALID_PARAMETER, false, -1, both("PSAPI.DLL") + both("PDH.DLL") + both("SHELL32.DLL")},
        {"no AddDllDirectory", 0, true, -1, sys + "PSAPI.DLL 8\n" + sys + "PDH.DLL 8\n" + sys + "SHELL32.DLL 8\n"},
        {"not there", ERROR_MOD_NOT_FOUND, false, -1, "PSAPI.DLL 2048\nPDH.DLL 2048\nSHELL32.DLL 2048\nSHFOLDER.DLL 2048\n"},
        {"no PSAPI", ERROR_MOD_NOT_FOUND, false, -1, "PSAPI.DLL 2048\nPDH.DLL 2048\nSHELL32.DLL 2048\n", "PSAPI.DLL"},
        {"no PDH", ERROR_MOD_NOT_FOUND, false, -1, "PSAPI.DLL 2048\nPDH.DLL 2048\nSHELL32.DLL 2048\n", "PDH.DLL"},
        {"no system folder", 0, true, 0, ""},
        {"a folder at the bound", 0, true, 249, bound + "PSAPI.DLL 8\n" + bound + "PDH.DLL 8\n"},
        {"a folder past it", 0, true, 250, over + "PDH.DLL 8\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scenario);
        Host host;
        rig::Patch load(host.Module(), "KERNEL32.dll", "LoadLibraryExA", RecordLoad, &realLoadEx);
        rig::Patch served(row.folder >= 0 ? host.Module() : nullptr, "KERNEL32.dll", "GetSystemDirectoryA", ServeFolder);
        fake.folderLength = row.folder;
        std::optional<rig::Serve> before8;
        if (row.noAddDllDirectory) before8.emplace("AddDllDirectory", nullptr);
        fake.refusal = row.refuse;
        fake.refused = row.only;
        fake.loads.clear();
        ASSERT_EQ(host.Initialise(), 19);
        host.Call(tKillProc, {"0"});  // logged in the settings file
        EXPECT_EQ(fake.loads, row.loads);
        const bool gone = row.refuse == ERROR_MOD_NOT_FOUND || row.folder >= 0;
        const bool noPsapi = gone && (!row.only || !strcmp(row.only, "PSAPI.DLL")), noPdh = gone && (!row.only || !strcmp(row.only, "PDH.DLL"));
        EXPECT_EQ(host.Call(tCountProc).status == 0, !noPsapi) << "PSAPI, and missingApi clear";
        for (int id : {tCountProc, tListMod, tGetProcInfo, tGetModInfo}) EXPECT_EQ(host.Text(id, {"0", "0"}) == "207: Could not load PSAPI.DLL", noPsapi) << id;
        EXPECT_EQ(host.Call(tGetData, {"\\System\\System Up Time", "0"}).status == 0, !noPdh) << "PDH, and missingApi clear";
        // Wine's PDH ends the process in the other three: asked only where it is missing.
        for (int id : {tGetData, tBrowseCntrs, tRemoteConn, tParseCntrPath}) EXPECT_TRUE(!noPdh || host.Text(id, {"x", "0"}) == "230:  Could not load PDH.DLL") << id;
        host.Terminate();
    }
}

// A host older than 1004 is refused and loads nothing; the version is
// compared unsigned. Then a hundred rounds of initialise, initialise again, a
// call and terminate.
TEST_F(Initialise, RepeatedInitialiseAndTerminateLeaveNoModuleBehind) {
    Host host;
    ASSERT_TRUE(host.Loaded());
    char refusal[64];
    memset(refusal, 'x', sizeof refusal);
    EXPECT_EQ(host.Initialise(1003, refusal), -1);
    EXPECT_STREQ(refusal, "Need newer version of VEK DLL");
    EXPECT_EQ(GetModuleHandleA("psapi.dll"), nullptr) << "an old host loads nothing";
    EXPECT_EQ(host.Initialise(0xFFFFFFFFu, refusal), 19);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(host.Initialise(), 19);
        ASSERT_EQ(host.Initialise(), 19) << "initialise again before terminate";
        ASSERT_EQ(host.Call(tCountProc).status, 0);
        ASSERT_EQ(host.Terminate(), 1);
        ASSERT_EQ(GetModuleHandleA("psapi.dll"), nullptr) << i;
        ASSERT_EQ(GetModuleHandleA("pdh.dll"), nullptr) << i;
    }
    EXPECT_EQ(host.Terminate(), 1) << "a second terminate releases nothing twice";
    // After terminate the optional functions report their module missing.
    EXPECT_EQ(host.Text(tCountProc), "207: Could not load PSAPI.DLL");
    EXPECT_EQ(host.Text(tGetData, {"\\System\\System Up Time", "0"}), "230:  Could not load PDH.DLL");
}

TEST_F(Protocol, EnumerationGivesTheTableTwiceAlike) {
    for (int round = 0; round < 2; ++round) {
        for (uint32_t i = 0; i < 19; ++i) {
            KeywordEntry entry;
            memset(&entry, 0xEE, sizeof entry);
            ASSERT_EQ(host.Enumerate(i, &entry), 1);
            const Row& row = kTable[i];
            EXPECT_EQ(entry.id, row.id);
            EXPECT_EQ(entry.kind, row.kind);
            EXPECT_EQ(entry.countOrValue, row.count);
            EXPECT_STREQ(entry.name, row.name);
            EXPECT_EQ(entry.nameLength, strlen(row.name));
            const uint8_t function[8] = {0x11, 0x11, 0x01, 0, 0, 0, 0, 0};
            const uint8_t constant[8] = {};
            EXPECT_EQ(memcmp(entry.argTypes, row.kind == 2 ? function : constant, 8), 0) << row.name;
        }
        KeywordEntry entry;
        memset(&entry, 0xEE, sizeof entry);
        EXPECT_EQ(host.Enumerate(19, &entry), 0);
        EXPECT_EQ(entry.id, static_cast<int32_t>(0xEEEEEEEE)) << "the terminator writes nothing";
        EXPECT_EQ(host.Enumerate(20, &entry), 0);
        EXPECT_EQ(host.Enumerate(0xFFFFFFFFu, &entry), 0);
    }
    EXPECT_EQ(host.Enumerate(0, nullptr), 1);
}

TEST_F(Protocol, EveryKeywordCallsBackOnceAndReturnsWhatTheCallbackReturned) {
    for (int32_t id = -10; id <= 30; ++id) {
        if (id >= -3 && id <= -1) continue;
        std::vector<std::string> args = {"0", "0", "0"};
        // Windows' dialog waits for a person, its connection for the network: the double's tests call them.
        if (!vek::UnderWine() && (id == tBrowseCntrs || id == tRemoteConn)) continue;
        Outcome o = host.Call(id, args);
        // Wine's PDH has stubs there, whose call would end the host.
        if (vek::UnderWine() && (id == tBrowseCntrs || id == tRemoteConn || id == tParseCntrPath)) EXPECT_EQ(o.text, "211: May need newer version of PDH.DLL");
        EXPECT_EQ(o.calls, 1) << id;
        EXPECT_EQ(o.returned, LastCallbackReturn()) << id;
        EXPECT_EQ(o.hostTag, o.sentTag) << id;
        EXPECT_EQ(o.context, &host.context) << id;
        EXPECT_EQ(o.result, &host.slot) << id;
    }
}

// A string result, the empty failure included, leaves the value alone. The
// text buffer holds a message first, which Windows' LoadStringA may leave
// there for an id with no text, where Wine's empties it.
TEST_F(Protocol, IdsThatNameNothingFailWithAnEmptyText) {
    rig::Patch keep(host.Module(), "USER32.dll", "LoadStringA", reinterpret_cast<void*>(+[](HINSTANCE m, UINT id, LPSTR to, int n) {
        char text[256];
        const int length = LoadStringA(m, id, text, sizeof text);
        if (length) lstrcpynA(to, text, n);
        return length;
    }));
    for (int32_t id : {0, 10, 11, 15, 16, 17, 18, 19, 20, 21, 27, 100, -4, -32768, 32767}) {
        host.Call(tCloseProc, {"abc"});
        host.slot.value = 0x0BADF00D;
        Outcome o = host.Call(id, {"1"});
        EXPECT_EQ(o.status, -1) << id;
        EXPECT_EQ(o.type, 2) << id;
        EXPECT_EQ(o.text, "") << id;
        EXPECT_EQ(host.slot.value, 0x0BADF00D) << id;
    }
}

// Only the low 16 bits of the call code select the keyword.
TEST_F(Protocol, IntegerResultsLeaveTheHostsFieldsAlone) {
    memset(&host.slot, 0x3C, sizeof host.slot);
    const char* hostText = reinterpret_cast<const char*>(host.slot.text);
    Outcome o = host.Call(0x10001);
    EXPECT_EQ(o.value, 44017);
    EXPECT_EQ(o.type, 1);
    EXPECT_EQ(host.slot.text, hostText);
    for (uint8_t b : host.slot.hostReserved) EXPECT_EQ(b, 0x3C);

    o = host.Call(0x7FFF000D);
    EXPECT_EQ(o.value, 1) << "tCompatible";
    EXPECT_EQ(host.slot.text, hostText);
}
