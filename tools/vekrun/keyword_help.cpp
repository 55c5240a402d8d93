// What vekrun knows of each keyword, from the registry: its arguments'
// names, which of them are numbers, its result and its messages, for
// --keywords, --help KEYWORD and the check of numbers before a call.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "keyword_help.h"
#include "keyword_registry.h"
#include "console.h"
#include "options.h"
#include "text.h"

namespace vekrun {

namespace {

#define VEK_HELP_FUNCTION(id, function, args, check, shape, fields, result, messages) \
    {#function, args, result, messages, ResultShape::shape, fields},
#define VEK_HELP_CONSTANT(id, name, value, result) \
    {name, "", result, "none", ResultShape::kPlain, {}},
const KeywordHelp kHelp[] = {VEK_KEYWORDS(VEK_HELP_FUNCTION, VEK_HELP_CONSTANT)};
#undef VEK_HELP_FUNCTION
#undef VEK_HELP_CONSTANT

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
    // A class is one of the six, whatever number is given.
    if (whole && isClass)
        whole = PriorityName(static_cast<int32_t>(strtoll(text.c_str(), nullptr, 10))) != nullptr;
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
