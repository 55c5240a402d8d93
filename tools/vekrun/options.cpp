// vekrun's command line: options, their values and their conflicts.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "json_text.h"
#include "options.h"
#include "console.h"
#include "keyword_help.h"
#include "text.h"

namespace vekrun {

namespace {

const char kUsage[] =
    "usage: vekrun [options] KEYWORD [ARG...]   make one keyword call\n"
    "       vekrun [options] --every SECONDS [--samples N] KEYWORD [ARG...]\n"
    "                                           repeat one call, a sample every SECONDS\n"
    "       vekrun [options] --every SECONDS [--samples N] --script FILE\n"
    "                                           every call of the file each sample, a\n"
    "                                           column (JSON: a value) a call\n"
    "       vekrun [options] --script FILE      one call per line ('-' reads stdin)\n"
    "       vekrun [options] --keywords         list the extender's keywords and their arguments\n"
    "       vekrun --help KEYWORD               a keyword's arguments, result and messages\n"
    "       vekrun [options] --about            the extender's description and version\n"
    "       vekrun [options] --version          vekrun's version and the extender's\n"
    "       vekrun [options] --doctor           check what the extender needs of this\n"
    "                                           machine, and say how to mend what fails\n"
    "\n"
    "options (also after the keyword; '--' ends them, and a negative number is an argument):\n"
    "  --dll PATH           the extender to load (default: vekproc.dll beside vekrun);\n"
    "                       any option's value may also follow '=': --dll=PATH\n"
    "  --host-version N     the host version given to initialise (default 1004)\n"
    "  --list               print a list result one item per line, \"name|number\"\n"
    "                       items as two aligned columns, and the figures of\n"
    "                       tGetProcInfo, tGetModInfo and tParseCntrPath as named\n"
    "                       fields, one \"name value\" line each\n"
    "  --json               every line on stdout is one JSON value (UTF-8): a number\n"
    "                       (the decimal texts of tGetData and tBrowseCntrs format 1\n"
    "                       included), a string, an array of objects for a list, an\n"
    "                       object of named fields for a record, {\"cancelled\": true}\n"
    "                       for a cancelled dialog, {\"time\": ..., \"value\": ...} for a\n"
    "                       sample; every failure {\"error\": \"call\", \"usage\" or\n"
    "                       \"load\", \"id\": its message number or null, \"message\":\n"
    "                       text, \"code\": the code it kept or null, \"reason\": text or\n"
    "                       null}; in a script {\"line\": N, \"value\": ...} and failures\n"
    "                       with \"line\"; a script's lines are echoed on stderr\n"
    "  --every SECONDS      repeat the call (0.01 to 86400 seconds apart) until\n"
    "                       --samples N are taken or Ctrl+C (which ends it after the\n"
    "                       current sample): a table with the time of each sample and a\n"
    "                       column a field; a failing sample leaves its cells empty and\n"
    "                       prints its time and reason on stderr, and the sampling goes\n"
    "                       on, unless the first sample finds no such counter,\n"
    "                       process or handle; with --script FILE, every call of the\n"
    "                       file each sample\n"
    "  --samples N          with --every: the number of samples, 1 to 2147483647\n"
    "  --csv                with --every: the CSV that Performance Monitor and typeperf\n"
    "                       write (PDH-CSV 4.0, UTF-8), for relog, PAL or Excel\n"
    "  --raw                pass any number of arguments, and any text where a number\n"
    "                       goes, through unchecked, as a host would, and read no kept\n"
    "                       code after a failure\n"
    "  --keep-going         in a script, go on after a failing call\n"
    "  --quiet, -q          in a script, leave out the echo of each line\n"
    "  --version, -V        vekrun's version and the extender's\n"
    "  --help, -h, -?, /?   this text\n"
    "\n"
    "Keyword names are case-insensitive. A call must give as many arguments as\n"
    "the keyword takes (vekrun --keywords names them), and a whole decimal number\n"
    "where a number goes (PID, MODE, CLASS, FORMAT, MODULE, HANDLE); a CLASS may\n"
    "also be named as PowerShell names it ('tSetPriority 1234 BelowNormal': Idle,\n"
    "BelowNormal, Normal, AboveNormal, High, RealTime), and a MODULE written in\n"
    "hex ('tGetModInfo 1234 0x140000000'). Arguments are taken as typed, never\n"
    "by best fit: fullwidth digits are no digits, and an argument that the ANSI\n"
    "code page cannot hold is refused, never passed on as '?'. An integer\n"
    "result prints as a number, a text result as it stands. A failing call prints\n"
    "on stderr the call, its message and the reason: the code the failure kept\n"
    "and the system's or PDH's text for it.\n"
    "A script is ANSI, UTF-8 (with or without a byte-order mark) or UTF-16 with\n"
    "its byte-order mark. Arguments are separated by blanks; an argument holding\n"
    "blanks is written in double quotes, where \"\" stands for one double quote\n"
    "(\"\" alone is an empty argument); '#' starts a comment. Every line of a file\n"
    "is checked before the first runs; a problem is named with its file and line\n"
    "number, and nothing runs. stdin runs each line as it arrives. A call that\n"
    "fails names its place too: 'vekrun: e3.vek:2: tGetPriority 99999: 201: ...'.\n"
    "$PID stands for vekrun's own process id (in PowerShell write '$PID', in single\n"
    "quotes); in a script, $LAST for the previous call's result: 'tOpenProc $PID 2'\n"
    "then 'tCloseProc $LAST', and a line '$h = tOpenProc $PID 3' keeps its result as\n"
    "$h for the lines after it ('tKillProc $h', then 'tCloseProc $h'); a name used\n"
    "before a line sets it stops the script before it runs. A handle lives as long\n"
    "as the vekrun that opened it.\n"
    "\n"
    "exit status: 0 success, 1 a call failed (with --every: any sample failed;\n"
    "             with --doctor: a check failed), or the output could not be\n"
    "             written, 2 the counter dialog was cancelled, 3 the extender\n"
    "             could not be loaded or initialised, 64 bad usage\n";

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
        case Action::kVersion: return "--version";
        case Action::kHelp: return "--help";
        case Action::kCall: break;
    }
    return "a keyword call";
}

}  // namespace

namespace {

// The options, as curl's tool lists its own: names, and what a value is.
enum class Opt {
    kDll,
    kHostVersion,
    kList,
    kJson,
    kCsv,
    kRaw,
    kKeepGoing,
    kQuiet,
    kEvery,
    kSamples,
    kKeywords,
    kAbout,
    kDoctor,
    kScript,
    kVersion,
    kHelp
};
struct OptionRow {
    const char* names;  // blank-separated
    Opt id;
    const char* missing;  // for an option that takes a value: the problem without one
};
const OptionRow kOptions[] = {
    {"--dll", Opt::kDll, "--dll needs the extender's path"},
    {"--host-version", Opt::kHostVersion, "--host-version needs a number"},
    {"--list", Opt::kList, nullptr},
    {"--json", Opt::kJson, nullptr},
    {"--csv", Opt::kCsv, nullptr},
    {"--raw", Opt::kRaw, nullptr},
    {"--keep-going", Opt::kKeepGoing, nullptr},
    {"--quiet -q", Opt::kQuiet, nullptr},
    {"--every", Opt::kEvery, "--every needs a number of seconds"},
    {"--samples", Opt::kSamples, "--samples needs a count"},
    {"--keywords", Opt::kKeywords, nullptr},
    {"--about", Opt::kAbout, nullptr},
    {"--doctor", Opt::kDoctor, nullptr},
    {"--script", Opt::kScript, "--script needs a file ('-' reads stdin)"},
    {"--version -V", Opt::kVersion, nullptr},
    {"--help -h -? /?", Opt::kHelp, nullptr},
};

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& option : kOptions) {
        for (const std::string& alias : SplitText(option.names, ' ')) {
            if (alias == name) return &option;
        }
    }
    return nullptr;
}

// A word after the keyword that is an option rather than an argument:
// anything starting with '-' except a negative number (a handle may be one).
bool LooksLikeOption(const std::string& word) {
    return word == "/?" ||
           (word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9'));
}

}  // namespace

int ParseOptions(int argc, char** argv, Options& options) {
    options.dllPath = DefaultDllPath();
    // The first problem is said once the whole line is read, so that --json
    // shapes it wherever it stands.
    std::string problem;
    auto fail = [&](const std::string& what) {
        if (problem.empty()) problem = what;
    };
    auto setAction = [&](Action action) {
        if (options.action != Action::kCall && options.action != action) {
            fail(std::string(ActionOption(options.action)) + " and " + ActionOption(action) +
                 " cannot go together");
        }
        options.action = action;
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded ||
            (!options.words.empty() ? !LooksLikeOption(arg) : (arg[0] != '-' && arg != "/?"))) {
            options.words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.compare(0, 2, "--") == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const OptionRow* option = FindOption(name);
        if (!option) {
            fail("unknown option " + name);
            continue;
        }
        const char* given = nullptr;
        if (option->missing && equals != std::string::npos) {
            given = argv[i] + equals + 1;
        } else if (option->missing && i + 1 < argc) {
            given = argv[++i];
        } else if (option->missing) {
            fail(option->missing);
            continue;
        } else if (equals != std::string::npos) {
            fail(name + " takes no value");
        }
        char* end = nullptr;
        switch (option->id) {
            case Opt::kHelp: setAction(Action::kHelp); break;
            case Opt::kVersion: setAction(Action::kVersion); break;
            case Opt::kDll: options.dllPath = given; break;
            case Opt::kHostVersion: {
                const unsigned long long version = strtoull(given, &end, 10);
                if (!*given || *end || given[0] == '-' || given[0] == '+' ||
                    version > 0xFFFFFFFFull) {
                    fail("--host-version takes a whole number from 0 to 4294967295, not '" +
                         std::string(given) + "'");
                }
                options.hostVersion = static_cast<uint32_t>(version);
                break;
            }
            case Opt::kList: options.list = true; break;
            case Opt::kJson: options.json = true; break;
            case Opt::kCsv: options.csv = true; break;
            case Opt::kRaw: options.raw = true; break;
            case Opt::kKeepGoing: options.keepGoing = true; break;
            case Opt::kQuiet: options.quiet = true; break;
            // Below 10 ms a sample would follow a sample with no pause, and the
            // C library rounds a tiny number to 0: a run that never ends.
            case Opt::kEvery:
                options.everySeconds = strtod(given, &end);
                if (end == given || *end || !(options.everySeconds >= 0.01) ||
                    options.everySeconds > 86400) {
                    fail("--every takes a number of seconds from 0.01 to 86400, not '" +
                         std::string(given) + "'");
                    options.everySeconds = 1;
                }
                break;
            case Opt::kSamples: {
                errno = 0;
                const long long samples = strtoll(given, &end, 10);
                if (end == given || *end || errno || samples < 1 || samples > 2147483647) {
                    fail("--samples takes a count from 1 to 2147483647, not '" +
                         std::string(given) + "'");
                }
                options.samples = static_cast<long>(samples);
                break;
            }
            case Opt::kKeywords: setAction(Action::kKeywords); break;
            case Opt::kAbout: setAction(Action::kAbout); break;
            case Opt::kDoctor: setAction(Action::kDoctor); break;
            case Opt::kScript:
                setAction(Action::kScript);
                options.scriptFile = given;
                break;
        }
    }
    const bool call = !options.words.empty();
    const bool sampling = options.everySeconds > 0;
    if (options.action == Action::kHelp) {
        if (problem.empty() && !call) {
            Print(stdout, "%s", kUsage);
            return kExitOk;
        }
        if (problem.empty() && options.words.size() == 1) return PrintHelp(options);
        if (options.words.size() > 1)
            fail("--help takes one keyword, not " + std::to_string(options.words.size()));
    }
    if (call && options.action != Action::kCall && options.action != Action::kHelp) {
        fail(std::string(ActionOption(options.action)) + " takes no keyword, but '" +
             options.words[0] + "' was given");
    }
    if (!call && options.action == Action::kCall) fail("no keyword given");
    if (!sampling && options.csv) fail("--csv goes with --every");
    if (!sampling && options.samples) fail("--samples goes with --every");
    if (sampling && options.action == Action::kScript && options.scriptFile == "-") {
        fail("--every samples the calls of a file, which stdin is not: --script FILE");
    } else if (sampling && options.action != Action::kCall && options.action != Action::kScript) {
        fail(std::string("--every and ") + ActionOption(options.action) +
             " cannot go together: --every samples a keyword call or a script's calls");
    }
    if (options.csv && options.json) fail("--csv and --json cannot go together");
    if (options.csv && options.list) fail("--csv and --list cannot go together");
    if (options.quiet && options.action != Action::kScript) fail("--quiet goes with --script");
    if (problem.empty()) return -1;
    return UsageProblem(options, problem);
}

}  // namespace vekrun
