// vekrun's command line: options, their values and their conflicts.
#include <stdlib.h>
#include <string.h>

#include "json_text.h"
#include "vekrun.h"

namespace vekrun {

namespace {

const char kUsage[] =
    "usage: vekrun [options] KEYWORD [ARG...]   make one keyword call\n"
    "       vekrun [options] --every SECONDS [--samples N] [--csv] KEYWORD [ARG...]\n"
    "                                           repeat one call, a sample every SECONDS\n"
    "       vekrun [options] --keywords         list the extender's keywords\n"
    "       vekrun [options] --script FILE      one call per line ('-' reads stdin)\n"
    "       vekrun [options] --about            the extender's description and version\n"
    "       vekrun [options] --doctor           check what the extender needs of this\n"
    "                                           machine, and say how to mend what fails\n"
    "\n"
    "options:\n"
    "  --dll PATH           the extender to load (default: vekproc.dll beside vekrun)\n"
    "  --host-version N     the host version given to initialise (default 1004)\n"
    "  --list               print a list result one item per line, \"name|number\"\n"
    "                       items as two aligned columns, and the figures of\n"
    "                       tGetProcInfo, tGetModInfo and tParseCntrPath as named\n"
    "                       fields, one \"name value\" line each\n"
    "  --json               every line on stdout is one JSON value (UTF-8): a number\n"
    "                       (the decimal texts of tGetData and tBrowseCntrs format 1\n"
    "                       included), a string, an array of objects for a list, an\n"
    "                       object of named fields for a record, {\"error\": id,\n"
    "                       \"message\": text} for a failure, {\"error\": \"usage\",\n"
    "                       \"message\": text} for bad usage, {\"cancelled\": true} for a\n"
    "                       cancelled dialog; a script's lines are echoed on stderr\n"
    "  --every SECONDS      repeat the call until --samples N are taken or Ctrl+C\n"
    "                       (which ends it after the current sample); a failing\n"
    "                       sample prints its message and time on stderr, and the\n"
    "                       sampling goes on\n"
    "  --csv                with --every: as typeperf writes it, in UTF-8: a header\n"
    "                       line (\"time\", then the counter path for tGetData, else\n"
    "                       the keyword and its arguments) and one line a sample:\n"
    "                       ISO 8601 local time, the value (empty when it failed)\n"
    "  --raw                pass any number of arguments through unchecked\n"
    "  --keep-going         in a script, go on after a failing call\n"
    "  --help               this text\n"
    "\n"
    "Keyword names are case-insensitive. A call must give as many arguments as\n"
    "the keyword takes (vekrun --keywords shows the counts). An integer result\n"
    "prints as a number, a text result as it stands. A failing call prints its\n"
    "message on stderr.\n"
    "A script is ANSI, UTF-8 (with or without a byte-order mark) or UTF-16 with\n"
    "its byte-order mark, as PowerShell writes it. Arguments are separated by\n"
    "blanks; an argument holding blanks is written in double quotes, where \"\"\n"
    "stands for one double quote (\"\" alone is an empty argument); '#' starts a\n"
    "comment. A line that cannot be read or split is refused with its file and\n"
    "line number, and nothing of it runs.\n"
    "An argument $PID stands for vekrun's own process id; in PowerShell write it\n"
    "in single quotes ('$PID'), or PowerShell puts in its own.\n"
    "\n"
    "exit status: 0 success, 1 a call failed (with --every: any sample failed;\n"
    "             with --doctor: a check failed), 2 the counter dialog was\n"
    "             cancelled, 3 the extender could not be loaded or initialised,\n"
    "             64 bad usage\n";

// The extender beside vekrun, by its full path: a bare name would be looked
// for through the search path, the current directory among its folders.
// Without a path of its own (none that fits the longest a path can be),
// there is nothing to load.
std::string DefaultDllPath() {
    constexpr DWORD kPathCapacity = 32768;
    std::string path(kPathCapacity, '\0');
    DWORD length = GetModuleFileNameA(nullptr, &path[0], kPathCapacity);
    const size_t slash = path.find_last_of("\\/", length);
    if (length == 0 || length >= kPathCapacity || slash == std::string::npos) return std::string();
    return path.substr(0, slash + 1) + "vekproc.dll";
}

const char* ActionOption(Action action) {
    switch (action) {
        case Action::kKeywords: return "--keywords";
        case Action::kScript: return "--script";
        case Action::kAbout: return "--about";
        case Action::kDoctor: return "--doctor";
        case Action::kCall: break;
    }
    return "a keyword call";
}

}  // namespace

// One line that names the problem and one that points to the help, as git
// and curl say it; the whole help would bury the line that matters.
int UsageProblem(const Options& options, const std::string& problem) {
    Print(stderr, "vekrun: %s\n", problem.c_str());
    if (options.json) {
        Print(stdout, "{\"error\": \"usage\", \"message\": %s}\n", json::Quote(problem).c_str());
        fflush(stdout);
    } else {
        Print(stderr, "Try 'vekrun --help'.\n");
    }
    return kExitUsage;
}

int ParseOptions(int argc, char** argv, Options& options) {
    options.dllPath = DefaultDllPath();
    // The first problem is said once the whole line is read, so that --json
    // shapes it wherever it stands.
    std::string problem;
    auto fail = [&](const std::string& what) {
        if (problem.empty()) problem = what;
    };
    auto value = [&](int& i, const char* missing) -> const char* {
        if (i + 1 < argc) return argv[++i];
        fail(missing);
        return nullptr;
    };
    auto setAction = [&](Action action) {
        if (options.action != Action::kCall && options.action != action) {
            fail(std::string(ActionOption(options.action)) + " and " + ActionOption(action) + " cannot go together");
        }
        options.action = action;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* given = nullptr;
        if (!options.words.empty()) {
            options.words.push_back(arg);  // everything after the keyword is an argument
        } else if (arg == "--help" || arg == "-h") {
            Print(stdout, "%s", kUsage);
            return kExitOk;
        } else if (arg == "--dll") {
            if ((given = value(i, "--dll needs the extender's path"))) options.dllPath = given;
        } else if (arg == "--host-version") {
            if (!(given = value(i, "--host-version needs a number"))) continue;
            char* end = nullptr;
            const unsigned long long version = strtoull(given, &end, 10);
            if (!*given || *end || given[0] == '-' || given[0] == '+' || version > 0xFFFFFFFFull) {
                fail("--host-version takes a whole number from 0 to 4294967295, not '" + std::string(given) + "'");
            }
            options.hostVersion = static_cast<uint32_t>(version);
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--keep-going") {
            options.keepGoing = true;
        } else if (arg == "--every") {
            if (!(given = value(i, "--every needs a number of seconds"))) continue;
            char* end = nullptr;
            options.everySeconds = strtod(given, &end);
            if (end == given || *end || !(options.everySeconds > 0) || options.everySeconds > 86400) {
                fail("--every takes a number of seconds above 0 and at most 86400, not '" + std::string(given) + "'");
                options.everySeconds = 1;
            }
        } else if (arg == "--samples") {
            if (!(given = value(i, "--samples needs a count"))) continue;
            char* end = nullptr;
            options.samples = strtol(given, &end, 10);
            if (end == given || *end || options.samples < 1) {
                fail("--samples takes a count of 1 or more, not '" + std::string(given) + "'");
            }
        } else if (arg == "--keywords") {
            setAction(Action::kKeywords);
        } else if (arg == "--about") {
            setAction(Action::kAbout);
        } else if (arg == "--doctor") {
            setAction(Action::kDoctor);
        } else if (arg == "--script") {
            setAction(Action::kScript);
            if ((given = value(i, "--script needs a file ('-' reads stdin)"))) options.scriptFile = given;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            fail("unknown option " + arg);
        } else {
            options.words.push_back(arg);
        }
    }
    utf8Output = options.json || options.csv;
    const bool call = !options.words.empty();
    const bool sampling = options.everySeconds > 0;
    if (call && options.action != Action::kCall) {
        fail(std::string(ActionOption(options.action)) + " takes no keyword, but '" + options.words[0] + "' was given");
    }
    if (!call && options.action == Action::kCall) {
        fail("no keyword given");
    }
    if (!sampling && options.csv) fail("--csv goes with --every");
    if (!sampling && options.samples) fail("--samples goes with --every");
    if (sampling && options.action != Action::kCall) {
        fail(std::string("--every and ") + ActionOption(options.action) +
             " cannot go together: --every samples one keyword call");
    }
    if (options.csv && options.json) fail("--csv and --json cannot go together");
    if (options.csv && options.list) fail("--csv and --list cannot go together");
    if (problem.empty()) return -1;
    return UsageProblem(options, problem);
}

}  // namespace vekrun
