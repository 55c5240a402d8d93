// The vocabulary the host learns by enumeration and the function each
// keyword calls, after the check of what it needs of the platform: the
// registry's rows, which enumeration, dispatch and the count initialise
// gives all read.
#include <string.h>

#include "keyword_call.h"
#include "keyword_registry.h"
#include "message_ids.h"
#include "platform.h"

namespace vek {

namespace {

typedef int (*PlatformCheck)();

struct KeywordRow {
    int32_t id;
    int32_t kind;
    int32_t countOrValue;      // a function's argument count, a constant's value
    const char* name;          // the host receives it lower-cased
    KeywordFunction function;  // null for a constant: calling one answers "no such function"
    PlatformCheck check;       // null where the function needs nothing of the platform
};

#define VEK_FUNCTION_ROW(id, function, args, check, ...) \
    {id, kKindFunction, ArgumentCount(args), #function, function, check},
#define VEK_CONSTANT_ROW(id, name, value, ...) {id, kKindConstant, value, name, nullptr, nullptr},
constexpr KeywordRow kKeywords[] = {VEK_KEYWORDS(VEK_FUNCTION_ROW, VEK_CONSTANT_ROW)};
#undef VEK_FUNCTION_ROW
#undef VEK_CONSTANT_ROW

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

Outcome CallKeyword(int32_t id, KeywordCall& call) {
    for (const KeywordRow& row : kKeywords) {
        if (row.id != id || row.function == nullptr) continue;
        if (row.check != nullptr) {
            if (int failure = row.check()) return failure;
        }
        return row.function(call);
    }
    return kMsgNoSuchFunction;
}

}  // namespace vek
