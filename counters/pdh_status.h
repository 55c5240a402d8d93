// What the counter functions share: PDH statuses as PDH_STATUS values
// (pdhmsg.h spells them as DWORDs), the path bound and the value written.
#pragma once

#include <pdhmsg.h>
#include <string.h>

#include "keyword_call.h"
#include "messages.h"
#include "owner.h"
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

// A counter's information with its explain text, read in PDH's two calls:
// the size, then a zero-filled block of that size. `block` is null where the
// size reported is too small for the record (status: the size query's) or
// the block cannot be had (PDH_MEMORY_ALLOCATION_FAILURE); else `status` is
// the read's.
struct CounterInfoBlock {
    GlobalOwner block;
    PDH_STATUS status;
};
inline CounterInfoBlock ReadCounterInfoBlock(PDH_HCOUNTER counter) {
    DWORD size = 0;
    CounterInfoBlock info = {GlobalOwner(),
                             Api().PdhGetCounterInfoA(counter, TRUE, &size, nullptr)};
    if (size < sizeof(PDH_COUNTER_INFO_A)) return info;
    info.block.Reset(GlobalAlloc(GPTR, size));
    if (!info.block) {
        info.status = PDH_MEMORY_ALLOCATION_FAILURE;
        return info;
    }
    info.status = Api().PdhGetCounterInfoA(counter, TRUE, &size,
                                           static_cast<PDH_COUNTER_INFO_A*>(info.block.Get()));
    return info;
}

// The query of one call and its one counter. Going out of scope removes the
// counter and closes the query, their statuses unheard: the release after a
// failure. Close() is the release a keyword reports, in PDH's order.
class PdhSample {
public:
    struct Closed {
        PDH_STATUS removed;  // ERROR_SUCCESS when there was no counter
        PDH_STATUS closed;
    };

    PdhSample() = default;
    PdhSample(const PdhSample&) = delete;
    PdhSample& operator=(const PdhSample&) = delete;
    ~PdhSample() { Close(); }

    PDH_STATUS Open(DWORD_PTR userData) {
        const PDH_STATUS status = Api().PdhOpenQuery(nullptr, userData, &query_);
        if (status != ERROR_SUCCESS) query_ = nullptr;
        return status;
    }
    // `add` is PdhAddCounterA or PdhAddEnglishCounterA. A refused counter
    // holds nothing, whatever PDH left in the handle.
    PDH_STATUS Add(PdhAddCounterAFn add, const char* path, DWORD_PTR userData) {
        const PDH_STATUS status = add(query_, path, userData, &counter_);
        if (status != ERROR_SUCCESS) counter_ = nullptr;
        return status;
    }
    PDH_HQUERY Query() const { return query_; }
    PDH_HCOUNTER Counter() const { return counter_; }

    // Removes the counter (if one was added), then closes the query; each
    // runs whatever the other gave. Both at most once.
    Closed Close() {
        Closed result = {ERROR_SUCCESS, ERROR_SUCCESS};
        if (counter_ != nullptr) result.removed = Api().PdhRemoveCounter(counter_);
        if (query_ != nullptr) result.closed = Api().PdhCloseQuery(query_);
        counter_ = nullptr;
        query_ = nullptr;
        return result;
    }

private:
    PDH_HQUERY query_ = nullptr;
    PDH_HCOUNTER counter_ = nullptr;
};

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
