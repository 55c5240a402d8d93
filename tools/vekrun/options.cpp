// vekrun's command line: options, their values and their conflicts.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "json_text.h"
#include "options.h"
#include "text.h"

namespace vekrun {

namespace {

const char kUsageSynopsis[] =
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
    "       vekrun [options] --procs [--every SECONDS [--samples N]]\n"
    "                                           the processes, from one system snapshot a round\n"
    "       vekrun [options] --kill [--tree] [--dry-run] PID... | --match PATTERN\n"
    "                                           end processes (with --tree their descendants)\n"
    "       vekrun [options] --wait [--any] [--timeout SECONDS] PID... | --match PATTERN\n"
    "                                           wait until they have ended; their exit codes\n"
    "       vekrun [options] --counters [OBJECT] [--match PATTERN]\n"
    "                                           the performance objects, or OBJECT's counter\n"
    "                                           paths in English, as tGetData takes them\n"
    "\n"
    "options (also after the keyword; '--' ends them, and a negative number is an argument):\n";

const char kUsageNotes[] =
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
    "is checked before the first runs; each bad line (up to 20) is named with its\n"
    "file and line number, and nothing runs. stdin runs each line as it arrives,\n"
    "checked just before it runs. A call that fails names its place too:\n"
    "'vekrun: e3.vek:2: tGetPriority 99999: 201: ...'.\n"
    "$PID stands for vekrun's own process id (in PowerShell write '$PID', in single\n"
    "quotes); in a script, $LAST for the previous call's result: 'tOpenProc $PID 2'\n"
    "then 'tCloseProc $LAST', and a line '$h = tOpenProc $PID 3' keeps its result as\n"
    "$h for the lines after it ('tKillProc $h', then 'tCloseProc $h'); a name used\n"
    "before a line sets it stops the script before it runs, and one whose call\n"
    "failed is not set: a line using it fails. A handle lives as long as the\n"
    "vekrun that opened it.\n"
    "\n"
    "exit status: 0 success, 1 a call failed (with --every: any sample failed;\n"
    "             with --doctor: a check failed; with --procs: no process\n"
    "             matched; with --kill: one was not ended; with --wait: one\n"
    "             could not be waited on), or the output could not be\n"
    "             written, 2 the counter dialog was cancelled, 3 the extender\n"
    "             could not be loaded or initialised, 64 bad usage, 124 the\n"
    "             --timeout of --wait passed, 0xC000013A a script or a wait\n"
    "             stopped by Ctrl+C (sampling ends with 0)\n";

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
        case Action::kProcs: return "--procs";
        case Action::kKill: return "--kill";
        case Action::kWait: return "--wait";
        case Action::kCounters: return "--counters";
        case Action::kCall: break;
    }
    return "a keyword call";
}

}  // namespace

namespace {

// What an option's value is, and the one parser of each kind: a text taken
// as it is, a whole number or a number of seconds within the row's range.
enum class ValueKind { kNone, kText, kWholeNumber, kCount, kSeconds, kRotation };

const char* KindNoun(ValueKind kind) {
    switch (kind) {
        case ValueKind::kWholeNumber: return "a whole number";
        case ValueKind::kCount: return "a count";
        case ValueKind::kSeconds: return "a number of seconds";
        default: return "a value";
    }
}

// A whole decimal number, digits alone; false where there are none, where
// anything follows them, or where it is above `high`.
bool ReadWhole(const char* given, double high, double& value) {
    if (*given < '0' || *given > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long whole = strtoull(given, &end, 10);
    value = static_cast<double>(whole);
    return !*end && errno == 0 && value <= high;
}

// Seconds as the C library reads a decimal number. Below 10 ms a sample
// would follow a sample with no pause, and the C library rounds a tiny
// number to 0: a run that never ends.
bool ReadSeconds(const char* given, double& value) {
    char* end = nullptr;
    value = strtod(given, &end);
    return end != given && !*end;
}

// The options, as curl's tool lists its own: names, the value and its
// parser, the switch or the action, and the usage text's lines.
struct OptionRow {
    const char* names;    // blank-separated
    const char* value;    // the value's name, for one that takes a value
    const char* missing;  // the problem without the value
    ValueKind kind;
    double low, high;  // a number's range
    void (*store)(Options& options, const char* text, double number);
    bool Options::*flag;  // for a switch
    Action action;        // for an action (kCall: none)
    const char* help;     // null for an action the synopsis shows
};

// Where each value goes, once its kind's parser has taken it.
void StoreDll(Options& options, const char* text, double) { options.dllPath = text; }
void StoreScript(Options& options, const char* text, double) { options.scriptFile = text; }
void StoreHostVersion(Options& options, const char*, double number) {
    options.hostVersion = static_cast<uint32_t>(number);
}
void StoreEvery(Options& options, const char*, double number) { options.everySeconds = number; }
void StoreSamples(Options& options, const char*, double number) {
    options.samples = static_cast<long>(number);
}
void StoreMatch(Options& options, const char* text, double) { options.matches.push_back(text); }
void StoreFields(Options& options, const char* text, double) { options.fields = text; }
void StoreSort(Options& options, const char* text, double) { options.sort = text; }
void StoreTimeout(Options& options, const char*, double number) { options.timeoutSeconds = number; }
void StoreOutput(Options& options, const char* text, double) { options.outputFile = text; }
void StoreKeep(Options& options, const char*, double number) {
    options.keep = static_cast<long>(number);
}
// --rotate's SIZE (bytes; K, M, G as powers of 1024) or DURATION (s, m, h,
// d), the unit's case telling M(ebibytes) from m(inutes); false for any other.
bool ReadRotation(const char* given, Options& options) {
    char* end = nullptr;
    errno = 0;
    const double number = *given >= '0' && *given <= '9' ? strtod(given, &end) : 0;
    if (!end || errno || !(number > 0) || (end[0] && end[1])) return false;
    static const struct {
        char unit;
        double bytes, seconds;
    } kUnits[] = {{'\0', 1, 0}, {'K', 1024.0, 0}, {'M', 1048576.0, 0}, {'G', 1073741824.0, 0},
                  {'s', 0, 1},  {'m', 0, 60},     {'h', 0, 3600},      {'d', 0, 86400}};
    for (const auto& unit : kUnits) {
        if (unit.unit != *end) continue;
        options.rotateBytes = static_cast<unsigned long long>(number * unit.bytes);
        options.rotateSeconds = number * unit.seconds;
        return options.rotateBytes >= 1 || options.rotateSeconds >= 1;
    }
    return false;
}
void StoreNothing(Options&, const char*, double) {}
const OptionRow kOptions[] = {
    {"--dll", "PATH", "--dll needs the extender's path", ValueKind::kText, 0, 0, StoreDll, nullptr,
     Action::kCall,
     "the extender to load (default: vekproc.dll beside vekrun);\n"
     "any option's value may also follow '=': --dll=PATH"},
    {"--host-version", "N", "--host-version needs a number", ValueKind::kWholeNumber, 0,
     4294967295.0, StoreHostVersion, nullptr, Action::kCall,
     "the host version given to initialise (default 1004)"},
    {"--list", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::list, Action::kCall,
     "print a list result one item per line, \"name|number\"\n"
     "items as two aligned columns, and the figures of\n"
     "tGetProcInfo, tGetModInfo and tParseCntrPath as named\n"
     "fields, one \"name value\" line each"},
    {"--json", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::json, Action::kCall,
     "every line on stdout is one JSON value (UTF-8): a number\n"
     "(the decimal texts of tGetData and tBrowseCntrs format 1\n"
     "included), a string, an array of objects for a list, an\n"
     "object of named fields for a record, {\"cancelled\": true}\n"
     "for a cancelled dialog, {\"time\": ..., \"value\": ...} for a\n"
     "sample; every failure {\"error\": \"call\", \"usage\" or\n"
     "\"load\", \"id\": its message number or null, \"message\":\n"
     "text, \"code\": the code it kept or null, \"reason\": text or\n"
     "null}; in a script {\"line\": N, \"value\": ...} and failures\n"
     "with \"line\"; a script's lines are echoed on stderr"},
    {"--every", "SECONDS", "--every needs a number of seconds", ValueKind::kSeconds, 0.01, 86400,
     StoreEvery, nullptr, Action::kCall,
     "repeat the call (0.01 to 86400 seconds apart) until\n"
     "--samples N are taken or Ctrl+C (which ends it after the\n"
     "current sample): a table with the time of each sample and a\n"
     "column a field; a failing sample leaves its cells empty and\n"
     "prints its time and reason on stderr, and the sampling goes\n"
     "on, unless the first sample finds no such counter,\n"
     "process or handle; with --script FILE, every call of the\n"
     "file each sample"},
    {"--samples", "N", "--samples needs a count", ValueKind::kCount, 1, 2147483647, StoreSamples,
     nullptr, Action::kCall, "with --every: the number of samples, 1 to 2147483647"},
    {"--csv", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::csv, Action::kCall,
     "with --every: the CSV that Performance Monitor and typeperf\n"
     "write (PDH-CSV 4.0, UTF-8), for relog, PAL or Excel; with a\n"
     "list keyword, --procs or --counters: a header of the field\n"
     "names, then a row an item, as Export-Csv writes"},
    {"--raw", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::raw, Action::kCall,
     "pass any number of arguments, and any text where a number\n"
     "goes, through unchecked, as a host would, and read no kept\n"
     "code after a failure"},
    {"--keep-going", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::keepGoing,
     Action::kCall, "in a script, go on after a failing call"},
    {"--quiet -q", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::quiet,
     Action::kCall, "in a script, leave out the echo of each line"},
    {"--version -V", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kVersion,
     "vekrun's version and the extender's"},
    {"--help -h -? /?", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kHelp,
     "this text"},
    {"--keywords", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kKeywords,
     nullptr},
    {"--about", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kAbout,
     nullptr},
    {"--doctor", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kDoctor,
     nullptr},
    {"--script", "FILE", "--script needs a file ('-' reads stdin)", ValueKind::kText, 0, 0,
     StoreScript, nullptr, Action::kScript, nullptr},
    {"--procs", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kProcs,
     nullptr},
    {"--kill", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kKill, nullptr},
    {"--wait", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kWait, nullptr},
    {"--counters", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, nullptr, Action::kCounters,
     nullptr},
    {"--match", "PATTERN", "--match needs a name pattern", ValueKind::kText, 0, 0, StoreMatch,
     nullptr, Action::kCall,
     "with --procs, --kill, --wait: the processes whose name\n"
     "matches (any case, * and ?, '.exe' optional; digits alone:\n"
     "that process id); with --counters, the names or paths;\n"
     "may be given again, for any of them"},
    {"--fields", "A,B,...", "--fields needs field names", ValueKind::kText, 0, 0, StoreFields,
     nullptr, Action::kCall, "with --procs: the fields shown, in this order"},
    {"--sort", "[-]FIELD", "--sort needs a field", ValueKind::kText, 0, 0, StoreSort, nullptr,
     Action::kCall, "with --procs: rows by FIELD, -FIELD descending"},
    {"--tree", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::tree, Action::kCall,
     "with --kill: every descendant too, children first"},
    {"--dry-run", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::dryRun,
     Action::kCall, "with --kill: list what would be ended, end nothing"},
    {"--any", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::any, Action::kCall,
     "with --wait: until the first has ended"},
    {"--output", "FILE", "--output needs a file", ValueKind::kText, 0, 0, StoreOutput, nullptr,
     Action::kCall,
     "with --every: each round to FILE instead of stdout, written\n"
     "and flushed as it is taken; an existing FILE is refused"},
    {"--rotate", "SIZE|TIME", "--rotate needs a size or a time", ValueKind::kRotation, 0, 0,
     StoreNothing, nullptr, Action::kCall,
     "with --output: pieces beside FILE, named\n"
     "STEM-yyyymmdd-hhmmss-mmm.EXT (UTC), the next started\n"
     "before a round would pass SIZE (100M: bytes, K, M, G) or\n"
     "once TIME (1h: s, m, h, d) has passed"},
    {"--keep", "N", "--keep needs a count", ValueKind::kCount, 1, 2147483647, StoreKeep, nullptr,
     Action::kCall, "with --rotate: the newest N pieces kept, the older deleted"},
    {"--prom", nullptr, nullptr, ValueKind::kNone, 0, 0, nullptr, &Options::prom, Action::kCall,
     "Prometheus's text format (0.0.4); with --output, FILE is\n"
     "replaced whole each round, for windows_exporter's textfile\n"
     "collector"},
    {"--timeout", "SECONDS", "--timeout needs a number of seconds", ValueKind::kSeconds, 0.01,
     2147483, StoreTimeout, nullptr, Action::kCall,
     "with --wait: give up after SECONDS (exit 124), leaving\n"
     "them running"},
};

// The value an option was given, by its kind's parser: stored, or the
// problem, which names the option and its range.
std::string TakeValue(const OptionRow& option, const char* given, Options& options) {
    double number = 0;
    bool read = true;
    switch (option.kind) {
        case ValueKind::kNone: return std::string();
        case ValueKind::kText: break;
        case ValueKind::kWholeNumber:
        case ValueKind::kCount: read = ReadWhole(given, option.high, number); break;
        case ValueKind::kSeconds: read = ReadSeconds(given, number) && number <= option.high; break;
        case ValueKind::kRotation:
            if (!ReadRotation(given, options))
                return std::string(
                           "--rotate takes a size (100M: bytes, K, M, G) or a time (1h: s, "
                           "m, h, d), not '") +
                       given + "'";
            return std::string();
    }
    if (!read || (option.kind != ValueKind::kText && !(number >= option.low))) {
        char range[64];
        snprintf(range, sizeof range, " from %.15g to %.15g, not '", option.low, option.high);
        return SplitText(option.names, ' ')[0] + " takes " + KindNoun(option.kind) + range + given +
               "'";
    }
    option.store(options, given, number);
    return std::string();
}

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& option : kOptions) {
        for (const std::string& alias : SplitText(option.names, ' ')) {
            if (alias == name) return &option;
        }
    }
    return nullptr;
}

}  // namespace

// The option lines are made from the table: names and value in a column of
// their own, the help beside them.
std::string UsageText() {
    constexpr size_t kColumn = 21;
    std::string text = kUsageSynopsis;
    for (const OptionRow& option : kOptions) {
        if (option.help == nullptr) continue;
        std::string head;
        for (const std::string& alias : SplitText(option.names, ' '))
            head += (head.empty() ? "" : ", ") + alias;
        if (option.value) head += std::string(" ") + option.value;
        head.resize(std::max(head.size() + 1, kColumn), ' ');
        std::string help = option.help;
        for (size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += kColumn + 3)
            help.insert(at + 1, kColumn + 2, ' ');
        text += "  " + head + help + "\n";
    }
    return text + kUsageNotes;
}

namespace {

// A word after the keyword that is an option rather than an argument:
// anything starting with '-' except a negative number (a handle may be one).
bool LooksLikeOption(const std::string& word) {
    return word == "/?" ||
           (word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9'));
}

}  // namespace

namespace {

// The options of the process jobs, each with the action it belongs to.
std::string ProcessJobProblem(const Options& options) {
    const Action action = options.action;
    const bool job = action == Action::kProcs || action == Action::kKill ||
                     action == Action::kWait || action == Action::kCounters;
    if (!options.matches.empty() && !job)
        return "--match goes with --procs, --kill, --wait or --counters";
    if (action == Action::kCounters && options.words.size() > 1)
        return "--counters takes one object, not " + std::to_string(options.words.size());
    if ((!options.fields.empty() || !options.sort.empty()) && action != Action::kProcs)
        return std::string(options.fields.empty() ? "--sort" : "--fields") + " goes with --procs";
    if ((options.tree || options.dryRun) && action != Action::kKill)
        return std::string(options.tree ? "--tree" : "--dry-run") + " goes with --kill";
    if ((options.any || options.timeoutSeconds > 0) && action != Action::kWait)
        return std::string(options.any ? "--any" : "--timeout") + " goes with --wait";
    if (action != Action::kKill && action != Action::kWait) return std::string();
    if (options.words.empty() && options.matches.empty()) {
        return std::string(ActionOption(action)) + " needs a process: " + ActionOption(action) +
               " PID... or " + ActionOption(action) + " --match PATTERN";
    }
    for (const std::string& word : options.words) {
        if (word.empty() || word.size() > 10 ||
            word.find_first_not_of("0123456789") != std::string::npos ||
            strtoull(word.c_str(), nullptr, 10) > 0xFFFFFFFFull)
            return std::string(ActionOption(action)) + " takes process ids, not '" + word + "'";
    }
    if (options.csv) return std::string("--csv goes with --procs, not ") + ActionOption(action);
    return std::string();
}

// --output, its pieces, and Prometheus's form.
std::string CaptureProblem(const Options& options) {
    const bool rotating = options.rotateBytes || options.rotateSeconds > 0;
    if (!options.outputFile.empty() && !(options.everySeconds > 0))
        return "--output goes with --every: it holds the rounds of sampling";
    if (rotating && options.outputFile.empty()) return "--rotate goes with --output";
    if (options.keep && !rotating) return "--keep goes with --rotate";
    if (!options.prom) return std::string();
    if (options.csv || options.json || options.list)
        return std::string("--prom and ") +
               (options.csv    ? "--csv"
                : options.json ? "--json"
                               : "--list") +
               " cannot go together";
    if (rotating) return "--rotate and --prom cannot go together: --prom replaces FILE each round";
    const Action action = options.action;
    if (action != Action::kCall && action != Action::kScript && action != Action::kProcs)
        return std::string("--prom goes with a keyword call, a script or --procs, not ") +
               ActionOption(action);
    return std::string();
}

}  // namespace

std::string CombinationProblem(const Options& options) {
    const bool call = !options.words.empty();
    const bool sampling = options.everySeconds > 0;
    const std::string job = ProcessJobProblem(options);
    if (!job.empty()) return job;
    const std::string capture = CaptureProblem(options);
    if (!capture.empty()) return capture;
    const bool takesIds = options.action == Action::kKill || options.action == Action::kWait ||
                          options.action == Action::kCounters;
    if (options.action == Action::kHelp && options.words.size() > 1)
        return "--help takes one keyword, not " + std::to_string(options.words.size());
    if (call && !takesIds && options.action != Action::kCall && options.action != Action::kHelp) {
        return std::string(ActionOption(options.action)) + " takes no keyword, but '" +
               options.words[0] + "' was given";
    }
    if (!call && options.action == Action::kCall) return "no keyword given";
    // Outside sampling a call's list may be written as CSV (main asks its keyword).
    if (!sampling && options.csv && options.action != Action::kCall &&
        options.action != Action::kProcs && options.action != Action::kCounters)
        return "--csv goes with --every";
    if (!sampling && options.samples) return "--samples goes with --every";
    if ((sampling || options.prom) && options.action == Action::kScript &&
        options.scriptFile == "-")
        return "--every samples the calls of a file, which stdin is not: --script FILE";
    if (sampling && options.action != Action::kCall && options.action != Action::kScript &&
        options.action != Action::kProcs) {
        return std::string("--every and ") + ActionOption(options.action) +
               " cannot go together: --every samples a keyword call, a script's calls or "
               "the process table";
    }
    if (options.csv && options.json) return "--csv and --json cannot go together";
    if (options.csv && options.list) return "--csv and --list cannot go together";
    // --json gives every list as an array and every record as an object.
    if (options.json && options.list) return "--json and --list cannot go together";
    if (options.quiet && options.action != Action::kScript) return "--quiet goes with --script";
    return std::string();
}

std::string ParseOptions(int argc, char** argv, Options& options) {
    options.dllPath = DefaultDllPath();
    // The first problem is kept, and said once the whole line is read, so
    // that --json shapes it wherever it stands.
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
            options.wordPlaces.push_back(i);
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
        if (option->value && equals != std::string::npos) {
            given = argv[i] + equals + 1;
        } else if (option->value && i + 1 < argc) {
            given = argv[++i];
        } else if (option->value) {
            fail(option->missing);
            continue;
        } else if (equals != std::string::npos) {
            fail(name + " takes no value");
        }
        if (option->action != Action::kCall) setAction(option->action);
        if (option->flag) options.*option->flag = true;
        if (given) fail(TakeValue(*option, given, options));
    }
    return problem;
}

}  // namespace vekrun
