// vekrun's text on its way out, and the usage line.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "options.h"

namespace vekrun {

// Whether stdout carries UTF-8 (--json, --csv) rather than ANSI text; ANSI
// until this is said.
void SetUtf8Output(bool utf8);
// To stdout or stderr: on a console as UTF-16, so that it shows right in the
// console's own code page; redirected, the bytes as they are.
void Write(FILE* stream, const std::string& text);
void Print(FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
// Whether stdout refused a write (a full disk, a pipe whose reader is gone);
// the first refusal is said on stderr, and vekrun ends with kExitCallFailed.
bool OutputFailed();
// Ctrl+C (and Ctrl+Break) caught from here on, rather than ending vekrun:
// the work stops after the call under way, which asks Interrupted().
void CatchCtrlC();
bool Interrupted();
// A usage problem: its line on stderr (and a pointer to --help), or with
// --json its object on stdout; kExitUsage.
int UsageProblem(const Options& options, const std::string& problem);
// One that a system code explains (a file that cannot be read): its words
// beside the problem, and with --json in "code" and "reason".
int UsageProblem(const Options& options, const std::string& problem, int32_t code,
                 const std::string& reason);
// Several, each at its line of a script (0 for none), then one pointer to --help.
struct LinedProblem {
    int line;
    std::string problem;
};
int UsageProblems(const Options& options, const std::vector<LinedProblem>& problems);

}  // namespace vekrun
