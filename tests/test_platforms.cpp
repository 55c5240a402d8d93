// The platform probe and the loader on the Windows versions Wine can pose
// as, each in a child process of its own name.
#include <gtest/gtest.h>

#include "host.h"

using namespace test;

namespace {

// Runs platchild as `name` under the given Windows version; returns its
// output lines.
std::vector<std::string> RunAs(const std::string& version, const std::vector<std::string>& calls) {
    const std::string program = "platchild_" + version + ".exe";
    const std::string copy = Directory() + program;
    CopyFileA((Directory() + "platchild.exe").c_str(), copy.c_str(), FALSE);
    std::string out;
    {
        WineVersion pose(program, version);
        std::string line = "\"" + copy + "\" \"" + Directory() + "vekproc.dll\"";
        for (const std::string& c : calls) line += " \"" + c + "\"";
        Run(line, &out);
    }
    DeleteFileA(copy.c_str());
    std::vector<std::string> lines;
    for (std::string& l : Split(out, '\n')) {
        while (!l.empty() && l.back() == '\r') l.pop_back();
        if (!l.empty()) lines.push_back(l);
    }
    return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

}  // namespace

TEST(Platforms, Nt351LoadsNothingAndRefusesWhatNeedsThePlatform) {
    auto lines = RunAs("nt351", {"13", "9:-1", "3:1:0", "12:0", "2", "6", "22:x:0", "25:1",
                                 "5:1"});
    const std::string all = Joined(lines);
    EXPECT_TRUE(Has(lines, "load 1")) << all;
    EXPECT_TRUE(Has(lines, "init 19")) << all;
    EXPECT_TRUE(Has(lines, "psapi 0")) << all;
    EXPECT_TRUE(Has(lines, "pdh 0")) << all;
    EXPECT_TRUE(Has(lines, "13 0 0")) << all;  // tCompatible
    for (const char* id : {"9", "3", "12", "2", "6", "22", "5"}) {
        EXPECT_TRUE(Has(lines, std::string(id) + " -1 209 : Not designed to run on this platform."))
            << id << "\n" << all;
    }
    // tGetPriority has no platform check: it goes on to open process 1.
    bool priorityRan = false;
    for (const std::string& l : lines) priorityRan |= l.rfind("25 ", 0) == 0 && l.find("209") == std::string::npos;
    EXPECT_TRUE(priorityRan) << all;
}

TEST(Platforms, Nt40RefusesTheTwoNewerPriorityClasses) {
    const std::string self = std::to_string(GetCurrentProcessId());
    auto lines = RunAs("nt40", {"13", "24:" + self + ":16384", "24:" + self + ":32768"});
    const std::string all = Joined(lines);
    EXPECT_TRUE(Has(lines, "init 19")) << all;
    EXPECT_TRUE(Has(lines, "psapi 1")) << all;
    EXPECT_TRUE(Has(lines, "13 0 1")) << all;
    EXPECT_TRUE(Has(lines, "24 -1 203: Invalid flag(s) specified.")) << all;
}

TEST(Platforms, Win98UsesToolhelpOnlyAndNoCounters) {
    auto lines = RunAs("win98", {"13", "22:\\System\\System Up Time:0", "5:abc", "5:12", "7:x:0",
                                 "7:12:0", "6", "2"});
    const std::string all = Joined(lines);
    EXPECT_TRUE(Has(lines, "init 19")) << all;
    EXPECT_TRUE(Has(lines, "psapi 0")) << all;
    EXPECT_TRUE(Has(lines, "pdh 0")) << all;
    EXPECT_TRUE(Has(lines, "13 0 1")) << all;
    EXPECT_TRUE(Has(lines, "22 -1 209 : Not designed to run on this platform.")) << all;
    EXPECT_TRUE(Has(lines, "5 -1 205: Invalid parameter type. ")) << all;
    EXPECT_TRUE(Has(lines, "5 -1 209 : Not designed to run on this platform.")) << all;
    EXPECT_TRUE(Has(lines, "7 -1 205: Invalid parameter type. ")) << all;
    EXPECT_TRUE(Has(lines, "7 -1 209 : Not designed to run on this platform.")) << all;
    // The Toolhelp walk counts and lists the processes by file name.
    int count = -1;
    std::string list;
    for (const std::string& l : lines) {
        if (l.rfind("6 0 ", 0) == 0) count = atoi(l.c_str() + 4);
        if (l.rfind("2 0 ", 0) == 0) list = l.substr(4);
    }
    EXPECT_GT(count, 0) << all;
    ASSERT_FALSE(list.empty()) << all;
    bool self = false;
    for (const std::string& item : Split(list, '\t')) {
        auto parts = Split(item, '|');
        ASSERT_EQ(parts.size(), 2u) << item;
        EXPECT_EQ(parts[0].find('\\'), std::string::npos) << "file name only: " << item;
        self |= parts[0] == "platchild_win98.exe";
    }
    EXPECT_TRUE(self) << list;
}

// The Toolhelp walk stores the last-error code after the snapshot and after
// the first entry, on success too: a code saved before is replaced.
TEST(Platforms, Win98ListProcStoresTheSnapshotsLastErrorEvenOnSuccess) {
    auto lines = RunAs("win98", {"12:abc", "2", "14"});
    const std::string all = Joined(lines);
    ASSERT_TRUE(Has(lines, "12 -1 229: tCloseProc failed.")) << all;  // saves 6
    EXPECT_TRUE(Has(lines, "14 0 0")) << all;
}

TEST(Platforms, Win98ListsModulesWithTheirIdentifiers) {
    // The module snapshot's last-error code replaces a code saved before.
    auto lines = RunAs("win98", {"12:abc", "4:0:2", "14", "4:0:0", "4:0:7"});
    const std::string all = Joined(lines);
    // Process id 0 is the caller itself for a Toolhelp module snapshot.
    std::string numbers, paths;
    for (const std::string& l : lines) {
        if (l.rfind("4 0 ", 0) == 0 && numbers.empty()) numbers = l.substr(4);
        else if (l.rfind("4 0 ", 0) == 0) paths = l.substr(4);
    }
    ASSERT_FALSE(numbers.empty()) << all;
    for (const std::string& n : Split(numbers, '\t')) {
        EXPECT_FALSE(n.empty()) << all;
        EXPECT_EQ(n.find_first_not_of("-0123456789"), std::string::npos) << n;
    }
    ASSERT_FALSE(paths.empty()) << all;
    EXPECT_NE(paths.find("platchild_win98.exe|"), std::string::npos) << paths;
    EXPECT_TRUE(Has(lines, "4 -1 203: Invalid flag(s) specified.")) << all;
    EXPECT_TRUE(Has(lines, "14 0 0")) << all;
}

TEST(Platforms, Win31RefusesTheLoad) {
    auto lines = RunAs("win31", {});
    EXPECT_TRUE(Has(lines, "load 0")) << Joined(lines);
}
