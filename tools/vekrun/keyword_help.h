// What vekrun knows of each keyword beyond the extender's table.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "options.h"

namespace vekrun {

// How a keyword's result reads, for --json, the sampled columns and the
// calls around it.
enum class ResultShape {
    kPlain,          // an integer or a text, as it comes
    kPriorityClass,  // an integer that PowerShell names
    kCounterValue,   // a counter's value: its decimal text is a number
    kRecord,         // tab-separated fields, named in `fields`
    kProcessList,    // name|id entries
    kModuleList,     // entries in the form its MODE gives
    kSavedCode,      // the code the last failure kept, cleared as it is read
};

struct KeywordHelp {
    const char* name;  // as the reference spells it
    const char* args;  // the arguments' names, blank-separated
    const char* result;
    const char* messages;
    ResultShape shape;
    // kRecord's fields under the names of the system's own records; a name
    // starting with '$' is text, not a number.
    std::vector<const char*> fields;
};
// Null for a name vekrun has no row for.
const KeywordHelp* FindHelp(const std::string& name);
ResultShape ShapeOf(const std::string& name);
// An argument that names a handle this run's tOpenProc gave: a handle is
// the extender's, and the extender lives as long as one vekrun.
bool TakesHandle(const std::string& name);
// A whole decimal number in the argument's range, where the argument is one
// (PID, MODE, CLASS, FORMAT, MODULE, HANDLE); else the problem. A class's
// name and a module's hex address are written as the decimal number.
std::string ArgumentProblem(const char* argName, std::string& text);
// PowerShell's name of a priority class, or null.
const char* PriorityName(int32_t priorityClass);
std::string ArgumentName(const KeywordHelp* help, size_t index);
int PrintHelp(const Options& options);

}  // namespace vekrun
