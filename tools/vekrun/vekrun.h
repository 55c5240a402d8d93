// vekrun: a command-line host for VEK extenders. What its parts share: the
// options, the loaded extender and the result of the last call.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "message_ids.h"
#include "vek_host.h"

namespace vekrun {

// Exit statuses a script can trust.
constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitCancelled = 2;
constexpr int kExitNoExtender = 3;
constexpr int kExitUsage = 64;

enum class Action { kCall, kKeywords, kScript, kAbout, kDoctor, kVersion, kHelp };

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
    bool quiet = false;
    double everySeconds = 0;  // 0: one call
    long samples = 0;         // 0: until Ctrl+C
    // In a script: its name ("stdin") and the line that runs or is checked.
    std::string place;
    int line = 0;
    // The keyword and its arguments (with --help, the keyword asked about).
    std::vector<std::string> words;
};

// ---- Text out (console.cpp) ----------------------------------------------

// Whether stdout carries UTF-8 (--json, --csv) rather than ANSI text.
extern bool utf8Output;
// To stdout or stderr: on a console as UTF-16, so that it shows right in the
// console's own code page; redirected, the bytes as they are.
void Write(FILE* stream, const std::string& text);
void Print(FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
// Whether stdout refused a write (a full disk, a pipe whose reader is gone);
// the first refusal is said on stderr, and vekrun ends with kExitCallFailed.
bool OutputFailed();
// A usage problem: its line on stderr (and a pointer to --help), or with
// --json its object on stdout; kExitUsage.
int UsageProblem(const Options& options, const std::string& problem);

// ---- Words and codes as text (text.cpp) -----------------------------------

std::string Lower(std::string text);
// "error 87: The parameter is incorrect" or "PDH status 0xC0000BB9: ...": a
// kept code in words, from the system's message table or PDH's; inserts
// such as %1 get `insert`. Empty for code 0.
std::string CodeText(int32_t code, const std::string& insert = std::string());
// The system's own words for an error code, without the line break; empty
// when it has none.
std::string SystemText(DWORD code);
std::vector<std::string> SplitText(const std::string& text, char separator);

// ---- Options (options.cpp) ----------------------------------------------

// Reads the command line into `options`: -1 when vekrun goes on, else the
// exit status (kExitOk after --help; kExitUsage after the problem was said,
// on stdout as JSON with --json and on stderr).
int ParseOptions(int argc, char** argv, Options& options);
// UTF-16 as ANSI without best fit; false when the code page lacks a character.
bool ToAnsi(const std::wstring& wide, std::string& ansi);

// ---- The host protocol (extender.cpp) -------------------------------------

struct Extender {
    HMODULE module = nullptr;
    vek::VEKExtender2Proc call = nullptr;
    vek::VEKExtenderQueryProc query = nullptr;
    vek::HostContext context = {};
    std::vector<vek::KeywordEntry> keywords;
};

// What the callback copied while the extender's storage was alive, and,
// after a failure, the code the extender kept (read with tGetLastError).
struct Result {
    int calls = 0;
    int32_t status = 0;
    int32_t type = 0;
    int32_t value = 0;
    std::string text;
    bool codeRead = false;
    int32_t code = 0;
    bool Failed() const { return status != vek::kStatusSuccess; }
    int MessageId() const { return Failed() ? atoi(text.c_str()) : 0; }
    // The result as a script's $LAST takes it: an integer in decimal, or the text.
    std::string Value() const { return type == vek::kResultInteger ? std::to_string(value) : text; }
};

// Loads, queries, initialises and enumerates; false after saying why (as
// JSON too with --json).
bool Load(Extender& ext, const Options& options);
void Unload(Extender& ext);
// The extender's keyword of that name, in any case; null when it has none.
const vek::KeywordEntry* FindKeyword(const Extender& ext, const std::string& word);
// What is wrong with a call before it is made (no such keyword, a wrong
// argument count, an argument that is no number where one goes), or empty.
// $PID and, when `last` is given, $LAST are put in first.
std::string CallProblem(const Extender& ext, const Options& options,
                        std::vector<std::string>& words, const std::string* last = nullptr);
// Makes the call the words name: kExitOk with `result` filled, or an exit
// status (a usage problem, said; a cancelled dialog). After a failure the
// kept code is read, unless --raw asks for the extender's calls alone.
int Invoke(Extender& ext, const Options& options, std::vector<std::string>& words, Result& result,
           const std::string* last = nullptr);
// A failure in one line: the call as it went, the message, and the reason
// in parentheses: "tGetPriority 999999: 201: Open Process Failed (error 87: ...)".
std::string Reason(const Result& result);
std::string FailureLine(const std::vector<std::string>& words, const Result& result);

// ---- Output forms (output.cpp) --------------------------------------------

// One call, printed as the options say; its exit status.
int Call(Extender& ext, const Options& options, std::vector<std::string> words,
         const std::string* last = nullptr, Result* kept = nullptr);
// A result as one JSON value; a failure as json::Failure's object, kind "call".
std::string Json(const Result& result, const std::vector<std::string>& words, int line = 0);
// "FILE:LINE: " in a script, else nothing.
std::string Place(const Options& options);
// The result's named fields, or null: the records of tGetProcInfo,
// tGetModInfo and tParseCntrPath. A field name starting with '$' is text.
const std::vector<const char*>* RecordFields(const std::string& keyword, const Result& result);
void PrintKeywords(const Extender& ext, const Options& options);

// ---- What vekrun knows of each keyword (keyword_help.cpp) -----------------

struct KeywordHelp {
    const char* name;  // as the reference spells it
    const char* args;  // the arguments' names, blank-separated
    const char* result;
    const char* messages;
};
const KeywordHelp* FindHelp(const std::string& name);
// A whole decimal number in the argument's range, where the argument is one
// (PID, MODE, CLASS, FORMAT, MODULE, HANDLE); else the problem. A class's
// name and a module's hex address are written as the decimal number.
std::string ArgumentProblem(const char* argName, std::string& text);
// PowerShell's name of a priority class, or null.
const char* PriorityName(int32_t priorityClass);
std::string ArgumentName(const KeywordHelp* help, size_t index);
int PrintHelp(const Options& options);
std::string CsvField(const std::string& text);

// ---- Sampling (sampling.cpp) and scripts (script.cpp) -----------------------

// One call of a sample: its words, and its line in a script (0: the command line).
struct SampledCall {
    std::vector<std::string> words;
    int line = 0;
};
int Sample(Extender& ext, const Options& options, const std::vector<SampledCall>& calls);
int RunScript(Extender& ext, const Options& options);

// ---- The doctor (doctor.cpp) ----------------------------------------------

int Doctor(Extender& ext, const Options& options);

}  // namespace vekrun
