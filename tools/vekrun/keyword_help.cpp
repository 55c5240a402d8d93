// What vekrun knows of each keyword beyond the extender's table: its
// arguments' names, which of them are numbers, its result and its messages,
// for --keywords, --help KEYWORD and the check of numbers before a call.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "keyword_help.h"
#include "console.h"
#include "options.h"
#include "text.h"

namespace vekrun {

namespace {

const KeywordHelp kHelp[] = {
    {"tVersion", "", "the integer 44017, the extender's version", "none", ResultShape::kPlain, {}},
    {"tListProc",
     "",
     "a list of every process, each entry name|process id",
     "209, 238, 208, 213 (run 'vekrun --doctor'), 214, 215, 239, 200",
     ResultShape::kProcessList,
     {}},
    {"tOpenProc",
     "PID MODE",
     "the integer handle of the opened process, the script's until tCloseProc; MODE 1 all access, "
     "2 query, 3 terminate, any other read memory",
     "209, 244, 202 (access refused), 201 (no such process, or 4,096 handles held)",
     ResultShape::kPlain,
     {}},
    {"tListMod",
     "PID MODE",
     "a list of the process's modules: MODE 0 path|module handle, 1 path, 2 module handle",
     "209, 207, 238, 208, 205, 201, 202, 203 (MODE not 0, 1 or 2), 200",
     ResultShape::kModuleList,
     {}},
    {"tGetProcInfo",
     "PID",
     "nine numbers separated by tabs: the process's memory figures (PROCESS_MEMORY_COUNTERS)",
     "209, 207, 208, 205, 202 (access refused), 204",
     ResultShape::kRecord,
     {"PageFaultCount", "PeakWorkingSetSize", "WorkingSetSize", "QuotaPeakPagedPoolUsage",
      "QuotaPagedPoolUsage", "QuotaPeakNonPagedPoolUsage", "QuotaNonPagedPoolUsage",
      "PagefileUsage", "PeakPagefileUsage"}},
    {"tCountProc",
     "",
     "the integer number of processes",
     "209, 207, 238, 208, 200",
     ResultShape::kPlain,
     {}},
    {"tGetModInfo",
     "PID MODULE",
     "three numbers separated by tabs: load address, image size, entry point (MODULEINFO); MODULE "
     "in decimal or hex, as 0x140000000",
     "209, 207, 208, 205, 206 (no such module, or the process cannot be opened)",
     ResultShape::kRecord,
     {"BaseOfDll", "SizeOfImage", "EntryPoint"}},
    {"tBrowseCntrs",
     "MODE FORMAT ARG3 ARG4 ARG5",
     "opens the counter-browse dialog: MODE 0 the chosen counter's path, 1 its value (FORMAT 0 an "
     "integer, 1 a decimal text); ARG3 to ARG5 are not read; a cancelled dialog gives no result "
     "(exit status 2)",
     "209, 230, 211, 203, 210, 222, 233, 224, 225, 226",
     ResultShape::kCounterValue,
     {}},
    {"tKillProc",
     "HANDLE",
     "terminates the process of a handle this run's tOpenProc gave (exit code 1); the integer 1",
     "209, 212 (not a handle the script holds, the host's own process, or refused)",
     ResultShape::kPlain,
     {}},
    {"@TRUE", "", "the constant 1", "none", ResultShape::kPlain, {}},
    {"@FALSE", "", "the constant 0", "none", ResultShape::kPlain, {}},
    {"tCloseProc",
     "HANDLE",
     "closes a handle this run's tOpenProc gave; the integer 1",
     "209, 229 (not a handle the script holds)",
     ResultShape::kPlain,
     {}},
    {"tCompatible",
     "",
     "the integer 1 where the extender can run, 0 on Windows NT 3.x",
     "none",
     ResultShape::kPlain,
     {}},
    {"tGetLastError",
     "",
     "the integer code the last failure kept, then cleared",
     "none",
     ResultShape::kSavedCode,
     {}},
    {"tGetData",
     "PATH FORMAT",
     "the counter's value from two samples 300 ms apart: FORMAT 0 an integer, 1 a decimal text",
     "209, 230, 211, 228, 231 (no such object), 222 (a bad path), 223 (no such counter), 227 (no "
     "such instance), 203, 205, 220, 224, 225, 226, 221, 218, 217",
     ResultShape::kCounterValue,
     {}},
    {"tRemoteConn",
     "MACHINE",
     "connects PDH to the machine's counters; the integer 1",
     "209, 230, 211, 235 (no such machine), 234",
     ResultShape::kPlain,
     {}},
    {"tSetPriority",
     "PID CLASS",
     "sets the priority class, by number or PowerShell's name (32 Normal, 64 Idle, 128 High, 256 "
     "RealTime, 16384 BelowNormal, 32768 AboveNormal); the integer 1",
     "202, 201, 203 (no such class), 236 (refused, or realtime without the privilege)",
     ResultShape::kPlain,
     {}},
    {"tGetPriority",
     "PID",
     "the integer priority class",
     "202, 201, 237",
     ResultShape::kPriorityClass,
     {}},
    {"tParseCntrPath",
     "PATH",
     "six fields separated by tabs: machine, object, instance, parent instance, instance index, "
     "counter (PDH_COUNTER_PATH_ELEMENTS)",
     "209, 230, 211, 205, 222, 245, 246",
     ResultShape::kRecord,
     {"$MachineName", "$ObjectName", "$InstanceName", "$ParentInstance", "InstanceIndex",
      "$CounterName"}},
};

// The classes by the names PowerShell gives them (ProcessPriorityClass).
const struct {
    const char* name;
    int32_t value;
} kPriorityClasses[] = {{"Idle", 64},           {"BelowNormal", 16384}, {"Normal", 32},
                        {"AboveNormal", 32768}, {"High", 128},          {"RealTime", 256}};

// The range of a numeric argument: 32 bits, signed or unsigned, except the
// handles and module addresses, which are 64-bit.
enum class ArgKind { kText, kNumber32, kNumber64 };
ArgKind KindOf(const char* argName) {
    for (const char* name : {"PID", "MODE", "CLASS", "FORMAT"}) {
        if (strcmp(argName, name) == 0) return ArgKind::kNumber32;
    }
    for (const char* name : {"MODULE", "HANDLE"}) {
        if (strcmp(argName, name) == 0) return ArgKind::kNumber64;
    }
    return ArgKind::kText;
}

}  // namespace

const KeywordHelp* FindHelp(const std::string& name) {
    for (const KeywordHelp& help : kHelp) {
        if (Lower(name) == Lower(help.name)) return &help;
    }
    return nullptr;
}

ResultShape ShapeOf(const std::string& name) {
    const KeywordHelp* help = FindHelp(name);
    return help ? help->shape : ResultShape::kPlain;
}

bool TakesHandle(const std::string& name) {
    const KeywordHelp* help = FindHelp(name);
    if (help == nullptr) return false;
    for (const std::string& arg : SplitText(help->args, ' ')) {
        if (arg == "HANDLE") return true;
    }
    return false;
}

std::string ArgumentName(const KeywordHelp* help, size_t index) {
    const std::vector<std::string> names = SplitText(help ? help->args : "", ' ');
    if (index < names.size() && !names[index].empty()) return names[index];
    return "ARG" + std::to_string(index + 1);
}

const char* PriorityName(int32_t priorityClass) {
    for (const auto& known : kPriorityClasses) {
        if (known.value == priorityClass) return known.name;
    }
    return nullptr;
}

// The extender reads a number as far as it goes ("32,56" is 32), as the
// host's interface says; a person who typed it meant something else.
std::string ArgumentProblem(const char* argName, std::string& text) {
    const ArgKind kind = KindOf(argName);
    if (kind == ArgKind::kText) return std::string();
    const bool isClass = strcmp(argName, "CLASS") == 0, isModule = strcmp(argName, "MODULE") == 0;
    for (const auto& known : kPriorityClasses) {
        if (isClass && Lower(text) == Lower(known.name)) text = std::to_string(known.value);
    }
    // As ListDLLs and Process Explorer show addresses: 0x and up to 16 hex digits.
    if (isModule && text.size() > 2 && text.size() <= 18 && text[0] == '0' &&
        (text[1] | 0x20) == 'x' &&
        text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
        text = std::to_string(strtoull(text.c_str() + 2, nullptr, 16));
    }
    const size_t digits = text[0] == '-' ? 1 : 0;
    bool whole = text.size() > digits;
    for (size_t i = digits; i < text.size(); ++i) whole = whole && text[i] >= '0' && text[i] <= '9';
    if (whole) {
        errno = 0;
        const bool negative = digits == 1;
        const long long low = negative ? strtoll(text.c_str(), nullptr, 10) : 0;
        const unsigned long long high = negative ? 0 : strtoull(text.c_str(), nullptr, 10);
        const bool fits = kind == ArgKind::kNumber64
                              ? errno == 0
                              : errno == 0 && low >= INT32_MIN && high <= UINT32_MAX;
        if (fits) return std::string();
    }
    if (isClass) {
        std::string names;
        for (const auto& known : kPriorityClasses)
            names += std::string(names.empty() ? "" : ", ") + known.name + " (" +
                     std::to_string(known.value) + ")";
        return "CLASS takes a priority class, " + names +
               ", or a whole decimal number of 32 bits, not '" + text + "'";
    }
    return std::string(argName) + " takes a whole " + (isModule ? "number" : "decimal number") +
           (kind == ArgKind::kNumber32 ? " of 32 bits" : " of 64 bits") +
           (isModule ? ", decimal or hex (0x140000000)" : "") + ", not '" + text + "'";
}

// vekrun --help KEYWORD: what the keyword takes, gives and fails with.
int PrintHelp(const Options& options) {
    const KeywordHelp* help = FindHelp(options.words[0]);
    if (!help)
        return UsageProblem(options,
                            "no keyword '" + options.words[0] + "' (vekrun --keywords lists them)");
    Print(stdout, "usage:    vekrun %s%s%s\nresult:   %s\nmessages: %s\n", help->name,
          *help->args ? " " : "", help->args, help->result, help->messages);
    return kExitOk;
}

}  // namespace vekrun
