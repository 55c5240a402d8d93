// The PDH test double's script: what each entry point returns and fills
// in, set by a test, and the calls it received, in order. The test reaches
// the record through the double's export PdhDoubleScript.
#pragma once

#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

namespace pdhdouble {

constexpr int kMaxCalls = 256;
constexpr int kTextCapacity = 1100;

struct CallRecord {
    char name[40];
    char text[kTextCapacity];  // the path, machine name or similar argument
    ULONG_PTR handle;          // the query or counter the call was given
    ULONG_PTR value;           // user data, format or similar
    double ms;                 // when it came, in milliseconds of the performance counter
};

struct Script {
    // Statuses the entry points return (0: success).
    PDH_STATUS openQuery, addCounter, addEnglish, infoSizeQuery, info, collect[2], format, remove, close,
        browse, connect, parseSizeQuery, parse;
    // PdhGetCounterInfoA: the size it reports (0: the record's real size),
    // and what it writes into the record.
    DWORD infoSize;
    DWORD infoCStatus;
    DWORD infoType;
    char fullPath[kTextCapacity];
    // PdhGetFormattedCounterValue: whether it fills the record, and with what.
    BOOL formatFills;
    DWORD valueCStatus;
    LONG longValue;
    double doubleValue;
    // PdhBrowseCountersA writes this path; it keeps the configuration.
    char browsePath[kTextCapacity];
    PDH_BROWSE_DLG_CONFIG_A browseConfig;
    char browseCaption[128];
    // PdhParseCounterPathA: the elements (null where the text is "<null>")
    // and the size its size query reports (0: the natural size).
    char machine[128], object[128], instance[128], parent[128], counter[128];
    DWORD instanceIndex;
    DWORD parseSize;

    // What happened.
    int callCount;
    CallRecord calls[kMaxCalls];
    int openQueries;  // opened and not closed yet
    int refusedHandles;  // calls given a handle the double never issued or had closed
};

typedef Script* (*ScriptFn)();

}  // namespace pdhdouble
