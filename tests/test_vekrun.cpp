// vekrun as a person uses it.
#include <gtest/gtest.h>

#include <stdio.h>

#include <functional>

#include <nlohmann/json.hpp>

#include "host.h"

using namespace test;

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

}  // namespace

TEST(Vekrun, OneCallPrintsItsResult) {
    std::string out, err;
    EXPECT_EQ(Vekrun("tVersion", &out), 0u);
    EXPECT_EQ(Lines(out), "44017\n");
    out.clear();
    EXPECT_EQ(Vekrun("TCOMPATIBLE", &out), 0u);
    EXPECT_EQ(Lines(out), "1\n");
    out.clear();
    EXPECT_EQ(Vekrun("@true", &out), 0u);
    EXPECT_EQ(Lines(out), "1\n");
}

TEST(Vekrun, AFailingCallPrintsItsMessageOnStderrAndExits1) {
    std::string out, err;
    EXPECT_EQ(Vekrun("tCloseProc abc", &out, &err), 1u);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Lines(err), "229: tCloseProc failed.\n");
}

TEST(Vekrun, BadUsageExits64) {
    std::string out, err;
    EXPECT_EQ(Vekrun("", &out, &err), 64u);
    EXPECT_NE(err.find("usage:"), std::string::npos);
    EXPECT_EQ(Vekrun("tNoSuchKeyword", &out, &err), 64u);
    EXPECT_EQ(Vekrun("tVersion extra", &out, &err), 64u);
    EXPECT_EQ(Vekrun("--bogus", &out, &err), 64u);
    out.clear();
    EXPECT_EQ(Vekrun("--help", &out, &err), 0u);
    EXPECT_NE(out.find("--script"), std::string::npos);
}

TEST(Vekrun, KeywordsPrintsTheEnumeratedTable) {
    std::string out;
    ASSERT_EQ(Vekrun("--keywords", &out), 0u);
    auto lines = Split(Lines(out), '\n');
    ASSERT_EQ(lines.size(), 21u) << out;  // heading, 19 rows, final empty
    EXPECT_EQ(lines[1], "   1  function      0  tversion");
    EXPECT_EQ(lines[10], "  10  constant      1  @true");
    EXPECT_EQ(lines[19], "  26  function      1  tparsecntrpath");
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

TEST(Vekrun, ListSplitsItemsIntoAlignedColumns) {
    std::string out;
    ASSERT_EQ(Vekrun("--list tListMod " + std::to_string(GetCurrentProcessId()) + " 0", &out), 0u);
    auto lines = Split(Lines(out), '\n');
    ASSERT_GT(lines.size(), 2u);
    const size_t column = lines[0].find_last_of(' ');
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find_last_of(' '), column) << lines[i];
        EXPECT_TRUE(IsUnsignedNumber(lines[i].substr(column + 1))) << lines[i];
    }
}

TEST(Vekrun, AnOldHostVersionIsRefused) {
    std::string out, err;
    EXPECT_EQ(Vekrun("--host-version 1003 tVersion", &out, &err), 3u);
    EXPECT_NE(err.find("Need newer version of VEK DLL"), std::string::npos) << err;
}

// Named fields, JSON parsed back, CSV rows and the argument count, one
// table: arguments, exit status, what the output must hold.
TEST(Vekrun, NamedFieldsJsonCsvAndArgumentCounts) {
    using nlohmann::json;
    const std::string pid = std::to_string(GetCurrentProcessId());
    std::string modules;
    ASSERT_EQ(Vekrun("tListMod " + pid + " 2", &modules), 0u);
    const std::string module = Split(Lines(modules), '\t')[0];
    const std::vector<std::string> memory = {
        "PageFaultCount", "PeakWorkingSetSize", "WorkingSetSize", "QuotaPeakPagedPoolUsage",
        "QuotaPagedPoolUsage", "QuotaPeakNonPagedPoolUsage", "QuotaNonPagedPoolUsage",
        "PagefileUsage", "PeakPagefileUsage"};
    auto names = [](const std::string& out) {
        std::vector<std::string> fields;
        for (const std::string& line : Split(Lines(out), '\n')) {
            if (!line.empty()) fields.push_back(line.substr(0, line.find(' ')));
        }
        return fields;
    };
    struct Row {
        std::string args;
        DWORD exit;
        std::function<void(const std::string& out, const std::string& err)> check;
    } rows[] = {
        {"--list tGetProcInfo " + pid, 0, [&](const std::string& out, const std::string&) {
             EXPECT_EQ(names(out), memory) << out;
             EXPECT_NE(out.find("WorkingSetSize              "), std::string::npos) << "aligned";
         }},
        {"--list tGetModInfo " + pid + " " + module, 0, [&](const std::string& out, const std::string&) {
             EXPECT_EQ(names(out), (std::vector<std::string>{"BaseOfDll", "SizeOfImage", "EntryPoint"}));
             EXPECT_EQ(Split(Lines(out), '\n')[0], "BaseOfDll    " + module);
         }},
        {"tOpenProc", 64, [](const std::string& out, const std::string& err) {
             EXPECT_EQ(out, "");
             EXPECT_EQ(Lines(err), "vekrun: topenproc takes 2 arguments, not 0\n");
         }},
        {"tGetData x", 64, [](const std::string&, const std::string& err) {
             EXPECT_NE(err.find("takes 2 arguments, not 1"), std::string::npos) << err;
         }},
        {"--raw tCloseProc", 1, [](const std::string&, const std::string& err) {
             EXPECT_EQ(Lines(err), "229: tCloseProc failed.\n") << "passed on with no argument";
         }},
        {"--json tVersion", 0, [](const std::string& out, const std::string&) {
             EXPECT_EQ(json::parse(out), 44017);
         }},
        {"--json tCloseProc abc", 1, [](const std::string& out, const std::string& err) {
             EXPECT_EQ(json::parse(out), json::parse(R"({"error": 229, "message": "229: tCloseProc failed."})"));
             EXPECT_EQ(err, "");
         }},
        {"--json tGetProcInfo " + pid, 0, [&](const std::string& out, const std::string&) {
             json record = json::parse(out);
             ASSERT_EQ(record.size(), memory.size()) << out;
             for (const std::string& field : memory) EXPECT_TRUE(record[field].is_number_unsigned()) << field;
             EXPECT_LE(record["WorkingSetSize"], record["PeakWorkingSetSize"]);
         }},
        {"--json tListMod " + pid + " 0", 0, [&](const std::string& out, const std::string&) {
             json list = json::parse(out);
             char self[MAX_PATH];
             GetModuleFileNameA(nullptr, self, MAX_PATH);
             ASSERT_GT(list.size(), 2u) << out;
             EXPECT_EQ(list[0]["path"], self);
             EXPECT_EQ(list[0]["module"].dump(), module);
         }},
        {"--json tListMod " + pid + " 2", 0, [&](const std::string& out, const std::string&) {
             json list = json::parse(out);
             EXPECT_EQ(list[0], json::parse("{\"module\": " + module + "}"));
         }},
        {"--json tListProc", 1, [](const std::string& out, const std::string&) {
             EXPECT_EQ(json::parse(out)["error"], 213);
         }},
        {"--every 0.05 --samples 3 --csv tGetLastError", 0, [](const std::string& out, const std::string&) {
             const auto lines = Split(Lines(out), '\n');
             ASSERT_EQ(lines.size(), 5u) << out;
             EXPECT_EQ(lines[0], "\"time\",\"tGetLastError\"");
             for (int i = 1; i <= 3; ++i) {
                 EXPECT_EQ(lines[i].size(), 29u) << lines[i];  // "YYYY-MM-DDTHH:MM:SS.mmm","0"
                 EXPECT_EQ(lines[i].substr(11, 1) + lines[i].substr(24), "T\",\"0\"") << lines[i];
             }
         }},
        {"--every 0.05 --samples 2 --csv tCloseProc 0", 1, [](const std::string& out, const std::string&) {
             const auto lines = Split(Lines(out), '\n');
             ASSERT_EQ(lines.size(), 4u) << out;
             EXPECT_EQ(lines[2].substr(26), "\"229: tCloseProc failed.\"") << "the message in the row";
         }},
        {"--csv tVersion", 64, [](const std::string&, const std::string& err) {
             EXPECT_NE(err.find("--every"), std::string::npos);
         }},
    };
    for (const Row& row : rows) {
        std::string out, err;
        EXPECT_EQ(Vekrun(row.args, &out, &err), row.exit) << row.args << "\n" << out << err;
        row.check(out, err);
    }

    // A path above 0x7F in the ANSI code page arrives as UTF-8.
    const std::string copy = Directory() + "vekrun_\xE8.exe";
    ASSERT_TRUE(CopyFileA((Directory() + "vekrun.exe").c_str(), copy.c_str(), FALSE));
    std::string out;
    EXPECT_EQ(test::Run("\"" + copy + "\" --dll \"" + Directory() + "vekproc.dll\" --json tListMod $PID 1", &out), 0u);
    DeleteFileA(copy.c_str());
    ASSERT_EQ(GetACP(), 1252u);
    const std::string first = json::parse(out)[0]["path"];
    EXPECT_EQ(first.substr(first.size() - 13), "vekrun_\xC3\xA8.exe");
}
