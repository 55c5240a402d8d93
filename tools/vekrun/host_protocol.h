// The host protocol, as the interpreter drives it: the loaded extender and
// the result of a call.
#pragma once

#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "options.h"
#include "owner.h"
#include "vek_host.h"

namespace vekrun {

struct Extender {
    // Freed after the terminate call (Unload), or when vekrun ends.
    vek::LibraryGuard module;
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
    // The call as typed (its names put in, its numbers as written: High,
    // not 128), and the process id it names, where it takes one.
    std::vector<std::string> typed;
    std::string processId;
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
// $PID and, when `last` is given, $LAST are put in first; `typed` (may be
// null) gets the call so, before its numbers are read.
std::string CallProblem(const Extender& ext, const Options& options,
                        std::vector<std::string>& words, const std::string* last = nullptr,
                        std::vector<std::string>* typed = nullptr);
// Makes the call the words name: kExitOk with `result` filled, or an exit
// status (a usage problem, said; a cancelled dialog). After a failure the
// kept code is read, unless --raw asks for the extender's calls alone.
int Invoke(Extender& ext, const Options& options, std::vector<std::string>& words, Result& result,
           const std::string* last = nullptr);
// A failure in one line: the call as it went, the message, and the reason
// in parentheses: "tGetPriority 999999: 201: Open Process Failed (error 87: ...)".
std::string Reason(const Result& result);
std::string FailureLine(const std::vector<std::string>& words, const Result& result);

}  // namespace vekrun
