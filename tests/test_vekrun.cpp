// vekrun as a person uses it.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "host.h"

using namespace test;
using nlohmann::json;

namespace {

DWORD Vekrun(const std::string& args, std::string* out, std::string* err = nullptr) {
    return Run("\"" + Directory() + "vekrun.exe\" " + args, out, err);
}

std::string Lines(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// "$PID" and "$MODULE" in a row stand for this process and its first
// module, "$S0" to "$S7" for the scripts.
std::string Fill(std::string text, const std::string& pid, const std::string& module) {
    for (size_t at; (at = text.find("$PID")) != std::string::npos;) text.replace(at, 4, pid);
    for (size_t at; (at = text.find("$MODULE")) != std::string::npos;) text.replace(at, 7, module);
    for (size_t at; (at = text.find("$S")) != std::string::npos;) {
        text.replace(at, 3, "\"" + Directory() + "vekrun_" + text[at + 2] + ".vek\"");
    }
    return text;
}

// A line in UTF-16, little- or big-endian, after its byte-order mark.
std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) out += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
    return out;
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
    const std::string scripts[] = {
        "# comment\n\ntVersion\ntGetData \"\\System\\System Up Time\" 2\ntCompatible\n",
        "tGetData \"" + std::string(8990, 'x') + "\" 0\n",  // 9,000 characters: one call
        "\xEF\xBB\xBFtVersion\r\n", Utf16("tVersion\r\n", false), Utf16("tVersion\r\n", true),
        "\"t\"\"x\"\n",  // "" inside quotes is one quote
        "tVersion \"abc\ntCompatible\n", "\xEF\xBB\xBF\xC3\xA9\n",  // a line of one character, not ASCII
    };
    for (size_t i = 0; i < 8; ++i) ASSERT_TRUE(Save(Directory() + "vekrun_" + std::to_string(i) + ".vek", scripts[i]));
    const std::string kTry = "\nTry 'vekrun --help'.\n";
    const std::string k203 = "{\"error\": 203, \"message\": \"203: Invalid flag(s) specified.\"}";
    struct { std::string args; DWORD exit; std::string out, err, json; } rows[] = {
        {"tVersion", 0, "44017\n", ""},
        {"TCOMPATIBLE", 0, "1\n", ""},
        {"@true", 0, "1\n", ""},
        {"tCloseProc -4", 1, "", "229: tCloseProc failed.\n"},  // a negative number is an argument
        {"", 64, "", "vekrun: no keyword given" + kTry},
        {"tNoSuchKeyword", 64, "", "vekrun: no keyword 'tNoSuchKeyword' (vekrun --keywords lists them)" + kTry},
        {"tVersion extra", 64, "", "vekrun: tversion takes 0 arguments, not 1" + kTry},
        {"tOpenProc", 64, "", "vekrun: topenproc takes 2 arguments, not 0" + kTry},
        {"tGetData x", 64, "", "vekrun: tgetdata takes 2 arguments, not 1" + kTry},
        {"--bogus", 64, "", "vekrun: unknown option --bogus" + kTry},
        {"--help", 0, "~--script", ""},
        {"--host-version 1003 tVersion", 3, "", "~Need newer version of VEK DLL"},
        {"--raw tCloseProc", 1, "", "229: tCloseProc failed.\n"},
        {"--csv tVersion", 64, "", "~--every"},
        {"--keywords", 0, "~  id  kind      args  value  name\n   1  function     0         tversion\n", ""},
        {"--keywords", 0, "~  10  constant            1  @true\n", ""},
        {"--keywords", 0, "~  26  function     1         tparsecntrpath\n", ""},
        // Problems with options name the options.
        {"--dll", 64, "", "vekrun: --dll needs the extender's path" + kTry},
        {"--host-version abc tVersion", 64, "", "vekrun: --host-version takes a whole number from 0 to 4294967295, not 'abc'" + kTry},
        {"--every 1 --script x", 64, "", "vekrun: --every and --script cannot go together: --every samples one keyword call" + kTry},
        {"--keywords --about", 64, "", "vekrun: --keywords and --about cannot go together" + kTry},
        {"--every 0 tVersion", 64, "", "vekrun: --every takes a number of seconds above 0 and at most 86400, not '0'" + kTry},
        {"--every 86400 --samples 1 tVersion", 0, "44017\n", ""},
        {"--every 1 --samples 1a tVersion", 64, "", "vekrun: --samples takes a count of 1 or more, not '1a'" + kTry},
        {"--dll nothere\xE9.dll tVersion", 3, "", "~vekrun: cannot load nothere\xE9.dll: "},  // ANSI bytes, redirected
        {"--dll nothere.dll tVersion", 3, "", "~ found (error 126)\n"},  // the system's text without its ending
        {"--json --bogus", 64, "", "vekrun: unknown option --bogus\n", R"({"error": "usage", "message": "unknown option --bogus"})"},
        // Scripts: stopped at a failure or kept going, every stdout line JSON
        // with --json, any length, UTF-8 and UTF-16, "" in quotes, a line refused whole.
        {"--script $S0", 1, "> tVersion\n44017\n> tGetData \"\\System\\System Up Time\" 2\n", "203: Invalid flag(s) specified.\n"},
        {"--keep-going --script $S0", 1, "~> tCompatible\n1\n", "203: Invalid flag(s) specified.\n"},
        {"--json --keep-going --script $S0", 1, "", "~> tCompatible\n", "44017\n" + k203 + "\n1"},
        {"--json --script $S1", 1, "", "~> tGetData", R"({"error": 222, "message": "222: Invalid Counter Name."})"},
        {"--json --script $S2", 0, "", "> tVersion\n", "44017"},
        {"--json --script $S3", 0, "", "> tVersion\n", "44017"},
        {"--json --script $S4", 0, "", "> tVersion\n", "44017"},
        {"--json --script $S5", 64, "", "~no keyword 't\"x'", R"j({"error": "usage", "message": "no keyword 't\"x' (vekrun --keywords lists them)"})j"},
        {"--script $S6", 64, "", "~vekrun_6.vek:1: a double quote is not closed\n"},
        {"--script $S7", 64, "> \xE9\n", "vekrun: no keyword '\xE9' (vekrun --keywords lists them)" + kTry},
        // Sampling: a failing sample's value is empty, its message on stderr;
        // the column is the counter path, or the call; UTF-8.
        {"--every 0.05 --samples 1 --csv tGetData \"\\System\\System Up Time\" 0", 0, "~\"time\",\"\\System\\System Up Time\"\n", ""},
        {"--every 0.05 --samples 2 --csv tCloseProc \xE9", 1, "~\"time\",\"tCloseProc \xC3\xA9\"\n\"", "~ 229: tCloseProc failed.\n"},
        {"--every 0.05 --samples 2 --csv tCloseProc 0", 1, "~\",\"\"\n", "~ 229: tCloseProc failed.\n"},
        {"--doctor", 1, "~counter names     PROBLEM: the English counter-name list (2 names) lacks \"Process\"", ""},
        {"--json --doctor", 1, "~, {\"check\": \"pdh\", \"ok\": false, \"detail\": \"\\\\System\\\\System Up Time reads ", ""},
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
            const auto lines = Split(out, '\n'), values = Split(row.json, '\n');
            ASSERT_EQ(lines.size(), values.size() + 1) << args << "\n" << out;
            for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(json::parse(lines[i]), json::parse(values[i])) << args;
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

    for (int i = 0; i < 8; ++i) DeleteFileA((Directory() + "vekrun_" + std::to_string(i) + ".vek").c_str());

    // --list puts every item's number in one column.
    std::string out;
    ASSERT_EQ(Vekrun("--list tListMod " + pid + " 0", &out), 0u);
    const auto lines = Split(Lines(out), '\n');
    ASSERT_GT(lines.size(), 2u);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find_last_of(' '), lines[0].find_last_of(' ')) << lines[i];
        EXPECT_TRUE(IsUnsignedNumber(lines[i].substr(lines[0].find_last_of(' ') + 1))) << lines[i];
    }

    // A copy beside the PDH double, without the manifest that would make it its own, and a
    // current directory with vekproc.dll: the planted PDH.DLL (which refuses to load) is not the
    // doctor's, and the current directory's extender is not the one vekrun loads.
    const std::string copy = Directory() + "pdh_full\\vekrun.exe";
    ASSERT_TRUE(CopyFileA((Directory() + "vekrun.exe").c_str(), copy.c_str(), FALSE));
    SetEnvironmentVariableA("PDH_DOUBLE_REFUSE_LOAD", "1");
    EXPECT_EQ(test::Run("\"" + copy + "\" --dll \"" + Directory() + "vekproc.dll\" --doctor", &out), 1u);
    EXPECT_NE(out.find("libraries         ok: PSAPI.DLL and PDH.DLL have every entry point"), std::string::npos) << out;
    SetEnvironmentVariableA("PDH_DOUBLE_REFUSE_LOAD", nullptr);
    SetCurrentDirectoryA(Directory().c_str());
    EXPECT_EQ(test::Run("\"" + copy + "\" tVersion", &out), 3u) << out;
    DeleteFileA(copy.c_str());
}

// vekrun on a terminal, where Wine gives it a real console (ctest runs this through
// script(1)), in code page 850: "ö" (0xF6 in the ANSI code page) written as bytes shows
// as "÷". Wine's msvcrt converts bytes to a console as Latin-1, where Windows' does not:
// the euro sign (0x80) shows only when vekrun converts them itself, from ANSI text and
// from JSON's UTF-8. A long line goes in pieces (stderr redirected), never between the halves of
// a pair where a manifest makes the ANSI code page UTF-8. Sampling ends at Ctrl+C, exit 0. The PDH
// double beside the copy serves Windows' console: no flags on UTF-8, a Ctrl+C left ends the process,
// a pair written in two halves shows as two U+FFFD.
constexpr char kUtf8Setting[] = "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
    "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage></windowsSettings></application>";
TEST(Console, TextShowsRightInTheConsolesOwnCodePage) {
    HANDLE screen = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, done, cells = 100 * 150;
    ASSERT_TRUE(GetConsoleMode(screen, &mode)) << "not on a console";
    ASSERT_EQ(GetACP(), 1252u);
    ASSERT_TRUE(SetConsoleOutputCP(850));
    ASSERT_TRUE(SetConsoleScreenBufferSize(screen, {100, 150}));
    SetEnvironmentVariableA("PDH_DOUBLE_WINDOWS_CONSOLE", "1");
    const std::string copy = Directory() + "pdh_full\\vekrun_\xF6\x80.exe", script = Directory() + "vekrun_long.vek";
    ASSERT_TRUE(CopyBesideDouble(copy));
    // In UTF-8, the echo's units 8,191 and 8,192 are an astral character's halves, across the end of a piece.
    ASSERT_TRUE(Save(script, "tGetData \"" + std::string(8179, 'x') + "\xF0\x9F\x98\x80\" 0\n"));
    const std::string dll = " --dll \"" + Directory() + "vekproc.dll\" ";
    const struct { std::string args; std::wstring shown; bool first, quiet, interrupted = false, utf8 = false; } rows[] = {
        {dll + "tListMod $PID 1", L"vekrun_\u00F6\u20AC.exe", false, false},
        {dll + "--json tListMod $PID 1", L"vekrun_\u00F6\u20AC.exe", false, false},
        {" --dll J\xF6\x80rg.dll tVersion", L"vekrun: cannot load J\u00F6\u20ACrg.dll", true, false},
        {dll + "--script \"" + script + "\"", L"> tGetData \"" + std::wstring(8179, L'x') + L"\u00F0\u0178\u02DC\u20AC\" 0", true, true},
        {dll + "--script \"" + script + "\"", L"> tGetData \"" + std::wstring(8179, L'x') + L"\U0001F600\" 0", true, true, false, true},
        {dll + "--every 0.05 tVersion", L"44017", true, false, true},
    };
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    for (const auto& row : rows) {
        FillConsoleOutputCharacterW(screen, L' ', cells, {0, 0}, &done);
        SetConsoleCursorPosition(screen, {0, 0});
        if (row.utf8) ASSERT_TRUE(CopyBesideDouble(copy, kUtf8Setting));
        std::string line = "\"" + copy + "\"" + row.args;
        STARTUPINFOA start = {sizeof start};
        start.dwFlags = row.quiet ? STARTF_USESTDHANDLES : 0;
        start.hStdOutput = screen;
        start.hStdError = nul;
        PROCESS_INFORMATION child;
        ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &child));
        // Ctrl+C to the console, which this test ignores, but not before the child is running.
        if (row.interrupted && WaitForSingleObject(child.hProcess, 500) == WAIT_TIMEOUT && SetConsoleCtrlHandler(nullptr, TRUE)) GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        if (WaitForSingleObject(child.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(child.hProcess, 999);
        if (row.interrupted) EXPECT_TRUE(GetExitCodeProcess(child.hProcess, &done) && done == 0) << "exit " << done;
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        std::wstring shown(cells, L' ');
        ReadConsoleOutputCharacterW(screen, &shown[0], cells, {0, 0}, &done);
        const size_t at = shown.find(row.shown);
        EXPECT_TRUE(row.first ? at == 0 : at != std::wstring::npos) << row.args.substr(0, 80) << " at " << at;
    }
    CloseHandle(nul);
    RemoveCopy(copy);
    DeleteFileA(script.c_str());
}
