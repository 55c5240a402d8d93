// vekrun as a person uses it.
#include <gtest/gtest.h>

#include <stdio.h>

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
