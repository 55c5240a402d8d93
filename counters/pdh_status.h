// What the counter functions share: PDH statuses as PDH_STATUS values
// (pdhmsg.h spells them as DWORDs), the path bound and the value written.
#pragma once

#include <pdhmsg.h>
#include <string.h>

#include "keyword_call.h"
#include "messages.h"
#include "platform.h"

namespace vek {

inline bool Is(PDH_STATUS status, DWORD code) { return static_cast<DWORD>(status) == code; }

// Any path PDH accepts fits; a longer argument is refused before PDH sees it.
constexpr size_t kCounterPathCapacity = PDH_MAX_COUNTER_PATH + 1;

// The first argument, a counter path, copied into `path`; false, with
// nothing copied, when it would not fit. The caller names the code kept.
inline bool CopyCounterPath(const KeywordCall& call, char (&path)[kCounterPathCapacity]) {
    const char* pathArg = ArgText(call, 0);
    const size_t pathLength = strnlen(pathArg, kCounterPathCapacity);
    if (pathLength >= kCounterPathCapacity) return false;
    memcpy(path, pathArg, pathLength + 1);
    return true;
}

// The message for a status PdhGetFormattedCounterValue failed with, as both
// counter keywords give it; `otherMessage` for the rest.
inline int FormatFailureMessage(PDH_STATUS status, int otherMessage) {
    if (Is(status, PDH_INVALID_ARGUMENT)) return kMsgBadArgument;
    if (Is(status, PDH_INVALID_DATA)) return kMsgInvalidData;
    if (Is(status, PDH_INVALID_HANDLE)) return kMsgBadCounterHandle;
    return otherMessage;
}

// A sampled value as both counter keywords give it: the integer for
// format 0, the decimal text for format 1.
inline void SetCounterValue(KeywordCall& call, const PDH_FMT_COUNTERVALUE& value, int32_t format) {
    if (format == 0) {
        SetInteger(call, value.longValue);
    } else {
        FormatDouble(value.doubleValue, call.numberText);
        SetString(call, call.numberText);
    }
}

}  // namespace vek
