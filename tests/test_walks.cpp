// The two walks over data the system hands us: the counter-name list and
// the process object of the performance data, on crafted input and on the
// data Wine serves through the registered process provider.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "../process/process_shared.h"
#include "keyword_call.h"
#include "messages.h"
#include "owner.h"
#include "platform.h"
#include "perf_data.h"
#include "process_snapshot.h"
#include "settings_file.h"
#include "wine_only.h"

using namespace vek;

namespace {

using perfdata::Pairs;

// The data at the end of an inaccessible page, so a read past it faults.
class Fenced {
public:
    explicit Fenced(const void* bytes, size_t size) : size_(size) {
        const size_t pages = (size + 4095) / 4096 + 1;
        base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, pages * 4096, MEM_COMMIT | MEM_RESERVE,
                                                PAGE_READWRITE));
        DWORD old;
        VirtualProtect(base_ + (pages - 1) * 4096, 4096, PAGE_NOACCESS, &old);
        data_ = base_ + (pages - 1) * 4096 - size;
        memcpy(data_, bytes, size);
    }
    ~Fenced() { VirtualFree(base_, 0, MEM_RELEASE); }
    const BYTE* data() const { return data_; }
    DWORD size() const { return static_cast<DWORD>(size_); }

private:
    BYTE* base_;
    BYTE* data_;
    size_t size_;
};

int Lookup(const std::string& list, const char* name, char* index, int capacity) {
    Fenced fenced(list.data(), list.size());
    return CounterIndexWalk(reinterpret_cast<const char*>(fenced.data()), fenced.size(), name,
                            index, capacity);
}

constexpr char kProvider[] = "the data comes from the stand-in provider registered in the Wine prefix";

// Reads the process object through the registry, as served by vekperf.
std::vector<BYTE> PerfData(const char* scenario) {
    SetEnvironmentVariableA("VEKPERF_SCENARIO", scenario);
    std::vector<BYTE> data(1 << 16);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        LONG status = RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            data.resize(data.size() * 2);
            continue;
        }
        RegCloseKey(HKEY_PERFORMANCE_DATA);
        SetEnvironmentVariableA("VEKPERF_SCENARIO", nullptr);
        data.resize(status == ERROR_SUCCESS ? size : 0);
        return data;
    }
}

struct Listed {
    int message;
    std::string text;
};

Listed Walk(const std::vector<BYTE>& data, size_t capacity = kResultTextCapacity) {
    Fenced fenced(data.data(), data.size());
    std::vector<char> out(capacity);
    TextBuffer buffer = {out.data(), capacity, 0};
    buffer.Clear();
    int message = ProcessListFromPerfData(fenced.data(), fenced.size(), 230, 784, buffer);
    return {message, out.data()};
}

}  // namespace

// Pairs of index and name, walked for one name with a capacity for the
// index: the index before its first match, or "" and 0.
TEST(CounterNames, TheFirstMatchWithinTheCapacitiesAndTheBytesWins) {
    const std::string list = Pairs({"2", "System", "230", "Process", "999", "Process", "784", "ID Process"});
    std::string cut = Pairs({"2", "System", "230", "Proc"}, false);
    cut.pop_back();  // no NUL at all after the last name
    struct { std::string list; const char* name; int capacity; const char* index; } rows[] = {
        {list, "Process", 256, "230"},
        {list, "ID Process", 256, "784"},
        {list, "process", 256, ""},  // letter case matters
        {list, "Prozess", 256, ""},
        {Pairs({"12345", "Memory", "230", "Process"}), "Process", 5, ""},  // an index of capacity characters
        {Pairs({"12345", "Memory", "230", "Process"}), "Process", 6, "230"},
        {Pairs({"1", std::string(255, 'n').c_str(), "230", "Process"}), "Process", 256, "230"},
        {Pairs({"1", std::string(256, 'n').c_str(), "230", "Process"}), "Process", 256, ""},
        {Pairs({"2", "System", "230", "Process"}, false), "Process", 256, "230"},
        {cut, "Proc", 256, "230"},
        {std::string("23", 2), "Process", 256, ""},
        {std::string(300, '7'), "Process", 256, ""},
        {std::string(1, '\0'), "Process", 256, ""},
    };
    for (const auto& row : rows) {
        char index[257];
        memset(index, 'G', sizeof index);
        EXPECT_EQ(Lookup(row.list, row.name, index, row.capacity), row.index[0] ? 1 : 0) << row.name << " " << row.capacity;
        EXPECT_STREQ(index, row.index) << row.name << " " << row.capacity;
        EXPECT_EQ(index[row.capacity], 'G') << row.capacity;
    }
}

// An item goes in whole or not at all: "abc|1" needs 6 characters with its
// terminator, "abc|1\tdef|2" 12; nothing is written outside the buffer.
TEST(ProcessWalk, AFullResultEndsAtItsLastWholeItem) {
    VEK_UNDER_WINE_ONLY(kProvider);
    const std::vector<BYTE> two = PerfData("list:abc=1,def=2");
    struct { size_t capacity; const char* text; } rows[] = {
        {1, ""}, {5, ""}, {6, "abc|1"}, {11, "abc|1"}, {12, "abc|1\tdef|2"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "capacity " << row.capacity);
        std::vector<char> out(row.capacity + 2, 'G');
        TextBuffer buffer = {out.data() + 1, row.capacity, 0};
        buffer.Clear();
        EXPECT_EQ(ProcessListFromPerfData(two.data(), static_cast<DWORD>(two.size()), 230, 784, buffer), 0);
        EXPECT_STREQ(out.data() + 1, row.text) << row.capacity;
        EXPECT_EQ(out.front() + out.back(), 'G' + 'G') << row.capacity;
    }
}

TEST(ProcessWalk, LengthsPointingOutsideTheDataGive214) {
    // Every truncation of one instance's data: no header (214), no whole
    // object record (239: no Process object), a counter definition, the
    // instance or the id's four bytes cut (214), then the list.
    using namespace perfdata;
    const std::string one = Build({Process({{L"ab", 7}})});
    const size_t object = sizeof(PERF_DATA_BLOCK), counters = object + sizeof(PERF_OBJECT_TYPE);
    for (size_t size = 1; size <= one.size(); ++size) {
        const int message = size < object ? kMsgRegistryProblem : size < counters ? kMsgNoIdProcessCounter
                            : size < one.size() - 4 ? kMsgRegistryProblem : 0;
        Listed listed = Walk(std::vector<BYTE>(one.begin(), one.begin() + size));
        EXPECT_EQ(listed.message, message) << size;
        EXPECT_EQ(listed.text, message ? "" : "ab|7") << size;
    }
    VEK_UNDER_WINE_ONLY(kProvider);
    for (const char* kind : {"bad:header", "bad:counters", "bad:deflen", "bad:instlen",
                             "bad:nameoff", "bad:cblen", "bad:count"}) {
        std::vector<BYTE> data = PerfData(kind);
        ASSERT_FALSE(data.empty()) << kind;
        EXPECT_EQ(Walk(data).message, kMsgRegistryProblem) << kind;
    }
}

// Windows' shapes, walked by the core built with the undefined-behaviour
// traps: a record read in place at an odd offset ends the program here.
TEST(ProcessWalk, TheProcessObjectIsFoundByIndexAndReadAtAnyOffset) {
    using namespace perfdata;
    const std::vector<Instance> usual = {{L"Idle", 0}, {L"svchost", 4}, {L"_Total", 0}};
    for (DWORD shift = 0; shift < 8; ++shift) {
        // Bytes to spare keep the block's end, and so its start, in place
        // (the data ends at a fenced page) while the records move.
        const std::string data = Build({Thread(), Process(usual)}, shift) + std::string(8 - shift, '\0');
        Listed listed = Walk(std::vector<BYTE>(data.begin(), data.end()));
        EXPECT_EQ(listed.message, 0) << shift;
        EXPECT_EQ(listed.text, "Idle|0\tsvchost|4") << shift;
    }
}

// The system's process snapshot as vekrun walks it, fenced so that a read past its end faults:
// records as 64-bit Windows lays them out, each name after its record, and what would lead a
// walk astray. Names are placed by offset and pointed to once the bytes are in place.
struct SnapshotRecord {
    DWORD id, parent;
    std::wstring name;
    ULONG next = 0;            // 0: the record after it, whole; else as given
    LONGLONG namePlace = 0;    // moves the name's pointer by this many bytes
    USHORT nameLength = 0;     // 0: the name's own
};
std::string SnapshotBytes(const std::vector<SnapshotRecord>& records, std::vector<size_t>& namesAt) {
    std::string bytes;
    for (size_t i = 0; i < records.size(); ++i) {
        const SnapshotRecord& r = records[i];
        vekrun::SystemProcessInformation record = {};
        const size_t size = sizeof record + r.name.size() * 2 + 2;
        record.NextEntryOffset = i + 1 == records.size() ? 0 : r.next ? r.next : static_cast<ULONG>(size);
        record.UniqueProcessId = r.id, record.InheritedFromUniqueProcessId = r.parent;
        record.ImageNameLength = r.nameLength ? r.nameLength : static_cast<USHORT>(r.name.size() * 2);
        record.ImageNameBuffer = static_cast<ULONGLONG>(bytes.size() + sizeof record + r.namePlace);
        namesAt.push_back(bytes.size() + offsetof(vekrun::SystemProcessInformation, ImageNameBuffer));
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
        bytes.append(reinterpret_cast<const char*>(r.name.c_str()), r.name.size() * 2 + 2);
    }
    return bytes;
}

TEST(ProcessSnapshot, RecordsAreReadWithinTheirBytesAndAStrayOffsetIsAProblem) {
    const struct {
        const char* name;
        std::vector<SnapshotRecord> records;
        size_t cut;  // bytes left off the end
        const char* listed;
        const char* problem;
    } rows[] = {
        {"two whole records, the idle process named as Win32_Process names it", {{0, 0, L""}, {8, 4, L"n\u00e9.exe"}}, 0, "0<0 System Idle Process|8<4 n\xC3\xA9.exe|", ""},
        {"the last name without its terminator", {{8, 4, L"ab"}}, 2, "8<4 ab|", ""},
        {"a record cut short", {{8, 4, L"ab"}, {9, 8, L"cd"}}, 8, "8<4 ab|", "a record cut short at byte 262"},
        {"a next offset inside its own record", {{8, 4, L"ab", 8}, {9, 8, L"cd"}}, 0, "8<4 ab|", "a next record out of place at byte 0"},
        {"a next offset past the end", {{8, 4, L"ab", 100000}, {9, 8, L"cd"}}, 0, "8<4 ab|", "a next record out of place at byte 0"},
        {"a name before the data", {{8, 4, L"ab", 0, -300}}, 0, "", "a name outside it at byte 0"},
        {"a name running past the end", {{8, 4, L"ab", 0, 0, 8}}, 0, "", "a name outside it at byte 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<size_t> namesAt;
        const std::string bytes = SnapshotBytes(row.records, namesAt);
        Fenced fenced(bytes.data(), bytes.size() - row.cut);
        BYTE* data = const_cast<BYTE*>(fenced.data());
        for (size_t at : namesAt) {
            ULONGLONG offset;
            if (at + 8 > fenced.size()) continue;
            memcpy(&offset, data + at, 8);
            offset += reinterpret_cast<ULONGLONG>(data);
            memcpy(data + at, &offset, 8);
        }
        std::vector<vekrun::ProcessRecord> records;
        const std::string problem = vekrun::ReadProcessRecords(data, fenced.size(), records);
        std::string listed;
        for (const auto& r : records) listed += std::to_string(r.processId) + "<" + std::to_string(r.parentProcessId) + " " + r.name + "|";
        EXPECT_EQ(listed, row.listed);
        EXPECT_EQ(problem, std::string(row.problem).empty() ? "" : "the system's process list is malformed: " + std::string(row.problem));
    }
}

// Here the Windows directory serves (no shell folder below MAX_PATH):
// "C:\windows\Dravolin\Settings" and "\QUENDRAL.INI" need 42 characters.
TEST(SettingsFolder, ACapacityBelowWhatFitsIsRefusedAndNothingIsWrittenOutside) {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    ASSERT_STREQ(windows, "C:\\windows");
    DeleteFileA("C:\\windows\\Dravolin\\Settings\\QUENDRAL.INI");  // a line another test logged there
    for (int capacity : {0, 1, 12, 13, 30, 31, 41, 42}) {
        char buffer[16 + 64 + 16];
        memset(buffer, 'G', sizeof buffer);
        EXPECT_EQ(GetSettingsFolder(buffer + 16, capacity), capacity == 42 ? 1 : 0) << capacity;
        if (capacity == 42) EXPECT_STREQ(buffer + 16, "C:\\windows\\Dravolin\\Settings");
        EXPECT_EQ(buffer[16] == 'G', capacity < 31) << capacity << ": below 31 the buffer is not touched";
        for (size_t i = 0; i < sizeof buffer; ++i) {
            if (i < 16 || i >= 16u + capacity) ASSERT_EQ(buffer[i], 'G') << capacity << " at " << i;
        }
    }
    RemoveDirectoryA("C:\\windows\\Dravolin\\Settings");
    RemoveDirectoryA("C:\\windows\\Dravolin");
    // A file where the first folder goes: the second cannot be made, so there is no path.
    CloseHandle(CreateFileA("C:\\windows\\Dravolin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    char buffer[42];
    EXPECT_EQ(GetSettingsFolder(buffer, sizeof buffer), 0);
    DeleteFileA("C:\\windows\\Dravolin");
}

namespace {

// A fixed-seed generator, so a failing mutation can be found again.
struct Mutator {
    uint32_t seed;
    uint32_t Next() {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    }
    uint32_t Value(uint32_t original) {
        switch (Next() % 6) {
            case 0: return Next();
            case 1: return 0;
            case 2: return 0xFFFFFFFFu;
            case 3: return 0x7FFFFFFFu;
            case 4: return original + (Next() % 64) - 32;
            default: return original * 2;
        }
    }
};

}  // namespace

TEST(Fuzz, AThousandMutatedPerformanceBlocksAreWalkedWithinTheirBytes) {
    VEK_UNDER_WINE_ONLY(kProvider);
    const std::vector<BYTE> good = PerfData("list:Idle=0,alpha=12,beta=13,gamma=14,_Total=0");
    ASSERT_GT(good.size(), 200u);
    Mutator random = {20261207};
    for (int i = 0; i < 1000; ++i) {
        std::vector<BYTE> block = good;
        for (uint32_t edits = 1 + random.Next() % 4; edits > 0; --edits) {
            const size_t at = (random.Next() % (block.size() / 4)) * 4;
            uint32_t field;
            memcpy(&field, &block[at], 4);
            field = random.Value(field);
            memcpy(&block[at], &field, 4);
        }
        if (random.Next() % 3 == 0) block.resize(1 + random.Next() % block.size());
        const int message = Walk(block).message;
        ASSERT_TRUE(message == 0 || message == kMsgRegistryProblem || message == kMsgNoIdProcessCounter)
            << "mutation " << i << " gave " << message;
    }
}

TEST(Fuzz, AThousandMutatedCounterListsAreWalkedWithinTheirBytes) {
    const std::string good = Pairs({"2", "System", "4", "Memory", "230", "Process", "784", "ID Process"});
    Mutator random = {7};
    for (int i = 0; i < 1000; ++i) {
        std::string list = good;
        for (uint32_t edits = 1 + random.Next() % 6; edits > 0; --edits) {
            list[random.Next() % list.size()] = static_cast<char>(random.Next() % 3 ? 'x' : '\0');
        }
        if (random.Next() % 3 == 0) list.resize(1 + random.Next() % list.size());
        char index[8];
        const int capacity = 1 + static_cast<int>(random.Next() % 8);
        const int found = Lookup(list, "ID Process", index, capacity);
        // A match gives the index that stands before the name; none, an empty text.
        if (found == 1) {
            ASSERT_NE(list.find(std::string(index) + '\0' + "ID Process"), std::string::npos) << i;
        } else {
            ASSERT_EQ(found, 0) << i;
            ASSERT_STREQ(index, "") << i;
        }
        ASSERT_LT(strlen(index), static_cast<size_t>(capacity)) << i;
    }
}

TEST(Platform, AThreadAttachLeavesEveryFlagAsItWas) {
    PlatformProbe(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH);
    const PlatformInfo first = Platform();
    EXPECT_EQ(first.isNT, 1);
    EXPECT_EQ(first.isVersion4Plus, 1);
    EXPECT_EQ(first.isVersion5Plus, 1);
    EXPECT_EQ(first.isWin9x, 0);
    EXPECT_EQ(first.isNT3, 0);
    EXPECT_TRUE(PlatformProbe(GetModuleHandleA(nullptr), DLL_THREAD_ATTACH));
    EXPECT_TRUE(PlatformProbe(nullptr, DLL_THREAD_DETACH));
    EXPECT_EQ(memcmp(&first, &Platform(), sizeof first), 0);
    ApiLoader();
    EXPECT_NE(Api().psapiModule, nullptr);
    EXPECT_NE(Api().pdhModule, nullptr);
    EXPECT_EQ(Api().toolhelpModule, nullptr) << "Toolhelp is only for Windows 9x";
    EXPECT_EQ(Api().PdhGetCounterInfoA != nullptr, true);
    EXPECT_EQ(Platform().missingApi, 0);
    ApiRelease();
    EXPECT_EQ(Api().psapiModule, nullptr);
    EXPECT_EQ(Api().EnumProcesses, nullptr) << "no entry of a released module stays callable";
}

static std::string freed;
static void FreeNumbered(char* value) { freed += *value; }

// Each resource is released once, by whoever holds it last; the kind's own "nothing held" (-1
// here, as a snapshot's) is never released, and a moved-from owner holds nothing.
TEST(Owner, HandsOverOnMoveReleaseAndReset) {
    char a = 'a', b = 'b', c = 'c';
    using Owned = vek::Owner<char*, FreeNumbered, -1>;
    {
        Owned first(&a), none, second(static_cast<Owned&&>(first)), third(&c);
        EXPECT_TRUE(!first && !none && none.Get() == reinterpret_cast<char*>(-1));
        second = static_cast<Owned&&>(second);  // onto itself: still held
        none = static_cast<Owned&&>(second);
        EXPECT_TRUE(none.Get() == &a && freed.empty());
        none.Reset(&b);
        third = static_cast<Owned&&>(none);
        EXPECT_EQ(freed, "ac");
        EXPECT_TRUE(third.Release() == &b && !third);
    }
    EXPECT_EQ(freed, "ac") << "nothing released twice, nothing handed over released";
}
