// vekrun as a person uses it.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <regex>

#include <nlohmann/json.hpp>

#include "host.h"
#include "owner.h"

#include <tlhelp32.h>

using namespace test;
using nlohmann::json;

namespace {

// Arguments marked with UTF-8's byte-order mark are typed in UTF-16.
DWORD Vekrun(const std::string& args, std::string* out, std::string* err = nullptr, const std::string* in = nullptr,
             const std::string& program = "vekrun.exe") {
    const size_t typed = args.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return Run(args.substr(0, typed) + "\"" + Directory() + program + "\" " + args.substr(typed), out, err, in);
}

std::string Lines(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// "$PID", "$MODULE" and "$HOST" in a row stand for this process, its first module and the
// computer's name, "$JSONSELF" for this program's path as a JSON string, "$S0" to "$Sh" for the
// scripts.
std::string Fill(std::string text, const std::string& pid, const std::string& module) {
    char host[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof host;
    GetComputerNameA(host, &size);
    for (size_t at; (at = text.find("$PID")) != std::string::npos;) text.replace(at, 4, pid);
    for (size_t at; (at = text.find("$MODULE")) != std::string::npos;) text.replace(at, 7, module);
    char hex[24];
    snprintf(hex, sizeof hex, "0x%llx", strtoull(module.c_str(), nullptr, 10));
    for (size_t at; (at = text.find("$MODHEX")) != std::string::npos;) text.replace(at, 7, hex);
    for (size_t at; (at = text.find("$HOST")) != std::string::npos;) text.replace(at, 5, host);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    for (size_t at; (at = text.find("$JSONSELF")) != std::string::npos;) text.replace(at, 9, json(std::string(self)).dump());
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

// One command line: its arguments, its exit status, what stdout and stderr show (stdout may be
// given as JSON instead, compared value by value), and stdin. Each row stands alone; its command
// line names it in every failure.
struct VekrunRow {
    std::string args;
    DWORD exit;
    Shown out, err;
    std::string json, in;
};

const std::string kTry = "\nTry 'vekrun --help'.\n";
const std::string k203 = R"({"line": 4, "error": "call", "id": 203, "message": "203: Invalid flag(s) specified.", "code": null, "reason": null})";

const VekrunRow kCallRows[] = {
        {"tVersion", 0, "44017\n", ""},
        {"TCOMPATIBLE", 0, "1\n", ""},
        {"@true", 0, "1\n", ""},
        // A failure names the call, its message and the code it kept, in the system's or PDH's words.
        {"tCloseProc -4", 1, "", Has("vekrun: tCloseProc -4: 229: tCloseProc failed. (error 6: ")},  // a negative number is an argument
        {"tGetPriority 999999", 1, "", "vekrun: tGetPriority 999999: 201: Open Process Failed (error 87: Invalid parameter; no process has id 999999)\n"},
        {"tListProc", 1, "", "vekrun: tListProc: 213: Cannot retrieve counter index. (run 'vekrun --doctor')\n"},
        {"tGetData \\Nothing\\Turns 0", 1, "", "vekrun: tGetData \\Nothing\\Turns 0: 223: The specified counter was not found. (PDH status 0xC0000BB9)\n"},
        {"--json tGetPriority 999999", 1, "", "", R"({"error": "call", "id": 201, "message": "201: Open Process Failed", "code": 87, "reason": "error 87: Invalid parameter; no process has id 999999"})"},
        {"", 64, "", "vekrun: no keyword given" + kTry},
        {"tNoSuchKeyword", 64, "", "vekrun: no keyword 'tNoSuchKeyword' (vekrun --keywords lists them)" + kTry},
        {"tVersion extra", 64, "", "vekrun: tVersion takes 0 arguments, not 1" + kTry},
        {"tOpenProc", 64, "", "vekrun: tOpenProc takes 2 arguments, not 0" + kTry},
        {"tGetData x", 64, "", "vekrun: tGetData takes 2 arguments, not 1" + kTry},
        // Where a number goes, a whole decimal number in its range; --raw passes any text on.
        {"tSetPriority 32,56 64", 64, "", "vekrun: PID takes a whole decimal number of 32 bits, not '32,56'" + kTry},
        // Typed in UTF-16: no best fit of fullwidth digits to digits; what the ANSI code page holds goes as its bytes.
        {"\xEF\xBB\xBFtSetPriority \xEF\xBC\x92\xEF\xBC\x95\xEF\xBC\x96 64", 64, "", "vekrun: argument 1 ('\\uFF12\\uFF15\\uFF16') holds a character that the ANSI code page (1252) lacks" + kTry},
        {"\xEF\xBB\xBF--raw --json tSetPriority \xEF\xBC\x92\xEF\xBC\x95\xEF\xBC\x96 64", 64, "", "vekrun: argument 1 ('\\uFF12\\uFF15\\uFF16') holds a character that the ANSI code page (1252) lacks\n", R"({"error": "usage", "id": null, "message": "argument 1 ('\\uFF12\\uFF15\\uFF16') holds a character that the ANSI code page (1252) lacks", "code": null, "reason": null})"},  // counted the same after options
        {"\xEF\xBB\xBF--raw tCloseProc \xC3\xA9", 1, "", Has("vekrun: tCloseProc \xE9: 229")},
        {"tGetModInfo $PID 0x17G", 64, "", "vekrun: MODULE takes a whole number of 64 bits, decimal or hex (0x140000000), not '0x17G'" + kTry},
        {"tSetPriority $PID normal", 0, "1\n", ""},  // classes by PowerShell's names
        {"tSetPriority $PID 100", 64, "", Has("vekrun: CLASS takes a priority class, Idle (64), BelowNormal (16384), Normal (32), AboveNormal (32768), High (128), RealTime (256), or a whole decimal number of 32 bits, not '100'")},
        {"tSetPriority 999999 High", 1, "", "vekrun: tSetPriority 999999 High: 201: Open Process Failed (error 87: Invalid parameter; no process has id 999999)\n"},  // as typed
        {"tSetPriority $PID RealTime2", 64, "", Has("CLASS takes a priority class, Idle (64), BelowNormal (16384), Normal (32), AboveNormal (32768), High (128), RealTime (256), or a whole")},
        {"tGetModInfo $PID 0x", 64, "", Has("not '0x'\n")},
        {"tGetModInfo $PID 0XFFFFFFFFFFFFFFFF", 1, "", Has(": 206")},  // 16 hex digits at most
        {"--json tGetPriority $PID", 0, "", "", R"({"class": 32, "name": "Normal"})"},
        {"--raw tGetModInfo $PID 0x170000000", 0, Has("\t"), ""},  // module 0: the process's own
        {"tGetPriority \"\"", 64, "", Has("vekrun: PID takes a whole decimal number of 32 bits, not ''\n")},
        {"tGetPriority 4294967296", 64, "", Has("not '4294967296'\n")},
        {"tGetPriority -2147483649", 64, "", Has("not '-2147483649'\n")},
        {"tGetPriority 4294967295", 1, "", Has("vekrun: tGetPriority 4294967295: 20")},
        {"tGetPriority -2147483648", 1, "", Has("vekrun: tGetPriority -2147483648: 20")},
        {"tKillProc 18446744073709551616", 64, "", Has("HANDLE takes a whole decimal number of 64 bits")},
        {"tKillProc 18446744073709551615", 1, "", Has("vekrun: tKillProc 18446744073709551615: 212")},
        {"tGetPriority $pid", 0, "32\n", ""},
        {"--bogus", 64, "", "vekrun: unknown option --bogus" + kTry},
        {"-x", 64, "", "vekrun: unknown option -x" + kTry},
        {"--help", 0, Has("--script"), ""},
        {"--help", 0, Has("\n  --dll PATH           the extender to load (default: vekproc.dll beside vekrun);\n" "                       any option's value may also follow '=': --dll=PATH\n  --host-version N     the host"), ""},
        {"-?", 0, Has("--script"), ""},
        {"/?", 0, Has("--script"), ""},
        {"--help tGetData", 0, Has("usage:    vekrun tGetData PATH FORMAT\nresult:   "), ""},
        {"tgetdata -h", 0, Has("usage:    vekrun tGetData PATH FORMAT\n"), ""},
        {"--help tNothing", 64, "", Has("no keyword 'tNothing'")},
        {"--version", 0, Has("vekrun 44017\nProcess VEK Extender 44017 ("), ""},
        {"-V --json", 0, Has("{\"vekrun\": 44017, \"extender\": {\"path\": "), ""},
        {"-V --json", 0, Has(", \"description\": \"Process VEK Extender\", \"version\": 44017}}\n"), ""},
        {"tVersion --json", 0, "", "", "44017"},  // an option after the keyword
        {"--raw tGetData \"\\System\\System Up Time\" abc", 1, "", "vekrun: tGetData \"\\System\\System Up Time\" abc: 205: Invalid parameter type.\n"},  // the message's own blank goes
        {"--dll $S1 tVersion", 3, "", Lacks("%1")},  // 193's text names the file in place of its insert
        {"--raw tCloseProc -", 1, "", Has("vekrun: tCloseProc -: 229")},  // "-" alone is no option
        {"tCloseProc -- --json", 64, "", Has("HANDLE takes a whole decimal number of 64 bits, not '--json'")},
        {"tVersion --list=1", 64, "", "vekrun: --list takes no value" + kTry},
        {"--host-version 1003 tVersion", 3, "", Has("Need newer version of VEK DLL")},
        {"--raw tCloseProc", 1, "", Has("vekrun: tCloseProc: 229: tCloseProc failed.\nvekrun: a handle lives only as long as the vekrun that opened it")},
        {"--csv tVersion", 64, "", Has("--every")},
        {"--list --json tVersion", 64, "", "vekrun: --json and --list cannot go together\n", R"({"error": "usage", "id": null, "message": "--json and --list cannot go together", "code": null, "reason": null})"},
        {"--keywords", 0, Has("  id  kind      args  value  name\n   1  function     0         tversion\n"), ""},
        {"--keywords", 0, Has("  10  constant            1  @true\n"), ""},
        {"--keywords", 0, Has("  22  function     2         tgetdata PATH FORMAT\n"), ""},
        {"--json --keywords", 0, Has("{\"id\": 22, \"kind\": \"function\", \"name\": \"tgetdata\", \"args\": [\"PATH\", \"FORMAT\"]}, "), ""},
        {"--json --about", 0, "", "", R"({"description": "Process VEK Extender", "version": 44017})"},
        {"--about", 0, "Process VEK Extender 44017\n", ""},
};

const VekrunRow kOptionRows[] = {
        // Problems with options name the options.
        {"--dll", 64, "", "vekrun: --dll needs the extender's path" + kTry},
        {"--host-version 0x3EC tVersion", 64, "", "vekrun: --host-version takes a whole number from 0 to 4294967295, not '0x3EC'" + kTry},
        {"--host-version abc tVersion", 64, "", "vekrun: --host-version takes a whole number from 0 to 4294967295, not 'abc'" + kTry},
        {"--every 1 --keywords", 64, "", "vekrun: --every and --keywords cannot go together: --every samples a keyword call, a script's calls or the process table" + kTry},
        // A script's calls sampled together, a column (or a JSON value) a call; names and $LAST refused.
        {"--every 0.05 --samples 2 --script $Sd", 0, Has("  44017     1\n"), ""},
        {"--csv --every 0.05 --samples 1 --script $Sd", 0, Has("\",\"\\\\$HOST\\tVersion\\Result\",\"\\\\$HOST\\tCompatible\\Result\"\n"), ""},
        {"--json --every 0.05 --samples 1 --script $Sd", 0, Has("\"values\": [{\"line\": 1, \"value\": 44017}, {\"line\": 3, \"value\": 1}]}\n"), ""},
        {"--every 1 --script $S9", 64, "", Has("vekrun_9.vek:4: a sampled script's calls take no names and no $LAST\n")},
        {"--every 0.05 --samples 1 --script $Sh", 0, Has("  PageFaultCount($PID)  "), ""},  // the calls' columns told apart
        {"--json --every 0.05 --samples 1 --script $S2", 0, Has("\"values\": [{\"line\": 1, \"value\": 44017}]}\n"), ""},  // one call: a script's shape
        {"--samples 3 tVersion", 64, "", "vekrun: --samples goes with --every" + kTry},
        {"--every 1 --script -", 64, "", Has("--every samples the calls of a file, which stdin is not")},
        {"--keywords --about", 64, "", "vekrun: --keywords and --about cannot go together" + kTry},
        {"--every 0.009 tVersion", 64, "", "vekrun: --every takes a number of seconds from 0.01 to 86400, not '0.009'" + kTry},
        {"--every 86400 --samples 1 tVersion", 0, Has("  44017\n"), ""},
        {"--every 0.01 --samples 1 tVersion", 0, Has("  44017\n"), ""},
        {"--every 1 --samples 1a tVersion", 64, "", "vekrun: --samples takes a count from 1 to 2147483647, not '1a'" + kTry},
        {"--every 1 --samples 2147483648 tVersion", 64, "", Has("not '2147483648'\n")},
        {"--every 1 --samples 0 tVersion", 64, "", Has("not '0'\n")},
        {"--every 86400.5 --samples 1 tVersion", 64, "", Has("not '86400.5'\n")},
        {"--dll nothere\xE9.dll tVersion", 3, "", Has("vekrun: cannot load nothere\xE9.dll (")},  // ANSI bytes, redirected
        {"--dll=nothere.dll tVersion", 3, "", "vekrun: cannot load nothere.dll (error 126: Module not found)\n"},
        {"--dll $S0 tVersion", 3, "", Has("vekrun_0.vek)\n")},  // the text's %1 is the file
        {"--json --dll nothere.dll tVersion", 3, "", Has("cannot load"), R"({"error": "load", "id": null, "message": "cannot load nothere.dll", "code": 126, "reason": "error 126: Module not found"})"},
        // Captures and Prometheus's form, and what they go with.
        {"--every 1 --rotate 100X --output x.csv tVersion", 64, "", "vekrun: --rotate takes a size (100M: bytes, K, M, G) or a time (1h: s, m, h, d), not '100X'" + kTry},
        {"--every 1 --rotate 0.5s --output x.csv tVersion", 64, "", Has("not '0.5s'")},
        {"--every 1 --rotate 1h tVersion", 64, "", "vekrun: --rotate goes with --output" + kTry},
        {"--every 0.05 --samples 2 --output NUL tVersion", 0, "", ""},  // Windows' devices take it as they are
        {"--every 0.05 --samples 2 --prom --output NUL tVersion", 0, "", ""},
        {"--every 1 --keep 3 tVersion", 64, "", "vekrun: --keep goes with --rotate" + kTry},
        {"--output x.csv tVersion", 64, "", "vekrun: --output goes with --every: it holds the rounds of sampling" + kTry},
        {"--prom --csv tVersion", 64, "", "vekrun: --prom and --csv cannot go together" + kTry},
        {"--every 1 --prom --output x.prom --rotate 1M tVersion", 64, "", Has("--rotate and --prom cannot go together")},
        {"--prom --doctor", 64, "", "vekrun: --prom goes with a keyword call, a script or --procs, not --doctor" + kTry},
        {"--prom tListProc", 64, "", Has("tListProc gives a list, which Prometheus's numbers cannot hold")},
        {"--json --bogus", 64, "", "vekrun: unknown option --bogus\n", R"({"error": "usage", "id": null, "message": "unknown option --bogus", "code": null, "reason": null})"},
};

const VekrunRow kScriptRows[] = {
        // Scripts: stopped at a failure or kept going, every stdout line JSON with --json, any length,
        // UTF-8 and UTF-16, "" in quotes, every line checked before the first runs, $LAST, stdin.
        {"--script $S0", 1, "> tVersion\n44017\n> tGetData \"\\System\\System Up Time\" 2\n", Has("vekrun_0.vek:4: tGetData \"\\System\\System Up Time\" 2: 203: Invalid flag(s) specified.\n")},
        {"--keep-going --script $S0", 1, Has("> tCompatible\n1\n"), Has("203: Invalid flag(s) specified.\n")},
        {"--json --keep-going --script $S0", 1, "", Has("> tCompatible\n"), R"({"line": 3, "value": 44017})" "\n" + k203 + "\n" R"({"line": 5, "value": 1})"},
        {"--json --script $S1", 1, "", Has("> tGetData"), R"({"line": 1, "error": "call", "id": 222, "message": "222: Invalid Counter Name.", "code": -1073738816, "reason": "PDH status 0xC0000BC0"})"},
        {"--json --script $S2", 0, "", "> tVersion\n", R"({"line": 1, "value": 44017})"},
        {"--json --script $S3", 0, "", "> tVersion\n", R"({"line": 1, "value": 44017})"},
        {"--json --script $S4", 0, "", "> tVersion\n", R"({"line": 1, "value": 44017})"},
        {"-q --script $S2", 0, "44017\n", ""},
        {"--json --script $S5", 64, Has("{\"line\": 1, \"error\": \"usage\", \"id\": null, \"message\": "), Has("vekrun_5.vek:1: no keyword 't\"x'")},
        // Every bad line is named, up to 20; a name whose call is refused is no further problem.
        {"--script $S6", 64, "", Has("vekrun_6.vek:2: a double quote is not closed\nvekrun: ")},
        {"--script $S6", 64, "", Has("vekrun_6.vek:4: no keyword 'bogus' (vekrun --keywords lists them)" + kTry)},
        {"--script $Si", 64, "", Has("vekrun_i.vek:20: no keyword 'x' (vekrun --keywords lists them)\nvekrun: ")},
        {"--script $Si", 64, "", Has("vekrun_i.vek: 5 more bad lines" + kTry)},
        {"--script $S7", 64, "", Has("vekrun_7.vek:1: no keyword '\xE9' (vekrun --keywords lists them)" + kTry)},
        {"--script $S8", 1, "> tGetData \"\\caf\xE9\" 0\n", Has("vekrun_8.vek:1: tGetData \\caf\xE9 0: ")},
        {"--keep-going --script $S9", 1, Has("> tCloseProc $Last\n1\n> tCloseProc $LAST\n"), Has("vekrun_9.vek:5: tCloseProc 1: 229: tCloseProc failed. (error 6: Invalid handle)\n")},
        // A name keeps a result across lines; one used before a line sets it stops the script before it runs.
        {"--keep-going --script $Sb", 1, Has("32\n> tCloseProc $h\n1\n> tCloseProc $H\n"), Has(": 229: tCloseProc failed. (error 6: Invalid handle)\n")},
        {"--script $Sc", 64, "", Has("vekrun_c.vek:1: $g is used before a line sets it\n")},
        // A name whose call failed is not set, not even to what an earlier line gave it.
        {"--keep-going --script -", 1, Has("> tCloseProc $h\n"), Has("stdin:3: $h was not set: its call on line 2 failed\n"), "",
         "$h = tOpenProc $PID 2\n$h = tOpenProc 99999 2\ntCloseProc $h\n"},
        {"--json --keep-going --script -", 1, "", Has(""),
         R"({"line": 1, "error": "call", "id": 201, "message": "201: Open Process Failed", "code": 87, "reason": "error 87: Invalid parameter; no process has id 99999"})" "\n"
         R"({"line": 2, "error": "call", "id": null, "message": "$h was not set: its call on line 1 failed", "code": null, "reason": null})",
         "$h = tOpenProc 99999 2\ntCloseProc $h\n"},
        {"--script $Sf", 64, "", Has("vekrun_f.vek:1: $h = needs a call\n")},
        {"--script $Sg", 64, "", Has("vekrun_g.vek:1: $LAST cannot be set\n")},
        {"--script $Se", 64, "", Has("vekrun_e.vek:2: the line ends in half a character\n")},
        {"--script $Sa", 64, "", Has("vekrun_a.vek: a binary file, not a script (it holds NUL bytes)" + kTry)},
        {"--script nothere.vek", 64, "", "vekrun: cannot read nothere.vek (error 2: File not found)" + kTry},
        {"--json --script nothere.vek", 64, "", Has("cannot read"), R"({"error": "usage", "id": null, "message": "cannot read nothere.vek", "code": 2, "reason": "error 2: File not found"})"},
        {"--script -", 64, "> tVersion\n44017\n", Has("stdin:2: no keyword 'bogus'"), "", "tVersion\nbogus\ntVersion\n"},
        {"--script -", 1, "> tGetData \"\\caf\xE9\" 0\n", Has(""), "", "tGetData \"\\caf\xC3\xA9\" 0\n"},
        {"--script -", 64, "", Has("stdin:1: no keyword '\xE9'"), "", "\xE9\n"},  // not UTF-8: ANSI
        {"--script -", 0, "> tVersion\n44017\n", "", "", Utf16("tVersion\r\n", false)},
};

const VekrunRow kSamplingAndDoctorRows[] = {
        // Sampling: a failing sample's cells are empty, its reason on stderr; the columns are counter
        // paths; a counter that is not there ends the run at once.
        {"--every 0.05 --samples 1 --csv tGetData \"\\System\\System Up Time\" 0", 0, Has("\",\"\\\\$HOST\\System\\System Up Time\"\n"), ""},
        {"--raw --every 0.05 --samples 2 --csv tGetModInfo $PID \xE9", 0, Has("\",\"\\\\$HOST\\tGetModInfo($PID \xC3\xA9)\\BaseOfDll\",\""), ""},
        {"--every 0.05 --samples 2 --csv tCloseProc 0", 1, "", "vekrun: tCloseProc 0: 229: tCloseProc failed. (error 6: Invalid handle); nothing to sample\n"},
        {"--every 0.05 --samples 2 tKillProc 0", 1, "", "vekrun: tKillProc 0: 212: Terminate Process Failed (error 6: Invalid handle); nothing to sample\n"},
        {"--every 0.05 --samples 2 tGetPriority 99999", 1, "", "vekrun: tGetPriority 99999: 201: Open Process Failed (error 87: Invalid parameter; no process has id 99999); nothing to sample\n"},
        {"--every 0.05 --samples 2 tGetProcInfo 99999", 1, "", "vekrun: tGetProcInfo 99999: 204: tGetProcInfo failed. Maybe invalid process handle. (error 87: Invalid parameter; no process has id 99999); nothing to sample\n"},
        {"--json --every 0.05 tGetData \\Nothing\\Turns 0", 1, Has("{\"time\": \"20"), Has("; nothing to sample\n")},
        {"--raw --every 0.05 tGetData", 1, "", "vekrun: tGetData: 223: The specified counter was not found.; nothing to sample\n"},
        {"--every 0.05 tGetData \\Nothing\\Turns 0", 1, "", "vekrun: tGetData \\Nothing\\Turns 0: 223: The specified counter was not found. (PDH status 0xC0000BB9); nothing to sample\n"},
        {"--doctor", 1, Has("counter names     PROBLEM: the English counter-name list (2 names) lacks \"Process\""), ""},
        {"--doctor", 1, Has("process provider  PROBLEM: PerfProc's \"Disable Performance Counters\" is 1. Enable it with 'lodctr /E:PerfProc' from an elevated prompt.\n"), ""},
        {"--doctor", 1, Has(", LastError=6 (tKillProc)\n"), ""},  // logged by the tKillProc row above
        {"--json --doctor", 1, Has(", {\"check\": \"pdh\", \"ok\": false, \"detail\": \"\\\\System\\\\System Up Time reads "), ""},
        {"--json --doctor", 1, Has("\"remedy\": \"Read counters as whole numbers (format 0) here.\"}"), ""},
        // Wine's PDH enumeration is a stub: no counter discovery, and the doctor says so.
        {"$WINE --counters", 1, "", "vekrun: counter discovery needs Windows' PDH: Wine's PdhEnumObjectsA and PdhEnumObjectItemsA are stubs\n"},
        {"$WINE --doctor", 1, Has("; its PdhEnumObjectsA and PdhEnumObjectItemsA are stubs too, so counter discovery (vekrun --counters) needs Windows' PDH. None under Wine"), ""},
        // Posed as Windows 98 (under Wine alone): Toolhelp lists the processes, and there is no PDH.
        {"$WIN98 --doctor", 1, HasLines("platform          ok: Windows 4.10 build 2222, tCompatible 1\nperformance data  ok: Toolhelp lists "), ""},
        {"$WIN98 --doctor", 1, Has("\npdh               PROBLEM: this platform has no PDH, so tBrowseCntrs, tGetData, tRemoteConn and tParseCntrPath give 209. None here"), ""},
        {"$WIN98 --doctor", 1, Lacks("213"), ""},
        {"--list tGetModInfo $PID $MODHEX", 0, Has("BaseOfDll    $MODULE\nSizeOfImage  "), ""},
        {"--list tGetProcInfo $PID", 0, Has("\nWorkingSetSize              "), ""},
        {"--list tListMod $PID 1", 0, Has("host_tests.exe\n"), ""},
        {"tGetModInfo $PID 0x5", 1, "", Has(": 206")},
        {"--json tVersion", 0, "", "", "44017"},
        {"--json tCloseProc 0", 1, "", Has("vekrun: a handle lives only"), R"({"error": "call", "id": 229, "message": "229: tCloseProc failed.", "code": 6, "reason": "error 6: Invalid handle"})"},
        {"--json tListProc", 1, "", "", R"({"error": "call", "id": 213, "message": "213: Cannot retrieve counter index.", "code": null, "reason": "run 'vekrun --doctor'"})"},
        {"--json tListMod $PID 2", 0, Has("[{\"module\": $MODULE}, {\"module\": "), ""},
        // A list as Export-Csv writes one; PerfMon's CSV, of numbers, takes none.
        {"--raw --json tListMod $PID", 0, Has("[{\"path\": "), ""},  // the mode left out reads as 0
        {"--csv tListMod $PID 2", 0, Has("\"Module\"\n\"$MODULE\"\n"), ""},
        {"--csv tListMod $PID 0", 0, Has("\"Path\",\"Module\"\n\""), ""},
        {"--csv tGetProcInfo $PID", 64, "", "vekrun: --csv goes with --every, or with a list keyword (tListProc, tListMod)" + kTry},
        {"--every 0.05 --samples 1 --csv tListMod $PID 1", 64, "", Has("vekrun: tListMod gives a list, which PerfMon's CSV of numbers cannot hold; 'vekrun --csv tListMod ...' writes it as CSV\n")},
        {"--json tListMod $PID 0", 0, Has("[{\"path\": $JSONSELF, \"module\": $MODULE}, "), ""},
};

// The scripts the rows run ($S0 to $Sh), Windows' switch that turns the process provider off
// (for the doctor's rows), and a LastError line in the settings file: made as each test starts,
// gone as it ends.
class VekrunRows : public ::testing::Test {
protected:
    void SetUp() override {
        std::string modules;
        ASSERT_EQ(Vekrun("tListMod " + pid + " 2", &modules), 0u);
        module = Split(Lines(modules), '\t')[0];
        const DWORD one = 1;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\PerfProc\\Performance", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &off, nullptr), 0);
        RegSetValueExA(off, "Disable Performance Counters", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        const std::string scripts[] = {
            "# comment\n\ntVersion\ntGetData \"\\System\\System Up Time\" 2\ntCompatible\n",
            "tGetData \"" + std::string(8990, 'x') + "\" 0\n",  // 9,000 characters: one call
            "\xEF\xBB\xBFtVersion\r\n", Utf16("tVersion\r\n", false), Utf16("tVersion\n", true),
            "\"t\"\"x\"\n",  // "" inside quotes is one quote
            "tVersion\ntVersion \"abc\ntCompatible\n$k = bogus\ntCloseProc $k\n", "\xEF\xBB\xBF\xC3\xA9\n",  // a line of one character, not ASCII
            "tGetData \"\\caf\xC3\xA9\" 0\n",  // UTF-8 without a byte-order mark
            "tOpenProc $PID 2\n\n# kept across\ntCloseProc $Last\ntCloseProc $LAST\n", std::string("tVersion\0\n", 10),
            "$h = tOpenProc $PID 2\ntGetPriority $PID\ntCloseProc $h\ntCloseProc $H\n", "tCloseProc $g\n$g = tOpenProc $PID 2\n",
            "tVersion\n# two\ntCompatible\n", Utf16("tVersion\r\n", false) + "x", "$h =\n", "$LAST = tVersion\n",
            "tGetProcInfo $PID\ntGetProcInfo " + pid + "\n",  // one keyword twice
            [] { std::string bad; for (int i = 0; i < 25; ++i) bad += "x\n"; return bad; }(),
        };
        for (size_t i = 0; i < kScriptNames.size(); ++i) ASSERT_TRUE(Save(Directory() + "vekrun_" + kScriptNames[i] + ".vek", scripts[i]));
        std::string ignored;
        Vekrun("tKillProc 0", &ignored);  // logs "6 (tKillProc)" for the doctor's rows
    }
    void TearDown() override {
        for (char name : kScriptNames) DeleteFileA((Directory() + "vekrun_" + name + ".vek").c_str());
        DeleteFileA((Directory() + "vekrun_win98.exe").c_str());
        RegDeleteValueA(off, "Disable Performance Counters");
        RegCloseKey(off);
    }
    void Check(const VekrunRow& row);

    const std::string kScriptNames = "0123456789abcdefghi";
    const std::string pid = std::to_string(GetCurrentProcessId());
    std::string module;
    HKEY off = nullptr;
};

void VekrunRows::Check(const VekrunRow& row) {
    std::string args = Fill(row.args, pid, module);
    std::string out, err;
    SCOPED_TRACE("vekrun " + args);
    // "$WIN98" runs a copy that Wine presents as Windows 98; "$WINE" marks what Wine alone answers.
    const bool posed = args.compare(0, 7, "$WIN98 ") == 0, wine = args.compare(0, 6, "$WINE ") == 0;
    if ((posed || wine) && !vek::UnderWine()) return;
    if (wine) args.erase(0, 6);
    const std::string program = posed ? "vekrun_win98.exe" : "vekrun.exe";
    std::unique_ptr<WineVersion> pose(posed ? new WineVersion(program, "win98") : nullptr);
    if (posed) args.erase(0, 7), CopyFileA((Directory() + "vekrun.exe").c_str(), (Directory() + program).c_str(), TRUE);
    EXPECT_EQ(Vekrun(args, &out, &err, row.in.empty() ? nullptr : &row.in, program), row.exit) << out << err;
    out = Lines(out);
    err = Lines(err);
    if (!row.json.empty()) {
        const auto lines = Split(out, '\n'), values = Split(row.json, '\n');
        ASSERT_EQ(lines.size(), values.size() + 1) << args << "\n" << out;
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(json::parse(lines[i]), json::parse(values[i])) << args;
    } else {
        // A part of stdout may name this process, its module and the computer.
        Shown shown = row.out;
        if (shown.kind == Shown::kHas) shown.text = Fill(shown.text, pid, module);
        EXPECT_TRUE(Shows(out, shown)) << "stdout:\n" << out;
    }
    EXPECT_TRUE(Shows(err, row.err)) << "stderr:\n" << err;
}

}  // namespace

TEST_F(VekrunRows, CallsTheirFailuresAndTheirArguments) {
    for (const VekrunRow& row : kCallRows) Check(row);
}

TEST_F(VekrunRows, OptionsTheirProblemsAndTheirCombinations) {
    for (const VekrunRow& row : kOptionRows) Check(row);
}

TEST_F(VekrunRows, Scripts) {
    for (const VekrunRow& row : kScriptRows) Check(row);
}

TEST_F(VekrunRows, SamplingTheDoctorAndTheOutputForms) {
    for (const VekrunRow& row : kSamplingAndDoctorRows) Check(row);
}

// Samples in each form: PDH-CSV as Performance Monitor writes it (the zone's standard name and the
// bias in force, which ctest's TZ makes a daylight-saving one half the year), JSON and a table.
TEST_F(VekrunRows, SamplesInEachForm) {
    // bias in force, which ctest's TZ makes a daylight-saving one half the year), JSON and a table.
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    SYSTEMTIME utc, local;
    FILETIME utcFile, localFile;
    GetSystemTime(&utc);
    SystemTimeToFileTime(&utc, &utcFile);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    SystemTimeToFileTime(&local, &localFile);
    auto ticks = [](const FILETIME& f) { return static_cast<long long>((ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime); };
    const long long bias = (ticks(utcFile) - ticks(localFile)) / 600000000;  // UTC = local time + bias, in minutes
    const std::wstring zoneName = zone.StandardName;
    const std::string time = "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}";
    char east[16];  // ISO 8601's offset from UTC
    snprintf(east, sizeof east, "\\%c%02lld:%02lld", bias > 0 ? '-' : '+', llabs(bias) / 60, llabs(bias) % 60);
    const struct { std::string args, shape; } forms[] = {
        {"--csv tGetProcInfo $PID", "\"\\(PDH-CSV 4\\.0\\) \\(" + std::string(zoneName.begin(), zoneName.end()) + "\\)\\(" +
            std::to_string(bias) + "\\)\",\"\\\\\\\\$HOST\\\\tGetProcInfo\\($PID\\)\\\\PageFaultCount\"(,\"[^\"]+\"){8}\r\n"
            "(\"(0[1-9]|1[0-2])/(0[1-9]|[12]\\d|3[01])/20\\d\\d " + time + "\"(,\"\\d+\"){9}\r\n){2}"},
        {"--json tVersion", "(\\{\"time\": \"20\\d\\d-\\d\\d-\\d\\dT" + time + east + "\", \"value\": 44017\\}\r\n){2}"},
        {"tGetModInfo $PID $MODULE", "time {27}BaseOfDll +SizeOfImage +EntryPoint\r\n(20\\d\\d-\\d\\d-\\d\\d " + time + east + "  $MODULE +\\d+ +\\d+\r\n){2}"},
    };
    for (const auto& form : forms) {
        std::string out;
        EXPECT_EQ(Vekrun("--every 0.05 --samples 2 " + Fill(form.args, pid, module), &out), 0u) << form.args;
        EXPECT_TRUE(std::regex_match(out, std::regex(Fill(form.shape, pid, module)))) << form.shape << "\n" << out;
    }
}

// The process jobs on processes each row starts itself: `start` is how its sleeper runs ("-": none),
// from a copy named jobs_<this test's id>.exe, so that a name pattern finds the row's own alone.
// $P stands for the sleeper's id, $C and $G for its child's and grandchild's, $NAME for the copy's
// name, $DIR for the folder, and $PID for this test process, under which vekrun runs.
struct JobRow {
    const char* start;
    std::string args;
    DWORD exit;
    Shown out, err;
};
const JobRow kProcessJobRows[] = {
        // One table from one snapshot: parent and child, a first percent that is a real one (a
        // spinning child's), the path and command line, sorting, rounds in CSV.
        {"tree 1", "--procs --json --match $NAME --fields processid,ParentProcessId", 0,
         HasLines("{\"ProcessId\": $P, \"ParentProcessId\": $PID}\n{\"ProcessId\": $C, \"ParentProcessId\": $P}"), ""},
        {"spin", "--procs --json --match $P --fields PercentProcessorTime", 0, Matches("^\\{\"PercentProcessorTime\": ([2-9]\\d|\\d{3})\\.\\d\\}\n$"), ""},
        {"", "--procs --csv --match $NAME.EXE --fields Name,ExecutablePath,CommandLine,Priority", 0,
         HasLines("\"Name\",\"ExecutablePath\",\"CommandLine\",\"Priority\"\n\"$NAME.exe\",\"$DIR$NAME.exe\",\"\"\"$DIR$NAME.exe\"\" vek-sleeper-\n\",\"Normal\""), ""},
        {"tree 1", "--procs --sort -CreationDate --match jobs_$PID --fields ProcessId", 0, Matches("^ProcessId\n +$C\n +$P\n$"), ""},
        {"", "--procs --prom --match $P", 0, Matches("\nvekrun_process_handles\\{process=\"$NAME\",process_id=\"$P\",creating_process_id=\"$PID\"\\} \\d+\n"), ""},
        {"", "--procs --every 0.05 --samples 2 --csv --match j?bs_* --fields ProcessId", 0, Matches("^\"Time\",\"ProcessId\"\n(\"[^\"]+\",\"$P\"\n){2}$"), ""},
        {"-", "--procs --match vekrun_nothing_zz", 1, "", "vekrun: no process matches 'vekrun_nothing_zz'\n"},
        {"-", "--procs --fields Name,Bogus", 64, "", Has("vekrun: --fields: no field 'Bogus' (fields: ProcessId, ParentProcessId, Name, ")},
        {"-", "--procs --sort -bogus", 64, "", Has("vekrun: --sort: no field '-bogus' (fields: ")},
        // Ending: a tree children first, by name, a dry run, never vekrun's own parent, an id not there.
        {"tree 2", "--kill --tree $P", 0, "ended $G $NAME.exe\nended $C $NAME.exe\nended $P $NAME.exe\n", ""},
        {"", "--kill --json --match $NAME", 0, "{\"ProcessId\": $P, \"Name\": \"$NAME.exe\", \"result\": \"ended\"}\n", ""},
        {"tree 1", "--kill --dry-run $P", 0, "would end $P $NAME.exe: --dry-run\n", ""},
        {"", "--kill --dry-run 0$P", 0, "would end $P $NAME.exe: --dry-run\n", ""},  // decimal, never octal
        {"-", "--kill --dry-run --tree $PID", 1, Has("skipped $PID host_tests.exe: vekrun runs under it\n"), ""},
        {"-", "--kill 4294967295", 1, "failed 4294967295: no process has id 4294967295\n", ""},
        {"-", "--kill", 64, "", "vekrun: --kill needs a process: --kill PID... or --kill --match PATTERN" + kTry},
        {"-", "--kill --every 1 1", 64, "", Has("vekrun: --every and --kill cannot go together")},
        {"-", "--procs --tree", 64, "", "vekrun: --tree goes with --kill" + kTry},
        {"-", "--wait --dry-run 1", 64, "", "vekrun: --dry-run goes with --kill" + kTry},
        {"-", "--wait abc", 64, "", "vekrun: --wait takes process ids, not 'abc'" + kTry},
        {"-", "--wait --timeout 2147484 1", 64, "", Has("--timeout takes a number of seconds from 0.01 to 2147483, not '2147484'")},
        // Waiting: the exit code, in JSON with the time, the timeout, an id not there.
        {"exit 7 1500", "--wait $P", 0, "$P exited with 7\n", ""},
        {"exit 7 1500", "--wait --any $PID $P", 0, "$P exited with 7\n", ""},  // this test runs on
        {"exit 7 1500", "--wait --json --match $NAME", 0, Matches("^\\{\"ProcessId\": $P, \"ExitCode\": 7, \"time\": \"20\\d\\d-[^\"]+\"\\}\n$"), ""},
        {"", "--wait --timeout 0.3 $P", 124, "", "vekrun: timed out; still running: $P $NAME.exe\n"},
        {"-", "--wait 4294967295", 1, "", "vekrun: no process has id 4294967295\n"},
};

// The first child of a process, as Toolhelp lists them; 0 for none.
DWORD ChildOf(DWORD parent) {
    DWORD child = 0;
    vek::FileHandleGuard snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {sizeof entry};
    for (BOOL more = Process32First(snapshot.Get(), &entry); more && !child; more = Process32Next(snapshot.Get(), &entry)) {
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) child = entry.th32ProcessID;
    }
    return child;
}

TEST(Vekrun, ProcessJobsOnProcessesOfItsOwn) {
    const std::string self = std::to_string(GetCurrentProcessId()), name = "jobs_" + self;
    ASSERT_TRUE(CopyFileA((Directory() + "sleeper.exe").c_str(), (Directory() + name + ".exe").c_str(), FALSE));
    for (const JobRow& row : kProcessJobRows) {
        std::unique_ptr<Sleeper> sleeper(std::string(row.start) == "-" ? nullptr : new Sleeper(row.start, name + ".exe"));
        const DWORD p = sleeper ? sleeper->Id() : 0, c = p ? ChildOf(p) : 0, g = c ? ChildOf(c) : 0;
        auto fill = [&](std::string text) {
            text = Fill(text, self, "");
            const std::pair<const char*, std::string> marks[] = {{"$C", std::to_string(c)}, {"$G", std::to_string(g)}, {"$NAME", name},
                                                                  {"$DIR", Directory()}, {"$P", std::to_string(p)}};
            for (const auto& mark : marks) {
                for (size_t at; (at = text.find(mark.first)) != std::string::npos;) text.replace(at, strlen(mark.first), mark.second);
            }
            return text;
        };
        const std::string args = fill(row.args);
        SCOPED_TRACE("vekrun " + args);
        std::string out, err;
        EXPECT_EQ(Vekrun(args, &out, &err), row.exit) << out << err;
        Shown shownOut = row.out, shownErr = row.err;
        shownOut.text = fill(shownOut.text), shownErr.text = fill(shownErr.text);
        EXPECT_TRUE(Shows(Lines(out), shownOut)) << "stdout:\n" << out;
        EXPECT_TRUE(Shows(Lines(err), shownErr)) << "stderr:\n" << err;
    }
    DeleteFileA((Directory() + name + ".exe").c_str());
}

// Captures: every round in exactly one piece, each piece starting with its header, names that
// sort in the order written, the newest --keep kept, an old piece a reader holds tried again
// (said once), an existing file refused, one that cannot be made named, Prometheus's file
// replaced whole. $OUT is a file's path without its extension in a folder of the row's own.
struct CaptureRow {
    std::string args;
    DWORD exit;
    size_t pieces;       // files the folder holds at the end
    const char* header;  // how each starts
    size_t rounds;       // data lines in all of them
    Shown err;
    bool hold = false;   // the first piece is held open, without the right to delete it
    bool decoy = false;  // a file of the pieces' name but for letters where the time goes: never deleted
};
const CaptureRow kCaptureRows[] = {
        // Lines of 58 bytes: three fit in 200, a fourth would pass it.
        {"--every 0.05 --samples 6 --json --output $OUT.json --rotate 200 tVersion", 0, 2, "{\"time\": ", 6, ""},
        {"--every 0.05 --samples 5 --csv --output $OUT.csv --rotate 1 --keep 2 tGetData \"\\System\\System Up Time\" 0", 0, 3, "\"(PDH-CSV 4.0) (", 2, "", false, true},
        {"--procs --every 0.05 --samples 3 --csv --fields ProcessId --match $PID --output $OUT.csv --rotate 1", 0, 3, "\"Time\",\"ProcessId\"\n", 3, ""},
        {"--every 0.3 --samples 4 --output $OUT.txt --rotate 1 --keep 1 tVersion", 0, 2, "time ", 2, Matches("^vekrun: cannot delete [^\n]+up-[-0-9]+\\.txt \\(error 32: [^\n]+\\); tried again at the next piece\n$"), true},
        {"--every 0.05 --samples 3 --output $OUT.csv tVersion", 1, 1, "old", 0, Has("up.csv exists; a capture never overwrites a file (name another, or delete it)\n")},
        {"--every 0.05 --samples 1 --output $OUTnone\\up.csv tVersion", 1, 0, "", 0, Has("vekrun: cannot create "), false},
        {"--every 0.05 --samples 3 --prom --output $OUT.prom tCountProc", 0, 1, "# HELP vekrun_tcountproc ", 1, ""},
};

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Vekrun, CapturesKeepEveryRoundInPiecesThatStandAlone) {
    const std::string folder = Directory() + "capture\\";
    for (const CaptureRow& row : kCaptureRows) {
        CreateDirectoryA(folder.c_str(), nullptr);
        if (std::string(row.header) == "old") ASSERT_TRUE(Save(folder + "up.csv", "old"));
        if (row.decoy) ASSERT_TRUE(Save(folder + "up-2026121x-000000-000.csv", row.header + std::string("\n")));
        std::string args = Fill(row.args, std::to_string(GetCurrentProcessId()), "");
        for (size_t at; (at = args.find("$OUT")) != std::string::npos;) args.replace(at, 4, folder + "up");
        SCOPED_TRACE("vekrun " + args);
        std::string out, err;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (row.hold) {
            // The first piece, held as a reader holds it, while vekrun runs on.
            PROCESS_INFORMATION child;
            HANDLE pipe[2];
            SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
            ASSERT_TRUE(CreatePipe(&pipe[0], &pipe[1], &inherited, 0));
            ASSERT_TRUE(Start("\"" + Directory() + "vekrun.exe\" " + args, &child, nullptr, pipe[1], pipe[1]));
            CloseHandle(pipe[1]);
            for (int i = 0; i < 200 && held == INVALID_HANDLE_VALUE; ++i, Sleep(10)) {
                const auto names = FilesIn(folder);
                if (!names.empty()) held = CreateFileA((folder + names[0]).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            }
            WaitForSingleObject(child.hProcess, 30000);
            DWORD code = 99;
            GetExitCodeProcess(child.hProcess, &code);
            EXPECT_EQ(code, row.exit);
            while (ReadWaiting(pipe[0], &err)) {}
            CloseHandle(pipe[0]), CloseHandle(child.hProcess), CloseHandle(child.hThread);
        } else {
            EXPECT_EQ(Vekrun(args, &out, &err), row.exit) << err;
        }
        EXPECT_TRUE(Shows(Lines(err), row.err)) << err;
        const auto names = FilesIn(folder);
        EXPECT_EQ(names.size(), row.pieces) << testing::PrintToString(names);
        size_t rounds = 0;
        std::string last;
        for (const std::string& name : names) {
            std::string text;
            const vek::FileHandleGuard file(CreateFileA((folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
            char buffer[65536];
            DWORD got = 0;
            if (file && ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) text.assign(buffer, got);
            text = Lines(text);
            EXPECT_EQ(text.compare(0, strlen(row.header), row.header), 0) << name << ":\n" << text;
            // A piece's first line is its header but in JSON (a round a line) and Prometheus's form.
            const bool headed = row.header[0] != '{' && row.header[0] != '#';
            const auto lines = Split(text, '\n');
            for (size_t i = headed; i < lines.size(); ++i) {
                const std::string& line = lines[i];
                const bool data = !line.empty() && line[0] != '#';
                rounds += data;
                // Pieces sort by name in the order they were written: their rounds' times rise.
                if (data) EXPECT_LT(last, line) << name, last = line;
            }
        }
        EXPECT_EQ(rounds, row.rounds) << testing::PrintToString(names);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        for (const std::string& name : names) DeleteFileA((folder + name).c_str());
        RemoveDirectoryA(folder.c_str());
    }
}

// --list puts every item's number in one column.
TEST_F(VekrunRows, ListPutsEveryNumberInOneColumn) {
    std::string out;
    ASSERT_EQ(Vekrun("--list tListMod " + pid + " 0", &out), 0u);
    const auto lines = Split(Lines(out), '\n');
    ASSERT_GT(lines.size(), 2u);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find_last_of(' '), lines[0].find_last_of(' ')) << lines[i];
        EXPECT_TRUE(IsUnsignedNumber(lines[i].substr(lines[0].find_last_of(' ') + 1))) << lines[i];
    }
}

// A copy beside the PDH double, without the manifest that would make it its own, and a current
// directory with vekproc.dll: the planted PDH.DLL (which refuses to load) is not the doctor's, and
// the current directory's extender is not the one vekrun loads.
TEST(Vekrun, TheDoctorAndTheExtenderAreNeverTakenFromBesideOrTheCurrentDirectory) {
    std::string out;
    const std::string copy = Directory() + "pdh_full\\vekrun.exe";
    ASSERT_TRUE(CopyFileA((Directory() + "vekrun.exe").c_str(), copy.c_str(), FALSE));
    SetEnvironmentVariableA("PDH_DOUBLE_REFUSE_LOAD", "1");
    EXPECT_EQ(test::Run("\"" + copy + "\" --dll \"" + Directory() + "vekproc.dll\" --doctor", &out), 1u);
    if (vek::UnderWine()) EXPECT_NE(out.find("libraries         PROBLEM: PDH.DLL is Wine's, whose PdhParseCounterPathA, PdhConnectMachineA and PdhBrowseCountersA "
                       "are stubs, so tParseCntrPath, tRemoteConn and tBrowseCntrs are unavailable (211)"), std::string::npos) << out;
    SetEnvironmentVariableA("PDH_DOUBLE_REFUSE_LOAD", nullptr);
    SetCurrentDirectoryA(Directory().c_str());
    EXPECT_EQ(test::Run("\"" + copy + "\" tVersion", &out), 3u) << out;
    DeleteFileA(copy.c_str());
}

// stdin's first line is answered while stdin stays open, as a person or a program feeding vekrun
// waits for it; a reader that goes away ends a sampling run at once, with exit status 1.
TEST(Vekrun, StdinIsAnsweredLineByLineAndAGoneReaderEndsTheRun) {
    for (const int run : {0, 1, 2}) {  // stdin answered; the reader goes while sampling; gone before one call writes
        SCOPED_TRACE(run);
        const bool readerGoes = run > 0;
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE in[2], out[2], err[2];  // read and write ends
        ASSERT_TRUE(CreatePipe(&in[0], &in[1], &inherit, 0) && CreatePipe(&out[0], &out[1], &inherit, 0) &&
                    CreatePipe(&err[0], &err[1], &inherit, 0));
        for (HANDLE own : {in[1], out[0], err[0]}) SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
        if (run == 2) CloseHandle(out[0]);
        PROCESS_INFORMATION child;
        ASSERT_TRUE(Start("\"" + Directory() + "vekrun.exe\" " + (run == 0 ? "--script -" : run == 1 ? "--every 0.05 tVersion" : "tVersion"), &child,
                          in[0], out[1], err[1]));
        for (HANDLE theirs : {in[0], out[1], err[1]}) CloseHandle(theirs);
        DWORD got = 0;
        WriteFile(in[1], "tVersion\n", 9, &got, nullptr);
        std::string shown, said;
        for (ULONGLONG end = GetTickCount64() + 10000; run < 2 && shown.find("44017") == std::string::npos && GetTickCount64() < end; Sleep(10)) ReadWaiting(out[0], &shown);
        EXPECT_TRUE(run == 2 || shown.find("44017") != std::string::npos) << shown;
        CloseHandle(in[1]);
        if (run < 2) CloseHandle(out[0]);
        if (WaitForSingleObject(child.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(child.hProcess, 999);
        EXPECT_TRUE(GetExitCodeProcess(child.hProcess, &got) && got == (readerGoes ? 1u : 0u)) << "exit " << got;
        ReadWaiting(err[0], &said);
        EXPECT_EQ(said.find("vekrun: the output cannot be written (error "), readerGoes ? 0u : std::string::npos) << said;
        for (HANDLE handle : {err[0], child.hProcess, child.hThread}) CloseHandle(handle);
    }
}

// vekrun on a terminal, where Wine gives it a real console (ctest runs this through
// script(1)), in code page 850: "ö" (0xF6 in the ANSI code page) written as bytes shows
// as "÷". Wine's msvcrt converts bytes to a console as Latin-1, where Windows' does not:
// the euro sign (0x80) shows only when vekrun converts them itself, from ANSI text and
// from JSON's UTF-8. A long line goes in pieces (stderr redirected), never between the halves of
// a pair where a manifest makes the ANSI code page UTF-8. Sampling ends at Ctrl+C, exit 0. The PDH
// double beside the copy serves Windows' console: no flags on UTF-8, a Ctrl+C left ends the process,
// a pair written in two halves shows as two U+FFFD. A wait that Ctrl+C ends is no success.
constexpr char kUtf8Setting[] = "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
    "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage></windowsSettings></application>";
BOOL WINAPI TakeCtrlC(DWORD) { return TRUE; }
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
    // A script of calls 300 ms long each, stopped by Ctrl+C after the call under way.
    const std::string slow = Directory() + "vekrun_slow.vek";
    std::string calls;
    for (int i = 0; i < 20; ++i) calls += "tGetData \"\\System\\System Up Time\" 0\n";
    ASSERT_TRUE(Save(slow, calls));
    const struct { std::string args; std::wstring shown; bool first, quiet, interrupted = false, utf8 = false, refused = false; DWORD exit = 0; } rows[] = {
        {dll + "tListMod $PID 1", L"vekrun_\u00F6\u20AC.exe", false, false},
        {dll + "--json tListMod $PID 1", L"vekrun_\u00F6\u20AC.exe", false, false},
        {" --dll J\xF6\x80rg.dll tVersion", L"vekrun: cannot load J\u00F6\u20ACrg.dll", true, false},
        {" --json --dll J\xF6\x80rg.dll tVersion", L"vekrun: cannot load J\u00F6\u20ACrg.dll", false, false},  // stderr stays ANSI
        {dll + "tVersion", L"44017", true, false, false, false, true},  // a console that takes no UTF-16 gets the bytes
        {dll + "--script \"" + script + "\"", L"> tGetData \"" + std::wstring(8179, L'x') + L"\U0001F600\" 0", true, true, false, true},
        {dll + "--script \"" + slow + "\"", L"vekrun: interrupted at ", false, false, true, false, false, STATUS_CONTROL_C_EXIT},
        {dll + "--every 0.05 tVersion", L"time                           tVersion", true, false, true},
        {dll + "--wait " + std::to_string(GetCurrentProcessId()), L"vekrun: interrupted while waiting", false, false, true, false, false, STATUS_CONTROL_C_EXIT},
    };
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    for (const auto& row : rows) {
        SCOPED_TRACE("vekrun" + row.args);
        FillConsoleOutputCharacterW(screen, L' ', cells, {0, 0}, &done);
        SetConsoleCursorPosition(screen, {0, 0});
        if (row.utf8) ASSERT_TRUE(CopyBesideDouble(copy, kUtf8Setting));
        SetEnvironmentVariableA("PDH_DOUBLE_CONSOLE_REFUSES", row.refused ? "1" : nullptr);
        PROCESS_INFORMATION child;
        ASSERT_TRUE(Start("\"" + copy + "\"" + row.args, &child, nullptr, row.quiet ? screen : nullptr, nul));
        // Ctrl+C to the console, which this test ignores, but not before the child is running.
        // (Ignored here by a handler of the test's own: ignoring it outright would pass to the next child.)
        if (row.interrupted && WaitForSingleObject(child.hProcess, 500) == WAIT_TIMEOUT && SetConsoleCtrlHandler(TakeCtrlC, TRUE)) GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        if (WaitForSingleObject(child.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(child.hProcess, 999);
        if (row.interrupted) EXPECT_TRUE(GetExitCodeProcess(child.hProcess, &done) && done == row.exit) << "exit " << done;
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
    DeleteFileA(slow.c_str());
}
