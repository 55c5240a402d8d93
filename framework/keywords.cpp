// The vocabulary the host learns by enumeration and the function each
// keyword calls: one row a keyword, which enumeration, dispatch and the
// count initialise gives all read.
#include <string.h>

#include "keyword_call.h"

namespace vek {

namespace {

struct KeywordRow {
    int32_t id;
    int32_t kind;
    int32_t countOrValue;      // a function's argument count, a constant's value
    const char* name;          // the host receives it lower-cased
    KeywordFunction function;  // null for a constant: calling one answers "no such function"
};

// The ids are the host's: stable, never reused, with gaps (15 to 21) that
// name nothing.
constexpr KeywordRow kKeywords[] = {
    {1, kKindFunction, 0, "tVersion", tVersion},
    {2, kKindFunction, 0, "tListProc", tListProc},
    {3, kKindFunction, 2, "tOpenProc", tOpenProc},
    {4, kKindFunction, 2, "tListMod", tListMod},
    {5, kKindFunction, 1, "tGetProcInfo", tGetProcInfo},
    {6, kKindFunction, 0, "tCountProc", tCountProc},
    {7, kKindFunction, 2, "tGetModInfo", tGetModInfo},
    {8, kKindFunction, 5, "tBrowseCntrs", tBrowseCntrs},
    {9, kKindFunction, 1, "tKillProc", tKillProc},
    {10, kKindConstant, 1, "@TRUE", nullptr},
    {11, kKindConstant, 0, "@FALSE", nullptr},
    {12, kKindFunction, 1, "tCloseProc", tCloseProc},
    {13, kKindFunction, 0, "tCompatible", tCompatible},
    {14, kKindFunction, 0, "tGetLastError", tGetLastError},
    {22, kKindFunction, 2, "tGetData", tGetData},
    {23, kKindFunction, 1, "tRemoteConn", tRemoteConn},
    {24, kKindFunction, 2, "tSetPriority", tSetPriority},
    {25, kKindFunction, 1, "tGetPriority", tGetPriority},
    {26, kKindFunction, 1, "tParseCntrPath", tParseCntrPath},
};

// Every function's argument types, as the host reads them; a constant has none.
constexpr uint8_t kFunctionTypes[8] = {0x11, 0x11, 0x01, 0, 0, 0, 0, 0};

}  // namespace

void TerminateKeywords() { CloseScriptHandles(); }

int32_t KeywordCount() { return static_cast<int32_t>(ARRAYSIZE(kKeywords)); }

int EnumerateKeyword(uint32_t keywordIndex, KeywordEntry* record) {
    // The host stops at the first index that reads nothing.
    if (keywordIndex >= ARRAYSIZE(kKeywords)) return 0;
    const KeywordRow& row = kKeywords[keywordIndex];
    if (record != nullptr) {
        record->id = row.id;
        record->kind = row.kind;
        record->countOrValue = row.countOrValue;
        memset(record->argTypes, 0, sizeof record->argTypes);
        if (row.kind == kKindFunction)
            memcpy(record->argTypes, kFunctionTypes, sizeof kFunctionTypes);
        record->nameLength = static_cast<uint16_t>(strlen(row.name));
        memcpy(record->name, row.name, record->nameLength + 1);
        CharLowerA(record->name);
    }
    return 1;
}

KeywordFunction FindKeywordFunction(int32_t id) {
    for (const KeywordRow& row : kKeywords) {
        if (row.id == id) return row.function;
    }
    return nullptr;
}

}  // namespace vek
