// vekrun's options, what the command line asks for, and the exit statuses
// a script can trust.
#pragma once

#include <stdint.h>

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
// --wait's --timeout passed first, as GNU timeout says it.
constexpr int kExitTimedOut = 124;
// A script stopped by Ctrl+C: what a console program that Ctrl+C ends gives
// on Windows (STATUS_CONTROL_C_EXIT).
constexpr int kExitInterrupted = static_cast<int>(0xC000013Au);

enum class Action {
    kCall,
    kKeywords,
    kScript,
    kAbout,
    kDoctor,
    kVersion,
    kHelp,
    kProcs,
    kKill,
    kWait,
    kCounters
};

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
    // The process jobs: the name patterns (any of them), the table's fields
    // and sort as given, and the switches of --kill and --wait.
    std::vector<std::string> matches;
    std::string fields;
    std::string sort;
    bool tree = false;
    bool dryRun = false;
    bool any = false;
    double timeoutSeconds = 0;  // 0: none
    // Where sampling's rounds go instead of stdout, and its pieces: a piece
    // ends before it would pass rotateBytes or once rotateSeconds have
    // passed; the newest `keep` are kept (0: all).
    std::string outputFile;
    unsigned long long rotateBytes = 0;
    double rotateSeconds = 0;
    long keep = 0;
    // Prometheus's text exposition format, as a third output form.
    bool prom = false;
    // In a script: its name ("stdin") and the line that runs or is checked.
    std::string place;
    int line = 0;
    // The keyword and its arguments (with --help, the keyword asked about;
    // with --kill and --wait, the process ids).
    std::vector<std::string> words;
    // Where each word stood on the command line (its index there).
    std::vector<int> wordPlaces;
};

// Reads the command line into `options`: the first problem with it, or an
// empty text. Prints nothing.
std::string ParseOptions(int argc, char** argv, Options& options);
// The options that cannot go together, or not without another: the first
// problem, or an empty text.
std::string CombinationProblem(const Options& options);
// The usage text of --help.
std::string UsageText();

}  // namespace vekrun
