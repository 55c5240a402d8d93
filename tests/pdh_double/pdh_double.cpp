// A PDH.DLL that does what its script says and records what it is asked.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pdh_script.h"

// Exported under its undecorated name, as PDH.DLL does.
#undef PdhOpenQuery

using pdhdouble::CallRecord;
using pdhdouble::Script;

namespace {

Script script = [] {
    Script s = {};
    strcpy(s.fullPath, "\\\\DOUBLE\\Widget(left)\\Turns");
    strcpy(s.browsePath, "\\\\DOUBLE\\Widget(browsed)\\Turns");
    s.formatFills = TRUE;
    s.longValue = 42;
    s.doubleValue = 2.5;
    strcpy(s.machine, "\\\\DOUBLE");
    strcpy(s.object, "Widget");
    strcpy(s.instance, "left");
    strcpy(s.parent, "<null>");
    strcpy(s.counter, "Turns");
    // For a host in another process, such as vekrun: the browse status.
    char status[32];
    if (GetEnvironmentVariableA("PDH_DOUBLE_BROWSE_STATUS", status, sizeof status)) {
        s.browse = static_cast<PDH_STATUS>(strtoul(status, nullptr, 0));
    }
    return s;
}();

// Handles are small numbers, so a test can see which one a call was given.
constexpr ULONG_PTR kQueryBase = 0x1000;
constexpr ULONG_PTR kCounterBase = 0x2000;
ULONG_PTR nextQuery = kQueryBase, nextCounter = kCounterBase;

void Record(const char* name, const char* text, ULONG_PTR handle, ULONG_PTR value) {
    if (script.callCount >= pdhdouble::kMaxCalls) return;
    CallRecord& r = script.calls[script.callCount++];
    snprintf(r.name, sizeof r.name, "%s", name);
    snprintf(r.text, sizeof r.text, "%s", text ? text : "");
    r.handle = handle;
    r.value = value;
}

ULONG_PTR H(void* handle) { return reinterpret_cast<ULONG_PTR>(handle); }

}  // namespace

extern "C" {

Script* PdhDoubleScript() { return &script; }

PDH_STATUS WINAPI PdhOpenQuery(LPCWSTR, DWORD_PTR userData, PDH_HQUERY* query) {
    Record("PdhOpenQuery", nullptr, 0, userData);
    if (script.openQuery) return script.openQuery;
    *query = reinterpret_cast<PDH_HQUERY>(++nextQuery);
    ++script.openQueries;
    return 0;
}

PDH_STATUS WINAPI PdhAddCounterA(PDH_HQUERY query, LPCSTR path, DWORD_PTR userData,
                                 PDH_HCOUNTER* counter) {
    Record("PdhAddCounterA", path, H(query), userData);
    if (script.addCounter) return script.addCounter;
    *counter = reinterpret_cast<PDH_HCOUNTER>(++nextCounter);
    return 0;
}

PDH_STATUS WINAPI PdhGetCounterInfoA(PDH_HCOUNTER counter, BOOLEAN explain, LPDWORD size,
                                     PPDH_COUNTER_INFO_A info) {
    Record("PdhGetCounterInfoA", info ? "block" : "size", H(counter), explain);
    const DWORD natural = sizeof(PDH_COUNTER_INFO_A) + sizeof script.fullPath;
    if (info == nullptr) {
        *size = script.infoSize ? script.infoSize : natural;
        return script.infoSizeQuery ? script.infoSizeQuery : PDH_MORE_DATA;
    }
    if (*size >= sizeof(PDH_COUNTER_INFO_A)) {
        info->dwLength = *size;
        info->dwType = script.infoType;
        info->CStatus = script.infoCStatus;
        if (*size >= natural) {
            char* text = reinterpret_cast<char*>(info + 1);
            strcpy(text, script.fullPath);
            info->szFullPath = text;
        }
    }
    return script.info;
}

PDH_STATUS WINAPI PdhCollectQueryData(PDH_HQUERY query) {
    int n = 0;
    for (int i = 0; i < script.callCount; ++i) n += strcmp(script.calls[i].name, "PdhCollectQueryData") == 0;
    Record("PdhCollectQueryData", nullptr, H(query), 0);
    return script.collect[n < 2 ? n : 1];
}

PDH_STATUS WINAPI PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, LPDWORD,
                                              PPDH_FMT_COUNTERVALUE value) {
    Record("PdhGetFormattedCounterValue", nullptr, H(counter), format);
    if (script.formatFills) {
        value->CStatus = script.valueCStatus;
        if (format & PDH_FMT_LONG) value->longValue = script.longValue;
        if (format & PDH_FMT_DOUBLE) value->doubleValue = script.doubleValue;
    }
    return script.format;
}

PDH_STATUS WINAPI PdhRemoveCounter(PDH_HCOUNTER counter) {
    Record("PdhRemoveCounter", nullptr, H(counter), 0);
    return script.remove;
}

PDH_STATUS WINAPI PdhCloseQuery(PDH_HQUERY query) {
    Record("PdhCloseQuery", nullptr, H(query), 0);
    if (script.close) return script.close;
    --script.openQueries;
    return 0;
}

PDH_STATUS WINAPI PdhBrowseCountersA(PPDH_BROWSE_DLG_CONFIG_A config) {
    Record("PdhBrowseCountersA", config->szDialogBoxCaption, H(config->hWndOwner),
           config->cchReturnPathLength);
    script.browseConfig = *config;
    snprintf(script.browseCaption, sizeof script.browseCaption, "%s",
             config->szDialogBoxCaption ? config->szDialogBoxCaption : "");
    if (script.browse) return script.browse;
    snprintf(config->szReturnPathBuffer, config->cchReturnPathLength, "%s", script.browsePath);
    return 0;
}

PDH_STATUS WINAPI PdhConnectMachineA(LPCSTR machine) {
    Record("PdhConnectMachineA", machine, machine == nullptr, 0);
    return script.connect;
}

PDH_STATUS WINAPI PdhEnumObjectItemsA(LPCSTR, LPCSTR, LPCSTR, LPSTR, LPDWORD, LPSTR, LPDWORD,
                                      DWORD, DWORD) {
    Record("PdhEnumObjectItemsA", nullptr, 0, 0);
    return PDH_NOT_IMPLEMENTED;
}

PDH_STATUS WINAPI PdhParseCounterPathA(LPCSTR path, PPDH_COUNTER_PATH_ELEMENTS_A elements,
                                       LPDWORD size, DWORD flags) {
    Record("PdhParseCounterPathA", path, elements != nullptr, flags);
    const DWORD natural = sizeof(PDH_COUNTER_PATH_ELEMENTS_A) + 5 * 128;
    if (elements == nullptr) {
        *size = script.parseSize ? script.parseSize : natural;
        return script.parseSizeQuery ? script.parseSizeQuery : PDH_MORE_DATA;
    }
    if (script.parse) return script.parse;
    if (*size < natural) return PDH_INSUFFICIENT_BUFFER;
    char* text = reinterpret_cast<char*>(elements + 1);
    auto put = [&](const char* value) -> LPSTR {
        if (strcmp(value, "<null>") == 0) return nullptr;
        char* at = text;
        strcpy(at, value);
        text += 128;
        return at;
    };
    elements->szMachineName = put(script.machine);
    elements->szObjectName = put(script.object);
    elements->szInstanceName = put(script.instance);
    elements->szParentInstance = put(script.parent);
    elements->dwInstanceIndex = script.instanceIndex;
    elements->szCounterName = put(script.counter);
    return 0;
}

}  // extern "C"
