// tParseCntrPath: a counter path split into its six elements, one line.
#include <string.h>

#include "owner.h"
#include "pdh_status.h"

namespace vek {

namespace {

int ParseFailureMessage(PDH_STATUS status) {
    if (Is(status, PDH_INVALID_ARGUMENT)) return kMsgInvalidParameter;
    if (Is(status, PDH_INVALID_PATH)) return kMsgInvalidCounterName;
    if (Is(status, PDH_MEMORY_ALLOCATION_FAILURE)) return kMsgOutOfMemory;
    return kMsgParsePathFailed;
}

// A null element adds nothing, but its tab still follows: six fields always.
void AppendField(TextBuffer& out, const char* text, bool last) {
    if (text) out.Append(text);
    if (!last) out.AppendChar('\t');
}

}  // namespace

Outcome tParseCntrPath(KeywordCall& call) {
    // Outside the loader's all-present test, and absent where it is Wine's
    // stub: never call a missing entry.
    if (Api().PdhParseCounterPathA == nullptr) return kMsgOldPdh;

    char path[kCounterPathCapacity];
    if (!CopyCounterPath(call, path)) return FailWithCode(kMsgInvalidCounterName, PDH_INVALID_PATH);

    DWORD size = 0;
    PDH_STATUS status = Api().PdhParseCounterPathA(path, nullptr, &size, 0);
    if (status == ERROR_SUCCESS) {
        // Success without a block leaves nothing to read the elements from.
        return FailWithCode(kMsgParsePathFailed, 0);
    }
    if (!Is(status, PDH_MORE_DATA)) {
        return FailWithStatus(ParseFailureMessage(status), status);
    }
    if (size < sizeof(PDH_COUNTER_PATH_ELEMENTS_A)) {
        return FailWithStatus(kMsgParsePathFailed, status);
    }
    GlobalOwner block(GlobalAlloc(GPTR, size));
    if (!block) {
        // Reported as PDH reports the same status.
        return FailWithStatus(ParseFailureMessage(PDH_MEMORY_ALLOCATION_FAILURE),
                              PDH_MEMORY_ALLOCATION_FAILURE);
    }
    status = Api().PdhParseCounterPathA(
        path, static_cast<PDH_COUNTER_PATH_ELEMENTS_A*>(block.Get()), &size, 0);
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(ParseFailureMessage(status), status);
    }

    // The record is read through a copy; its texts lie in the block.
    PDH_COUNTER_PATH_ELEMENTS_A elements;
    memcpy(&elements, block.Get(), sizeof elements);
    // Every append is bounded by the result buffer.
    TextBuffer out = ResultBuffer(call);
    char index[kUInt64TextCapacity];
    UInt64ToText(elements.dwInstanceIndex, index);
    AppendField(out, elements.szMachineName, false);
    AppendField(out, elements.szObjectName, false);
    AppendField(out, elements.szInstanceName, false);
    AppendField(out, elements.szParentInstance, false);
    AppendField(out, index, false);
    AppendField(out, elements.szCounterName, true);
    SetString(call, call.resultText);
    return kSucceeded;
}

}  // namespace vek
