// What vekrun knows of each keyword beyond the extender's table.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "options.h"

namespace vekrun {

struct KeywordHelp {
    const char* name;  // as the reference spells it
    const char* args;  // the arguments' names, blank-separated
    const char* result;
    const char* messages;
};
const KeywordHelp* FindHelp(const std::string& name);
// A whole decimal number in the argument's range, where the argument is one
// (PID, MODE, CLASS, FORMAT, MODULE, HANDLE); else the problem. A class's
// name and a module's hex address are written as the decimal number.
std::string ArgumentProblem(const char* argName, std::string& text);
// PowerShell's name of a priority class, or null.
const char* PriorityName(int32_t priorityClass);
std::string ArgumentName(const KeywordHelp* help, size_t index);
int PrintHelp(const Options& options);

}  // namespace vekrun
