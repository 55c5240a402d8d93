// vekrun as a person uses it.
#include <gtest/gtest.h>

#include <stdio.h>

#include <nlohmann/json.hpp>

#include "host.h"

using namespace test;
using nlohmann::json;

namespace {

DWORD Vekrun(const std::string& args, std::string* out, std::string* err = nullptr) {
    return Run("\"" + Directory() + "vekrun.exe\" " + args, out, err);
}

std::string Lines(std::string text) {
    std::string clean;
    for (char c : text) {
        if (c != '\r') clean += c;
    }
    return clean;
}

// "$PID" and "$MODULE" in a row stand for this process and its first module.
std::string Fill(std::string text, const std::string& pid, const std::string& module) {
    for (size_t at; (at = text.find("$PID")) != std::string::npos;) text.replace(at, 4, pid);
    for (size_t at; (at = text.find("$MODULE")) != std::string::npos;) text.replace(at, 7, module);
    return text;
}

}  // namespace

// Each row: the arguments, the exit status, and what stdout and stderr must
// be: the exact text, or with a leading '~' a part of it; stdout may be
// given as JSON instead, compared as values.
TEST(Vekrun, CallsOptionsAndOutputFormsByTheirRows) {
    const std::string pid = std::to_string(GetCurrentProcessId());
    std::string modules;
    ASSERT_EQ(Vekrun("tListMod " + pid + " 2", &modules), 0u);
    const std::string module = Split(Lines(modules), '\t')[0];
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string selfJson = json(std::string(self)).dump();
    struct { const char* args; DWORD exit; std::string out, err, json; } rows[] = {
        {"tVersion", 0, "44017\n", ""},
        {"TCOMPATIBLE", 0, "1\n", ""},
        {"@true", 0, "1\n", ""},
        {"tCloseProc abc", 1, "", "229: tCloseProc failed.\n"},
        {"", 64, "", "~usage:"},
        {"tNoSuchKeyword", 64, "", "vekrun: no keyword 'tNoSuchKeyword' (vekrun --keywords lists them)\n"},
        {"tVersion extra", 64, "", "vekrun: tversion takes 0 arguments, not 1\n"},
        {"tOpenProc", 64, "", "vekrun: topenproc takes 2 arguments, not 0\n"},
        {"tGetData x", 64, "", "vekrun: tgetdata takes 2 arguments, not 1\n"},
        {"--bogus", 64, "", "~--bogus"},
        {"--help", 0, "~--script", ""},
        {"--host-version 1003 tVersion", 3, "", "~Need newer version of VEK DLL"},
        {"--raw tCloseProc", 1, "", "229: tCloseProc failed.\n"},
        {"--csv tVersion", 64, "", "~--every"},
        {"--keywords", 0, "~   1  function      0  tversion\n", ""},
        {"--keywords", 0, "~  10  constant      1  @true\n", ""},
        {"--keywords", 0, "~  26  function      1  tparsecntrpath\n", ""},
        {"--list tGetModInfo $PID $MODULE", 0, "~BaseOfDll    $MODULE\nSizeOfImage  ", ""},
        {"--list tGetProcInfo $PID", 0, "~\nWorkingSetSize              ", ""},
        {"--json tVersion", 0, "", "", "44017"},
        {"--json tCloseProc abc", 1, "", "", R"({"error": 229, "message": "229: tCloseProc failed."})"},
        {"--json tListProc", 1, "", "", R"({"error": 213, "message": "213: Cannot retrieve counter index."})"},
        {"--json tListMod $PID 2", 0, "~[{\"module\": $MODULE}, {\"module\": ", ""},
        {"--json tListMod $PID 0", 0, "~[{\"path\": " + selfJson + ", \"module\": $MODULE}, ", ""},
    };
    for (const auto& row : rows) {
        const std::string args = Fill(row.args, pid, module);
        std::string out, err;
        EXPECT_EQ(Vekrun(args, &out, &err), row.exit) << args << "\n" << out << err;
        out = Lines(out);
        err = Lines(err);
        if (!row.json.empty()) {
            EXPECT_EQ(json::parse(out), json::parse(row.json)) << args;
        } else if (row.out[0] == '~') {
            EXPECT_NE(out.find(Fill(row.out.substr(1), pid, module)), std::string::npos) << args << "\n" << out;
        } else {
            EXPECT_EQ(out, row.out) << args;
        }
        if (row.err[0] == '~') {
            EXPECT_NE(err.find(row.err.substr(1)), std::string::npos) << args << "\n" << err;
        } else {
            EXPECT_EQ(err, row.err) << args;
        }
    }

    // Named fields: every memory figure, aligned, and the same in JSON.
    const std::vector<std::string> memory = {
        "PageFaultCount", "PeakWorkingSetSize", "WorkingSetSize", "QuotaPeakPagedPoolUsage",
        "QuotaPagedPoolUsage", "QuotaPeakNonPagedPoolUsage", "QuotaNonPagedPoolUsage",
        "PagefileUsage", "PeakPagefileUsage"};
    std::string out;
    ASSERT_EQ(Vekrun("--list tGetProcInfo " + pid, &out), 0u);
    auto lines = Split(Lines(out), '\n');
    ASSERT_EQ(lines.size(), memory.size() + 1) << out;
    for (size_t i = 0; i < memory.size(); ++i) EXPECT_EQ(lines[i].substr(0, lines[i].find(' ')), memory[i]);
    out.clear();
    ASSERT_EQ(Vekrun("--json tGetProcInfo " + pid, &out), 0u);
    const json record = json::parse(out);
    ASSERT_EQ(record.size(), memory.size()) << out;
    for (const std::string& field : memory) EXPECT_TRUE(record[field].is_number_unsigned()) << field;

    // --list puts every item's number in one column.
    out.clear();
    ASSERT_EQ(Vekrun("--list tListMod " + pid + " 0", &out), 0u);
    lines = Split(Lines(out), '\n');
    ASSERT_GT(lines.size(), 2u);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find_last_of(' '), lines[0].find_last_of(' ')) << lines[i];
        EXPECT_TRUE(IsUnsignedNumber(lines[i].substr(lines[0].find_last_of(' ') + 1))) << lines[i];
    }

    // Sampling to CSV: a header, one row a sample, a failure's message in its row.
    out.clear();
    ASSERT_EQ(Vekrun("--every 0.05 --samples 3 --csv tGetLastError", &out), 0u);
    lines = Split(Lines(out), '\n');
    ASSERT_EQ(lines.size(), 5u) << out;
    EXPECT_EQ(lines[0], "\"time\",\"tGetLastError\"");
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(lines[i].size(), 29u) << lines[i];  // "YYYY-MM-DDTHH:MM:SS.mmm","0"
        EXPECT_EQ(lines[i].substr(11, 1) + lines[i].substr(24), "T\",\"0\"") << lines[i];
    }
    out.clear();
    EXPECT_EQ(Vekrun("--every 0.05 --samples 2 --csv tCloseProc 0", &out), 1u);
    lines = Split(Lines(out), '\n');
    ASSERT_EQ(lines.size(), 4u) << out;
    EXPECT_EQ(lines[2].substr(26), "\"229: tCloseProc failed.\"");

    // A path above 0x7F in the ANSI code page arrives as UTF-8.
    const std::string copy = Directory() + "vekrun_\xE8.exe";
    ASSERT_TRUE(CopyFileA((Directory() + "vekrun.exe").c_str(), copy.c_str(), FALSE));
    out.clear();
    EXPECT_EQ(test::Run("\"" + copy + "\" --dll \"" + Directory() + "vekproc.dll\" --json tListMod $PID 1", &out), 0u);
    DeleteFileA(copy.c_str());
    ASSERT_EQ(GetACP(), 1252u);
    const std::string first = json::parse(out)[0]["path"];
    EXPECT_EQ(first.substr(first.size() - 13), "vekrun_\xC3\xA8.exe");
}

TEST(Vekrun, AScriptRunsLineByLineAndStopsAtTheFirstFailure) {
    const std::string file = Directory() + "vekrun_test.vek";
    FILE* f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("# comment\n\ntVersion\ntGetData \"\\System\\System Up Time\" 2\ntCompatible\n", f);
    fclose(f);
    std::string out, err;
    EXPECT_EQ(Vekrun("--script \"" + file + "\"", &out, &err), 1u);
    EXPECT_EQ(Lines(out), "> tVersion\n44017\n> tGetData \"\\System\\System Up Time\" 2\n");
    EXPECT_EQ(Lines(err), "203: Invalid flag(s) specified.\n");

    out.clear();
    err.clear();
    EXPECT_EQ(Vekrun("--keep-going --script \"" + file + "\"", &out, &err), 1u);
    EXPECT_NE(Lines(out).find("> tCompatible\n1\n"), std::string::npos) << out;
    DeleteFileA(file.c_str());
}
