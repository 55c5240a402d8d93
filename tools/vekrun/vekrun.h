// vekrun: a command-line host for VEK extenders. What its parts share: the
// options, the loaded extender and the result of the last call.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "vek_host.h"

namespace vekrun {

// Exit statuses a script can trust.
constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitCancelled = 2;
constexpr int kExitNoExtender = 3;
constexpr int kExitUsage = 64;

enum class Action { kCall, kKeywords, kScript, kAbout, kDoctor };

struct Options {
    Action action = Action::kCall;
    std::string dllPath;
    std::string scriptFile;
    uint32_t hostVersion = vek::kMinimumHostVersion;
    bool list = false;
    bool json = false;
    bool csv = false;
    bool raw = false;
    bool keepGoing = false;
    double everySeconds = 0;  // 0: one call
    long samples = 0;         // 0: until Ctrl+C
    std::vector<std::string> words;  // the keyword and its arguments
};

// ---- Text out (console.cpp) ----------------------------------------------

// Whether stdout carries UTF-8 (--json, --csv) rather than ANSI text.
extern bool utf8Output;
// To stdout or stderr: on a console as UTF-16, so that it shows right in the
// console's own code page; redirected, the bytes as they are.
void Write(FILE* stream, const std::string& text);
void Print(FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// ---- Options (options.cpp) ----------------------------------------------

// Reads the command line into `options`: -1 when vekrun goes on, else the
// exit status (kExitOk after --help; kExitUsage after the problem was said,
// on stdout as JSON with --json and on stderr).
int ParseOptions(int argc, char** argv, Options& options);
// A usage problem found after the command line was read, said the same way.
int UsageProblem(const Options& options, const std::string& problem);

// ---- The host protocol (extender.cpp) -------------------------------------

struct Extender {
    HMODULE module = nullptr;
    vek::VEKExtender2Proc call = nullptr;
    vek::VEKExtenderQueryProc query = nullptr;
    vek::HostContext context = {};
    std::vector<vek::KeywordEntry> keywords;
};

// What the callback copied while the extender's storage was alive.
struct Received {
    int calls = 0;
    int32_t status = 0;
    int32_t type = 0;
    int32_t value = 0;
    std::string text;
};
extern Received received;

// Loads, queries, initialises and enumerates; false after saying why.
bool Load(Extender& ext, const Options& options);
void Unload(Extender& ext);
// Makes the call the words name: kExitOk with `received` filled, or an exit
// status (a usage problem, said; a cancelled dialog).
int Invoke(Extender& ext, const Options& options, std::vector<std::string>& words);
std::string Lower(std::string text);
// The system's own words for an error code, without the line break.
std::string SystemText(DWORD code);

// ---- Output forms (output.cpp) --------------------------------------------

std::vector<std::string> SplitText(const std::string& text, char separator);
// One call, printed as the options say; its exit status.
int Call(Extender& ext, const Options& options, std::vector<std::string> words);
// The last result as one JSON value.
std::string Json(const std::string& keyword, const std::vector<std::string>& words);
void PrintKeywords(const Extender& ext);
// ANSI text as UTF-8, as JSON and CSV are written.
std::string Utf8(const std::string& ansi);
std::string CsvField(const std::string& text);

// ---- Sampling (sampling.cpp) and scripts (script.cpp) -----------------------

int Sample(Extender& ext, const Options& options, const std::vector<std::string>& words);
int RunScript(Extender& ext, const Options& options);

// ---- The doctor (doctor.cpp) ----------------------------------------------

int Doctor(Extender& ext, const Options& options);

}  // namespace vekrun
