// The vocabulary the host learns by enumeration, one row per call.
#include <string.h>

#include "extender.h"

namespace vek {

namespace {

#define FUNCTION_TYPES {0x11, 0x11, 0x01, 0, 0, 0, 0, 0}
#define NO_TYPES {0, 0, 0, 0, 0, 0, 0, 0}

// Writable: enumeration lower-cases each name in place, as the host expects
// to find it afterwards.
KeywordEntry keywordTable[kKeywordCount + 1] = {
    {1, kKindFunction, FUNCTION_TYPES, 0, 0, "tVersion"},
    {2, kKindFunction, FUNCTION_TYPES, 0, 0, "tListProc"},
    {3, kKindFunction, FUNCTION_TYPES, 2, 0, "tOpenProc"},
    {4, kKindFunction, FUNCTION_TYPES, 2, 0, "tListMod"},
    {5, kKindFunction, FUNCTION_TYPES, 1, 0, "tGetProcInfo"},
    {6, kKindFunction, FUNCTION_TYPES, 0, 0, "tCountProc"},
    {7, kKindFunction, FUNCTION_TYPES, 2, 0, "tGetModInfo"},
    {8, kKindFunction, FUNCTION_TYPES, 5, 0, "tBrowseCntrs"},
    {9, kKindFunction, FUNCTION_TYPES, 1, 0, "tKillProc"},
    {10, kKindConstant, NO_TYPES, 1, 0, "@TRUE"},
    {11, kKindConstant, NO_TYPES, 0, 0, "@FALSE"},
    {12, kKindFunction, FUNCTION_TYPES, 1, 0, "tCloseProc"},
    {13, kKindFunction, FUNCTION_TYPES, 0, 0, "tCompatible"},
    {14, kKindFunction, FUNCTION_TYPES, 0, 0, "tGetLastError"},
    {22, kKindFunction, FUNCTION_TYPES, 2, 0, "tGetData"},
    {23, kKindFunction, FUNCTION_TYPES, 1, 0, "tRemoteConn"},
    {24, kKindFunction, FUNCTION_TYPES, 2, 0, "tSetPriority"},
    {25, kKindFunction, FUNCTION_TYPES, 1, 0, "tGetPriority"},
    {26, kKindFunction, FUNCTION_TYPES, 1, 0, "tParseCntrPath"},
    {-1, 0, NO_TYPES, 0, 0, ""},
};

#undef FUNCTION_TYPES
#undef NO_TYPES

}  // namespace

int EnumerateKeyword(uint32_t keywordIndex, KeywordEntry* record) {
    // The host stops at the terminator; an index past it reads nothing.
    if (keywordIndex >= kKeywordCount) return 0;
    KeywordEntry& row = keywordTable[keywordIndex];
    if (row.id == -1) return 0;
    if (record != nullptr) {
        record->id = row.id;
        record->kind = row.kind;
        record->countOrValue = row.countOrValue;
        memcpy(record->argTypes, row.argTypes, sizeof row.argTypes);
        record->nameLength = static_cast<uint16_t>(strlen(row.name));
        CharLowerA(row.name);
        memcpy(record->name, row.name, record->nameLength + 1);
    }
    return 1;
}

}  // namespace vek
