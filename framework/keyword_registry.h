// Every keyword in one row: the extender's table and dispatch, vekrun's help
// and argument checks, and the tests all expand this one list, so that a
// keyword's id, name, arguments and result are stated once. Adding a keyword
// is a row here and its function.
//
// VEK_FUNCTION(id, function, args, check, shape, fields, result, messages)
//   id        the host's: stable, never reused, with gaps (15 to 21) that
//             name nothing
//   function  the keyword function, whose name is the keyword's (the host
//             receives it lower-cased)
//   args      the arguments' names, blank-separated: as many as the function
//             takes; PID, MODE, CLASS and FORMAT are 32-bit numbers, MODULE
//             and HANDLE 64-bit ones, the rest text
//   check     what the platform must offer before the function runs (a check
//             of platform.h, 0 or a message id), or nullptr
//   shape     how the result reads (vekrun's ResultShape)
//   fields    a record's fields, under the names of the system's own
//             records; a name starting with '$' is text, not a number
//   result    what it gives, as vekrun's help says it
//   messages  the messages it fails with
// VEK_CONSTANT(id, name, value, result)
#pragma once

#include <stdint.h>

#define VEK_FIELDS(...) \
    { __VA_ARGS__ }

// clang-format off
#define VEK_KEYWORDS(VEK_FUNCTION, VEK_CONSTANT)                                                    \
    VEK_FUNCTION(1, tVersion, "", nullptr, kPlain, VEK_FIELDS(),                                  \
        "the integer 44017, the extender's version", "none")                                        \
    VEK_FUNCTION(2, tListProc, "", CheckListProc, kProcessList, VEK_FIELDS(),                       \
        "a list of every process, each entry name|process id",                                      \
        "209, 238, 208, 213 (run 'vekrun --doctor'), 214, 215, 239, 200")                           \
    VEK_FUNCTION(3, tOpenProc, "PID MODE", CheckPlatformOnly, kPlain, VEK_FIELDS(),                 \
        "the integer handle of the opened process, the script's until tCloseProc; MODE 1 all "      \
        "access, 2 query, 3 terminate, any other read memory",                                      \
        "209, 244, 202 (access refused), 201 (no such process, or 4,096 handles held)")             \
    VEK_FUNCTION(4, tListMod, "PID MODE", CheckProcessApi, kModuleList, VEK_FIELDS(),               \
        "a list of the process's modules: MODE 0 path|module handle, 1 path, 2 module handle",      \
        "209, 207, 238, 208, 205, 201, 202, 203 (MODE not 0, 1 or 2), 200")                         \
    VEK_FUNCTION(5, tGetProcInfo, "PID", CheckProcInfo, kRecord,                                    \
        VEK_FIELDS("PageFaultCount", "PeakWorkingSetSize", "WorkingSetSize",                        \
                   "QuotaPeakPagedPoolUsage", "QuotaPagedPoolUsage", "QuotaPeakNonPagedPoolUsage",  \
                   "QuotaNonPagedPoolUsage", "PagefileUsage", "PeakPagefileUsage"),                 \
        "nine numbers separated by tabs: the process's memory figures (PROCESS_MEMORY_COUNTERS)",   \
        "209, 207, 208, 205, 202 (access refused), 204")                                            \
    VEK_FUNCTION(6, tCountProc, "", CheckProcessApi, kPlain, VEK_FIELDS(),                          \
        "the integer number of processes", "209, 207, 238, 208, 200")                               \
    VEK_FUNCTION(7, tGetModInfo, "PID MODULE", CheckModInfo, kRecord,                               \
        VEK_FIELDS("BaseOfDll", "SizeOfImage", "EntryPoint"),                                       \
        "three numbers separated by tabs: load address, image size, entry point (MODULEINFO); "     \
        "MODULE in decimal or hex, as 0x140000000",                                                 \
        "209, 207, 208, 205, 206 (no such module, or the process cannot be opened)")                \
    VEK_FUNCTION(8, tBrowseCntrs, "MODE FORMAT ARG3 ARG4 ARG5", CheckPdh, kCounterValue,            \
        VEK_FIELDS(),                                                                               \
        "opens the counter-browse dialog: MODE 0 the chosen counter's path, 1 its value (FORMAT 0 " \
        "an integer, 1 a decimal text); ARG3 to ARG5 are not read; a cancelled dialog gives no "    \
        "result (exit status 2)",                                                                   \
        "209, 230, 211, 203, 210, 222, 233, 224, 225, 226")                                         \
    VEK_FUNCTION(9, tKillProc, "HANDLE", CheckPlatformOnly, kPlain, VEK_FIELDS(),                   \
        "terminates the process of a handle this run's tOpenProc gave (exit code 1); the "          \
        "integer 1",                                                                                \
        "209, 212 (not a handle the script holds, the host's own process, or refused)")             \
    VEK_CONSTANT(10, "@TRUE", 1, "the constant 1")                                                  \
    VEK_CONSTANT(11, "@FALSE", 0, "the constant 0")                                                 \
    VEK_FUNCTION(12, tCloseProc, "HANDLE", CheckPlatformOnly, kPlain, VEK_FIELDS(),                 \
        "closes a handle this run's tOpenProc gave; the integer 1",                                 \
        "209, 229 (not a handle the script holds)")                                                 \
    VEK_FUNCTION(13, tCompatible, "", nullptr, kPlain, VEK_FIELDS(),                                \
        "the integer 1 where the extender can run, 0 on Windows NT 3.x", "none")                    \
    VEK_FUNCTION(14, tGetLastError, "", nullptr, kSavedCode, VEK_FIELDS(),                          \
        "the integer code the last failure kept, then cleared", "none")                             \
    VEK_FUNCTION(22, tGetData, "PATH FORMAT", CheckPdh, kCounterValue, VEK_FIELDS(),                \
        "the counter's value from two samples 300 ms apart: FORMAT 0 an integer, 1 a decimal text", \
        "209, 230, 211, 228, 231 (no such object), 222 (a bad path), 223 (no such counter), 227 "   \
        "(no such instance), 203, 205, 220, 224, 225, 226, 221, 218, 217")                          \
    VEK_FUNCTION(23, tRemoteConn, "MACHINE", CheckPdh, kPlain, VEK_FIELDS(),                        \
        "connects PDH to the machine's counters; the integer 1",                                    \
        "209, 230, 211, 235 (no such machine), 234")                                                \
    VEK_FUNCTION(24, tSetPriority, "PID CLASS", nullptr, kPlain, VEK_FIELDS(),                      \
        "sets the priority class, by number or PowerShell's name (32 Normal, 64 Idle, 128 High, "   \
        "256 RealTime, 16384 BelowNormal, 32768 AboveNormal); the integer 1",                       \
        "202, 201, 203 (no such class), 236 (refused, or realtime without the privilege)")          \
    VEK_FUNCTION(25, tGetPriority, "PID", nullptr, kPriorityClass, VEK_FIELDS(),                    \
        "the integer priority class", "202, 201, 237")                                              \
    VEK_FUNCTION(26, tParseCntrPath, "PATH", CheckPdh, kRecord,                                     \
        VEK_FIELDS("$MachineName", "$ObjectName", "$InstanceName", "$ParentInstance",               \
                   "InstanceIndex", "$CounterName"),                                                \
        "six fields separated by tabs: machine, object, instance, parent instance, instance "       \
        "index, counter (PDH_COUNTER_PATH_ELEMENTS)",                                               \
        "209, 230, 211, 205, 222, 245, 246")
// clang-format on

namespace vek {

// The number of blank-separated names in `names`: a function's arguments.
constexpr int32_t ArgumentCount(const char* names) {
    int32_t count = 0;
    for (bool inName = false; *names; ++names) {
        if (*names != ' ' && !inName) ++count;
        inName = *names != ' ';
    }
    return count;
}

// Each keyword function's id and name, under its own name:
// keyword_id::tGetData is 22, keyword_name::tGetData "tGetData".
#define VEK_KEYWORD_ID(id, function, ...) function = id,
#define VEK_KEYWORD_NAME(id, function, ...) constexpr char function[] = #function;
#define VEK_NO_CONSTANT(...)
namespace keyword_id {
enum : int32_t { VEK_KEYWORDS(VEK_KEYWORD_ID, VEK_NO_CONSTANT) };
}
namespace keyword_name {
VEK_KEYWORDS(VEK_KEYWORD_NAME, VEK_NO_CONSTANT)
}
#undef VEK_KEYWORD_ID
#undef VEK_KEYWORD_NAME

}  // namespace vek
