// vekrun: a command-line host for VEK extenders. It loads an extender the
// way the interpreter does (query, initialise, enumerate, keyword calls with
// a callback that copies the result, terminate) and prints what comes back.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

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
    "       vekrun [options] --keywords         list the extender's keywords\n"
    "       vekrun [options] --script FILE      one call per line ('-' reads stdin)\n"
    "       vekrun [options] --about            the extender's description and version\n"
    "\n"
    "options:\n"
    "  --dll PATH           the extender to load (default: vekproc.dll beside vekrun)\n"
    "  --host-version N     the host version given to initialise (default 1004)\n"
    "  --list               print a tab-separated list result one item per line,\n"
    "                       \"name|number\" items as two aligned columns\n"
    "  --keep-going         in a script, go on after a failing call\n"
    "  --help               this text\n"
    "\n"
    "Keyword names are case-insensitive. An integer result prints as a number,\n"
    "a text result as it stands. A failing call prints its message on stderr.\n"
    "In a script, arguments are separated by blanks; an argument holding blanks\n"
    "is written in double quotes (\"\" is an empty argument); '#' starts a comment.\n"
    "An argument $PID, on the command line or in a script, stands for vekrun's own\n"
    "process id.\n"
    "\n"
    "exit status: 0 success, 1 a call failed, 2 the counter dialog was cancelled,\n"
    "             3 the extender could not be loaded or initialised, 64 bad usage\n";

struct Options {
    std::string dllPath;
    uint32_t hostVersion = kMinimumHostVersion;
    bool list = false;
    bool keepGoing = false;
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

void PrintList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t tab = text.find('\t', start);
        items.push_back(text.substr(start, tab == std::string::npos ? std::string::npos
                                                                    : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
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

int Call(Extender& ext, const Options& options, std::vector<std::string> words) {
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
    if (keyword->kind == kKindConstant) {
        if (given != 0) {
            fprintf(stderr, "vekrun: %s is a constant and takes no arguments\n", keyword->name);
            return kExitUsage;
        }
        printf("%d\n", keyword->countOrValue);
        return kExitOk;
    }
    const size_t count = static_cast<size_t>(keyword->countOrValue);
    if (given > count) {
        fprintf(stderr, "vekrun: %s takes %zu argument%s\n", keyword->name, count,
                count == 1 ? "" : "s");
        return kExitUsage;
    }
    // One slot per parameter the keyword declares; missing ones are empty.
    std::vector<ArgSlot> slots(count);
    for (size_t i = 0; i < count; ++i) {
        memset(&slots[i], 0, sizeof slots[i]);
        slots[i].text = i < given ? words[i + 1].c_str() : "";
    }
    ResultSlot result;
    memset(&result, 0, sizeof result);
    received = Received();
    int32_t returned = ext.call(GetConsoleWindow(), 0, 0, keyword->id, CopyResult, &ext.context, 0,
                                count ? slots.data() : nullptr, 0, &result);
    fflush(stdout);
    if (received.calls == 0) {
        if (returned == kReturnDialogCancelled) {
            fprintf(stderr, "%s: the dialog was cancelled\n", keyword->name);
            return kExitCancelled;
        }
        fprintf(stderr, "%s: no result (returned %d)\n", keyword->name, returned);
        return kExitCallFailed;
    }
    if (received.status != kStatusSuccess) {
        fprintf(stderr, "%s\n", received.text.c_str());
        return kExitCallFailed;
    }
    if (received.type == kResultInteger) {
        printf("%d\n", received.value);
    } else if (options.list) {
        PrintList(received.text);
    } else {
        printf("%s\n", received.text.c_str());
    }
    return kExitOk;
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
        case kCall: outcome = Call(ext, options, words); break;
    }
    fflush(stdout);
    Unload(ext);
    return outcome;
}
