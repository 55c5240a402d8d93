// vekrun: a command-line host for VEK extenders. It loads an extender the
// way the interpreter does (query, initialise, enumerate, keyword calls with
// a callback that copies the result, terminate) and prints what comes back.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "json_text.h"
#include "vek_host.h"

using namespace vek;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitCancelled = 2;
constexpr int kExitNoExtender = 3;
constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: vekrun [options] KEYWORD [ARG...]   make one keyword call\n"
    "       vekrun [options] --every SECONDS [--samples N] [--csv] KEYWORD [ARG...]\n"
    "                                           repeat one call, a sample every SECONDS\n"
    "       vekrun [options] --keywords         list the extender's keywords\n"
    "       vekrun [options] --script FILE      one call per line ('-' reads stdin)\n"
    "       vekrun [options] --about            the extender's description and version\n"
    "\n"
    "options:\n"
    "  --dll PATH           the extender to load (default: vekproc.dll beside vekrun)\n"
    "  --host-version N     the host version given to initialise (default 1004)\n"
    "  --list               print a list result one item per line, \"name|number\"\n"
    "                       items as two aligned columns, and the figures of\n"
    "                       tGetProcInfo, tGetModInfo and tParseCntrPath as named\n"
    "                       fields, one \"name value\" line each\n"
    "  --json               print each result as one JSON value on one line: a number,\n"
    "                       a string, an array of objects for a list, an object of\n"
    "                       named fields for a record, {\"error\": id, \"message\": text}\n"
    "                       for a failure (on stdout; the exit status is the same)\n"
    "  --every SECONDS      repeat the call until --samples N are taken or Ctrl+C\n"
    "                       (which ends it after the current sample); a failing\n"
    "                       sample prints its message and the sampling goes on\n"
    "  --csv                with --every: a header line (\"time\", then the call) and\n"
    "                       one line a sample: ISO 8601 local time, result\n"
    "  --raw                pass any number of arguments through unchecked\n"
    "  --keep-going         in a script, go on after a failing call\n"
    "  --help               this text\n"
    "\n"
    "Keyword names are case-insensitive. A call must give as many arguments as\n"
    "the keyword takes (vekrun --keywords shows the counts). An integer result\n"
    "prints as a number, a text result as it stands. A failing call prints its\n"
    "message on stderr.\n"
    "In a script, arguments are separated by blanks; an argument holding blanks\n"
    "is written in double quotes (\"\" is an empty argument); '#' starts a comment.\n"
    "An argument $PID, on the command line or in a script, stands for vekrun's own\n"
    "process id.\n"
    "\n"
    "exit status: 0 success, 1 a call failed (with --every: any sample failed),\n"
    "             2 the counter dialog was cancelled, 3 the extender could not be\n"
    "             loaded or initialised, 64 bad usage\n";

struct Options {
    std::string dllPath;
    uint32_t hostVersion = kMinimumHostVersion;
    bool list = false;
    bool json = false;
    bool csv = false;
    bool raw = false;
    bool keepGoing = false;
    double everySeconds = 0;  // 0: one call
    long samples = 0;         // 0: until Ctrl+C
};

struct Extender {
    HMODULE module = nullptr;
    VEKExtender2Proc call = nullptr;
    VEKExtenderQueryProc query = nullptr;
    HostContext context = {};
    std::vector<KeywordEntry> keywords;
};

// What the callback copied while the extender's storage was alive.
struct Received {
    int calls = 0;
    int32_t status = 0;
    int32_t type = 0;
    int32_t value = 0;
    std::string text;
};
Received received;

int32_t CopyResult(int32_t status, uint32_t, HostContext*, ResultSlot* result) {
    ++received.calls;
    received.status = status;
    received.type = result->type;
    received.value = result->value;
    received.text = (result->type == kResultString && result->text) ? result->text : "";
    return status;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string DefaultDllPath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "vekproc.dll";
    std::string self(path, length);
    size_t slash = self.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + "vekproc.dll";
}

bool Load(Extender& ext, const Options& options) {
    ext.module = LoadLibraryA(options.dllPath.c_str());
    if (!ext.module) {
        fprintf(stderr, "vekrun: cannot load %s (error %lu)\n", options.dllPath.c_str(),
                GetLastError());
        return false;
    }
    ext.call = reinterpret_cast<VEKExtender2Proc>(
        reinterpret_cast<void*>(GetProcAddress(ext.module, "VEKExtender2")));
    ext.query = reinterpret_cast<VEKExtenderQueryProc>(
        reinterpret_cast<void*>(GetProcAddress(ext.module, "VEKExtenderQuery")));
    if (!ext.call || !ext.query) {
        fprintf(stderr, "vekrun: %s is not a VEK extender\n", options.dllPath.c_str());
        return false;
    }
    int32_t offered[] = {kAcceptedCode};
    if (ext.query(kQueryOfferedCodes, offered, 1) != kAcceptedCode) {
        fprintf(stderr, "vekrun: the extender does not accept this host\n");
        return false;
    }
    ext.context.hostVersion = options.hostVersion;
    char refusal[256] = "";
    int32_t count = ext.call(nullptr, 0, 0, kCallInitialise, CopyResult, &ext.context, 0, refusal,
                             0, nullptr);
    if (count < 0) {
        fprintf(stderr, "vekrun: initialise refused: %s\n", refusal);
        return false;
    }
    for (uint32_t index = 0;; ++index) {
        KeywordEntry entry = {};
        if (ext.call(nullptr, 0, 0, kCallEnumerate, CopyResult, &ext.context, 0, &entry, index,
                     nullptr) == 0) {
            break;
        }
        ext.keywords.push_back(entry);
    }
    return true;
}

void Unload(Extender& ext) {
    if (ext.call) {
        ext.call(nullptr, 0, 0, kCallTerminate, CopyResult, &ext.context, 0, nullptr, 0, nullptr);
    }
    if (ext.module) FreeLibrary(ext.module);
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        items.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return items;
        start = at + 1;
    }
}

void PrintList(const std::string& text) {
    const std::vector<std::string> items = SplitText(text, '\t');
    size_t width = 0;
    for (const std::string& item : items) {
        size_t bar = item.rfind('|');
        if (bar != std::string::npos && bar > width) width = bar;
    }
    for (const std::string& item : items) {
        size_t bar = item.rfind('|');
        if (bar == std::string::npos) {
            printf("%s\n", item.c_str());
        } else {
            printf("%-*s  %s\n", static_cast<int>(width), item.substr(0, bar).c_str(),
                   item.substr(bar + 1).c_str());
        }
    }
}

// The results that are one record, field by field, under the names of the
// system's own records. A name starting with '$' is text, not a number.
struct RecordShape {
    const char* keyword;
    std::vector<const char*> fields;
};
const RecordShape kRecords[] = {
    {"tgetprocinfo", {"PageFaultCount", "PeakWorkingSetSize", "WorkingSetSize",
                      "QuotaPeakPagedPoolUsage", "QuotaPagedPoolUsage", "QuotaPeakNonPagedPoolUsage",
                      "QuotaNonPagedPoolUsage", "PagefileUsage", "PeakPagefileUsage"}},
    {"tgetmodinfo", {"BaseOfDll", "SizeOfImage", "EntryPoint"}},
    {"tparsecntrpath", {"$MachineName", "$ObjectName", "$InstanceName", "$ParentInstance",
                        "InstanceIndex", "$CounterName"}},
};

// The record's shape when the text has its fields; null otherwise (a
// failed memory query gives an empty text, for one).
const RecordShape* RecordOf(const std::string& keyword, const std::vector<std::string>& values) {
    for (const RecordShape& r : kRecords) {
        if (keyword == r.keyword && values.size() == r.fields.size()) return &r;
    }
    return nullptr;
}

void PrintRecord(const RecordShape& record, const std::vector<std::string>& values) {
    size_t width = 0;
    for (const char* field : record.fields) width = std::max(width, strlen(field) - (field[0] == '$'));
    for (size_t i = 0; i < values.size(); ++i) {
        const char* field = record.fields[i] + (record.fields[i][0] == '$');
        printf("%-*s  %s\n", static_cast<int>(width), field, values[i].c_str());
    }
}

// The result as one JSON value.
std::string Json(const std::string& keyword, const std::vector<std::string>& words) {
    if (received.status != kStatusSuccess) {
        const int32_t id = atoi(received.text.c_str());
        return "{\"error\": " + (id > 0 ? std::to_string(id) : std::string("null")) +
               ", \"message\": " + json::Quote(received.text) + "}";
    }
    if (received.type == kResultInteger) return std::to_string(received.value);
    const std::string& text = received.text;
    const std::vector<std::string> values = SplitText(text, '\t');
    if (const RecordShape* record = RecordOf(keyword, values)) {
        std::string out = "{";
        for (size_t i = 0; i < values.size(); ++i) {
            const char* field = record->fields[i];
            const bool isText = field[0] == '$';
            out += std::string(i ? ", " : "") + json::Quote(field + isText) + ": " +
                   (isText ? json::Quote(values[i]) : json::Number(values[i]));
        }
        return out + "}";
    }
    const bool processes = keyword == "tlistproc";
    if (!processes && keyword != "tlistmod") return json::Quote(text);
    // tListMod's entries take the form its mode gives.
    const int mode = processes ? 0 : atoi(words.size() > 2 ? words[2].c_str() : "0");
    std::string out = "[";
    for (size_t i = 0; !text.empty() && i < values.size(); ++i) {
        const std::string& item = values[i];
        const size_t bar = item.rfind('|');
        std::string name = item, number = item;
        if (mode == 0 && bar != std::string::npos) {
            name = item.substr(0, bar);
            number = item.substr(bar + 1);
        }
        out += i ? ", {" : "{";
        if (processes) {
            out += "\"name\": " + json::Quote(name) + ", \"id\": " + json::Number(number);
        } else if (mode == 2) {
            out += "\"module\": " + json::Number(number);
        } else {
            out += "\"path\": " + json::Quote(name);
            if (mode == 0) out += ", \"module\": " + json::Number(number);
        }
        out += "}";
    }
    return out + "]";
}

// Makes the call the words name; kExitOk with `received` filled, or an
// exit status (a usage problem, said on stderr, or a cancelled dialog).
int Invoke(Extender& ext, const Options& options, std::vector<std::string>& words) {
    for (std::string& word : words) {
        if (word == "$PID") word = std::to_string(GetCurrentProcessId());
    }
    const std::string name = Lower(words[0]);
    const KeywordEntry* keyword = nullptr;
    for (const KeywordEntry& entry : ext.keywords) {
        if (name == entry.name) keyword = &entry;
    }
    if (!keyword) {
        fprintf(stderr, "vekrun: no keyword '%s' (vekrun --keywords lists them)\n",
                words[0].c_str());
        return kExitUsage;
    }
    const size_t given = words.size() - 1;
    received = Received();
    if (keyword->kind == kKindConstant) {
        if (given != 0 && !options.raw) {
            fprintf(stderr, "vekrun: %s is a constant and takes no arguments\n", keyword->name);
            return kExitUsage;
        }
        received.calls = 1;
        received.type = kResultInteger;
        received.value = keyword->countOrValue;
        return kExitOk;
    }
    const size_t count = static_cast<size_t>(keyword->countOrValue);
    if (given != count && !options.raw) {
        fprintf(stderr, "vekrun: %s takes %zu argument%s, not %zu\n", keyword->name, count,
                count == 1 ? "" : "s", given);
        return kExitUsage;
    }
    // One slot per argument, and never fewer than the keyword declares: the
    // extender reads the slots it was promised.
    std::vector<ArgSlot> slots(std::max(count, given));
    for (size_t i = 0; i < slots.size(); ++i) {
        memset(&slots[i], 0, sizeof slots[i]);
        slots[i].text = i < given ? words[i + 1].c_str() : "";
    }
    ResultSlot result;
    memset(&result, 0, sizeof result);
    int32_t returned = ext.call(GetConsoleWindow(), 0, 0, keyword->id, CopyResult, &ext.context, 0,
                                slots.empty() ? nullptr : slots.data(), 0, &result);
    if (received.calls == 0) {
        if (returned == kReturnDialogCancelled) {
            fprintf(stderr, "%s: the dialog was cancelled\n", keyword->name);
            return kExitCancelled;
        }
        fprintf(stderr, "%s: no result (returned %d)\n", keyword->name, returned);
        return kExitCallFailed;
    }
    return kExitOk;
}

// One call, printed as the options say.
int Call(Extender& ext, const Options& options, std::vector<std::string> words) {
    int outcome = Invoke(ext, options, words);
    fflush(stdout);
    if (outcome != kExitOk) {
        if (options.json && outcome == kExitCancelled) printf("{\"cancelled\": true}\n");
        return outcome;
    }
    const std::string keyword = Lower(words[0]);
    if (options.json) {
        printf("%s\n", Json(keyword, words).c_str());
        return received.status == kStatusSuccess ? kExitOk : kExitCallFailed;
    }
    if (received.status != kStatusSuccess) {
        fprintf(stderr, "%s\n", received.text.c_str());
        return kExitCallFailed;
    }
    const std::vector<std::string> values = SplitText(received.text, '\t');
    const RecordShape* record = RecordOf(keyword, values);
    if (received.type == kResultInteger) {
        printf("%d\n", received.value);
    } else if (options.list && record) {
        PrintRecord(*record, values);
    } else if (options.list) {
        PrintList(received.text);
    } else {
        printf("%s\n", received.text.c_str());
    }
    return kExitOk;
}

volatile LONG interrupted = 0;

BOOL WINAPI OnCtrlC(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&interrupted, 1);
    return TRUE;
}

std::string CsvField(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string LocalTimeText() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay,
             t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// The same call a sample every options.everySeconds, as typeperf samples a
// counter; Ctrl+C ends it once the sample under way is printed.
int Sample(Extender& ext, const Options& options, const std::vector<std::string>& words) {
    SetConsoleCtrlHandler(OnCtrlC, TRUE);
    if (options.csv) {
        std::string column;
        for (const std::string& word : words) column += (column.empty() ? "" : " ") + word;
        printf("%s,%s\n", CsvField("time").c_str(), CsvField(column).c_str());
    }
    int worst = kExitOk;
    // Samples start an interval apart, however long a call takes; one that
    // overran its slot is followed at once.
    const ULONGLONG interval = static_cast<ULONGLONG>(options.everySeconds * 1000 + 0.5);
    const ULONGLONG first = GetTickCount64();
    for (long taken = 0; !interrupted && (options.samples == 0 || taken < options.samples); ++taken) {
        // Slept in steps, so that Ctrl+C is not kept waiting a whole interval.
        for (ULONGLONG now; !interrupted && (now = GetTickCount64()) < first + taken * interval;) {
            Sleep(static_cast<DWORD>(std::min<ULONGLONG>(50, first + taken * interval - now)));
        }
        if (interrupted) break;
        int outcome;
        if (options.csv) {
            std::vector<std::string> call = words;
            const std::string time = LocalTimeText();
            outcome = Invoke(ext, options, call);
            if (outcome == kExitUsage) return outcome;
            std::string value = received.type == kResultInteger && received.status == kStatusSuccess
                                    ? std::to_string(received.value)
                                    : received.text;
            if (outcome == kExitCancelled) value = "the dialog was cancelled";
            if (outcome == kExitOk && received.status != kStatusSuccess) outcome = kExitCallFailed;
            printf("%s,%s\n", CsvField(time).c_str(), CsvField(value).c_str());
        } else {
            outcome = Call(ext, options, words);
            if (outcome == kExitUsage) return outcome;
        }
        fflush(stdout);
        fflush(stderr);
        if (outcome != kExitOk) worst = kExitCallFailed;
    }
    return worst;
}

// Splits a script line into words; double quotes group blanks, "" is empty.
bool SplitLine(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        if (line[i] == '"') {
            size_t close = line.find('"', i + 1);
            if (close == std::string::npos) return false;
            word = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        }
        words.push_back(word);
    }
    return true;
}

int RunScript(Extender& ext, const Options& options, const char* file) {
    FILE* in = strcmp(file, "-") == 0 ? stdin : fopen(file, "r");
    if (!in) {
        fprintf(stderr, "vekrun: cannot read %s\n", file);
        return kExitUsage;
    }
    int worst = kExitOk;
    char buffer[8192];
    int lineNumber = 0;
    while (fgets(buffer, sizeof buffer, in)) {
        ++lineNumber;
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::vector<std::string> words;
        if (!SplitLine(line, words)) {
            fprintf(stderr, "vekrun: %s:%d: unclosed quote\n", file, lineNumber);
            worst = kExitUsage;
            if (!options.keepGoing) break;
            continue;
        }
        if (words.empty()) continue;
        printf("> %s\n", line.c_str());
        fflush(stdout);
        int outcome = Call(ext, options, words);
        fflush(stdout);
        fflush(stderr);
        if (outcome != kExitOk) {
            if (worst == kExitOk) worst = outcome;
            if (!options.keepGoing) break;
        }
    }
    if (in != stdin) fclose(in);
    return worst;
}

void PrintKeywords(const Extender& ext) {
    printf("%4s  %-8s  %5s  %s\n", "id", "kind", "count", "name");
    for (const KeywordEntry& entry : ext.keywords) {
        printf("%4d  %-8s  %5d  %s\n", entry.id,
               entry.kind == kKindConstant ? "constant" : "function", entry.countOrValue,
               entry.name);
    }
}

int Usage(FILE* to, int code) {
    fputs(kUsage, to);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    options.dllPath = DefaultDllPath();
    enum { kCall, kKeywords, kScript, kAbout } action = kCall;
    const char* scriptFile = nullptr;
    std::vector<std::string> words;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!words.empty()) {
            words.push_back(arg);  // everything after the keyword is an argument
        } else if (arg == "--help" || arg == "-h") {
            return Usage(stdout, kExitOk);
        } else if (arg == "--dll" && i + 1 < argc) {
            options.dllPath = argv[++i];
        } else if (arg == "--host-version" && i + 1 < argc) {
            options.hostVersion = static_cast<uint32_t>(strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--every" && i + 1 < argc) {
            char* end = nullptr;
            options.everySeconds = strtod(argv[++i], &end);
            if (end == argv[i] || *end || !(options.everySeconds > 0) || options.everySeconds > 86400) {
                fprintf(stderr, "vekrun: --every takes a number of seconds above 0\n");
                return kExitUsage;
            }
        } else if (arg == "--samples" && i + 1 < argc) {
            char* end = nullptr;
            options.samples = strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end || options.samples < 1) {
                fprintf(stderr, "vekrun: --samples takes a count of 1 or more\n");
                return kExitUsage;
            }
        } else if (arg == "--keep-going") {
            options.keepGoing = true;
        } else if (arg == "--keywords") {
            action = kKeywords;
        } else if (arg == "--about") {
            action = kAbout;
        } else if (arg == "--script" && i + 1 < argc) {
            action = kScript;
            scriptFile = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            fprintf(stderr, "vekrun: unknown option %s\n", arg.c_str());
            return Usage(stderr, kExitUsage);
        } else {
            words.push_back(arg);
        }
    }
    if ((action == kCall) == words.empty()) return Usage(stderr, kExitUsage);
    const bool sampling = options.everySeconds > 0;
    if ((options.csv || options.samples) && !sampling) {
        fprintf(stderr, "vekrun: --csv and --samples go with --every\n");
        return kExitUsage;
    }
    if (sampling && (action != kCall || (options.csv && (options.json || options.list)))) {
        fprintf(stderr, "vekrun: --every samples one call; --csv excludes --json and --list\n");
        return kExitUsage;
    }

    Extender ext;
    if (!Load(ext, options)) {
        Unload(ext);
        return kExitNoExtender;
    }
    int outcome = kExitOk;
    switch (action) {
        case kAbout: {
            char description[256] = "";
            int32_t version = ext.query(kQueryDescription, description, sizeof description);
            printf("%s %d\n", description, version);
            break;
        }
        case kKeywords: PrintKeywords(ext); break;
        case kScript: outcome = RunScript(ext, options, scriptFile); break;
        case kCall: outcome = sampling ? Sample(ext, options, words) : Call(ext, options, words); break;
    }
    fflush(stdout);
    Unload(ext);
    return outcome;
}
