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

}  // namespace

// Each pose's whole output: the load, initialise and which libraries it
// loaded, one line a call, what terminate left loaded. Every version Wine
// poses, from Windows 2.0 to 10: 64-bit code meets NT 5.2 and later; the
// older ones are the probe's.
constexpr char kPosed[] = "each Windows version is posed through Wine's AppDefaults";

TEST(Platforms, EachWindowsVersionGivesItsWholeOutput) {
    VEK_UNDER_WINE_ONLY(kPosed);
    const std::string self = std::to_string(GetCurrentProcessId());
    const std::string no = " -1 209 : Not designed to run on this platform.";
    const std::string bad = " -1 205: Invalid parameter type. ", flags = " -1 203: Invalid flag(s) specified.";
    const std::string noKernel = " -1 238: Could not load Kernel32.dll", old = " -1 208: May need newer version of PSAPI.DLL";
    const std::string newer = "24:" + self + ":16384", normal = "24:" + self + ":32";
    struct { const char* version; std::vector<std::string> calls, lines; } rows[] = {
        {"win20 win30 win31", {}, {"load 0"}},
        // Windows 98: Toolhelp only, the snapshots' code replacing a saved one
        // (a failed snapshot's kept, and given once), and no below- or
        // above-normal class, as on NT 4.
        {"win95 win98 winme", {"13", "22:\\System\\System Up Time:0", "5:abc", "5:12", "7:x:0", "7:12:0", "12:abc", "2",
                   "14", "12:abc", "4:0:2", "14", "4:0:7", newer, "14", "4:12345:0", "14", "14", "6"},
         {"load 1", "init 19", "psapi 0", "pdh 0", "13 0 1", "22" + no, "5" + bad, "5" + no, "7" + bad, "7" + no,
          "12 -1 229: tCloseProc failed.", "snapshot 2 0", "2 0 *", "14 0 0", "12 -1 229: tCloseProc failed.",
          "snapshot 8 0", "4 0 *", "14 0 0", "snapshot 8 0", "4" + flags, "24" + flags, "14 0 0", "snapshot 8 12345",
          "4 -1 200: tListProc Failed.", "14 0 87", "14 0 0", "snapshot 2 0", "6 0 *", "after 0 0"}},
        // Windows 98 without Toolhelp, or with a Toolhelp that lacks a function:
        // the platform checks come before the arguments are looked at.
        {"win98", {"-without:Kernel32.DLL", "13", "2", "6", "4:0:0", "7:x:0", "5:1"},
         {"load 1", "init 19", "psapi 0", "pdh 0", "13 0 1", "2" + noKernel, "6" + noKernel, "4" + noKernel,
          "7" + no, "5" + no, "after 0 0"}},
        {"win98", {"-without:Module32Next", "2", "6", "4:0:0", "7:x:0", "5:1"},
         {"load 1", "init 19", "psapi 0", "pdh 0", "2" + old, "6" + old, "4" + old, "7" + old, "5" + old, "after 0 0"}},
        // NT 3.51 loads nothing; tGetPriority alone has no platform check.
        {"nt351", {"13", "9:-1", "3:1:0", "12:0", "2", "6", "22:x:0", "5:1", "25:99999999"},
         {"load 1", "init 19", "psapi 0", "pdh 0", "13 0 0", "9" + no, "3" + no, "12" + no, "2" + no, "6" + no,
          "22" + no, "5" + no, "25 -1 201: Open Process Failed", "after 0 0"}},
        // NT 4 knows no below- or above-normal class.
        {"nt40", {"13", newer, "24:" + self + ":32768", normal},
         {"load 1", "init 19", "psapi 1", "pdh 1", "13 0 1", "24" + flags, "24" + flags, "24 0 1", "after 0 0"}},
        {"win2k winxp winxp64 win2003 vista win2008 win7 win2008r2 win8 win81 win10", {"13", newer, normal},
         {"load 1", "init 19", "psapi 1", "pdh 1", "13 0 1", "24 0 1", "24 0 1", "after 0 0"}},
        // The limited right for a priority, where the full one is refused: from Vista on.
        {"nt40 win2k win2003", {"-deny:1024", "25:" + self, "14"},
         {"load 1", "init 19", "psapi 1", "pdh 1", "open 1024", "25 -1 202: Could not open process. Access denied.",
          "14 0 5", "after 0 0"}},
        {"vista win10", {"-deny:1024", "25:" + self}, {"load 1", "init 19", "psapi 1", "pdh 1", "open 1024", "open 4096", "25 0 32", "after 0 0"}},
        // The memory figures likewise; and all access, which before Vista is the
        // mask without Vista's bits (0x1F0FFF), as those systems refuse the rest.
        {"winxp64 win2003", {"-deny:1040", "5:" + self, "3:" + self + ":1"},
         {"load 1", "init 19", "psapi 1", "pdh 1", "open 1040", "5 -1 202: Could not open process. Access denied.",
          "open 2035711", "3 0 *", "after 0 0"}},
        {"vista win10", {"-deny:1040", "5:" + self, "3:" + self + ":1"},
         {"load 1", "init 19", "psapi 1", "pdh 1", "open 1040", "open 4096", "5 0 *", "open 2097151", "3 0 *", "after 0 0"}},
    };
    for (const auto& row : rows) {
        for (const std::string& version : Split(row.version, ' ')) {
            const auto lines = RunAs(version, row.calls);
            ASSERT_EQ(lines.size(), row.lines.size()) << version << "\n" << testing::PrintToString(lines);
            for (size_t i = 0; i < lines.size(); ++i) {
                const std::string& want = row.lines[i];
                const size_t compared = want.back() == '*' ? want.size() - 1 : std::string::npos;
                EXPECT_EQ(lines[i].substr(0, compared), want.substr(0, compared)) << version << " line " << i;
            }
        }
    }
}

// The Toolhelp walks count and list the same processes by file name, and
// list this process's modules with their identifiers.
TEST(Platforms, Win98CountsWhatItListsAndListsModules) {
    VEK_UNDER_WINE_ONLY(kPosed);
    const auto lines = RunAs("win98", {"6", "2", "4:0:2", "4:0:0"});
    ASSERT_EQ(lines.size(), 13u) << testing::PrintToString(lines);
    const auto items = Split(lines[7].substr(4), '\t');
    EXPECT_EQ(lines[5], "6 0 " + std::to_string(items.size())) << testing::PrintToString(lines);
    bool self = false;
    for (const std::string& item : items) {
        const auto parts = Split(item, '|');
        ASSERT_EQ(parts.size(), 2u) << item;
        EXPECT_EQ(parts[0].find('\\'), std::string::npos) << "file name only: " << item;
        self |= parts[0] == "platchild_win98.exe";
    }
    EXPECT_TRUE(self) << lines[7];
    const auto numbers = Split(lines[9].substr(4), '\t');
    for (const std::string& n : numbers) EXPECT_TRUE(!n.empty() && n.find_first_not_of("-0123456789") == std::string::npos) << n;
    const auto modules = Split(lines[11].substr(4), '\t');
    ASSERT_EQ(modules.size(), numbers.size());
    EXPECT_EQ(modules[0].substr(modules[0].rfind('\\') + 1), "platchild_win98.exe|" + numbers[0]);
}
