// tGetData: one sample of one performance counter, through a query of its
// own that never outlives the call.
#include <string.h>

#include "owner.h"
#include "pdh_status.h"

namespace vek {

namespace {

constexpr DWORD_PTR kQueryUserData = 1;
constexpr DWORD kSampleIntervalMs = 300;
int AddCounterMessage(PDH_STATUS status) {
    if (Is(status, PDH_CSTATUS_NO_OBJECT)) return kMsgObjectNotFound;
    if (Is(status, PDH_CSTATUS_BAD_COUNTERNAME)) return kMsgInvalidCounterName;
    if (Is(status, PDH_CSTATUS_NO_COUNTER)) return kMsgCounterNotFound;
    return kMsgGetDataFailed;
}

// Opens the call's query and adds the counter to it.
Outcome AddCounter(const char* path, PdhSample& sample) {
    PDH_STATUS status = sample.Open(kQueryUserData);
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(kMsgGetDataFailed, status);
    }
    status = sample.Add(Api().PdhAddCounterA, path, kQueryUserData);
    // PdhAddCounterA takes only the system language's names; a script
    // written on an English system names English ones. PdhAddEnglishCounterA
    // (Vista and later) is tried once; if it refuses too, its refusal says
    // no more than the first.
    if ((Is(status, PDH_CSTATUS_NO_OBJECT) || Is(status, PDH_CSTATUS_NO_COUNTER)) &&
        Api().PdhAddEnglishCounterA != nullptr &&
        sample.Add(Api().PdhAddEnglishCounterA, path, kQueryUserData) == ERROR_SUCCESS) {
        status = ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(AddCounterMessage(status), status);
    }
    return kSucceeded;
}

// The counter's information, read through a copy, and its status.
Outcome ReadCounterInfo(const PdhSample& sample, PDH_COUNTER_INFO_A& info) {
    const CounterInfoBlock read = ReadCounterInfoBlock(sample.Counter());
    const PDH_STATUS status = read.status;
    // Without a block the record's status cannot be looked at.
    if (!read.block) return FailWithStatus(kMsgGetDataFailed, status);
    // Only the record's own fields are used: the texts it points to go
    // with the block.
    memcpy(&info, read.block.Get(), sizeof info);
    if (status != ERROR_SUCCESS) {
        if (info.CStatus == PDH_CSTATUS_NO_INSTANCE)
            return FailWithStatus(kMsgInstanceMissing, status);
        return FailWithStatus(kMsgGetDataFailed, status)
            .Logging(static_cast<int32_t>(info.CStatus), "Status of PdhGetCounterInfo");
    }
    if (info.CStatus != PDH_CSTATUS_VALID_DATA && info.CStatus != PDH_CSTATUS_NEW_DATA) {
        return Outcome(kMsgInstanceMissing)
            .Logging(static_cast<int32_t>(info.CStatus), "Status of PdhGetCounterInfo");
    }
    return kSucceeded;
}

// Rate counters need two samples; every counter gets them.
Outcome CollectTwice(const PdhSample& sample) {
    PDH_STATUS status = Api().PdhCollectQueryData(sample.Query());
    if (status == ERROR_SUCCESS) {
        Sleep(kSampleIntervalMs);
        status = Api().PdhCollectQueryData(sample.Query());
    }
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(kMsgCollectFailed, status);
    }
    return kSucceeded;
}

Outcome FormatValue(const PdhSample& sample, const PDH_COUNTER_INFO_A& info, int32_t flag,
                    PDH_FMT_COUNTERVALUE& value) {
    // PDH leaves the record alone when it rejects the handle or an argument;
    // cleared, it cannot pass stale bytes off as a value.
    memset(&value, 0, sizeof value);
    DWORD type = info.dwType;
    const PDH_STATUS status = Api().PdhGetFormattedCounterValue(
        sample.Counter(), flag == 0 ? PDH_FMT_LONG : PDH_FMT_DOUBLE, &type, &value);
    if (status != ERROR_SUCCESS) {
        // A failing status is a failure even when the record's own status
        // reads 0: the value was never filled.
        const Outcome failure =
            FailWithStatus(FormatFailureMessage(status, kMsgGetDataFailed), status);
        if (value.CStatus == 0) return failure;
        return failure.Logging(static_cast<int32_t>(value.CStatus),
                               "Status of PdhGetFormattedCounterValue");
    }
    return kSucceeded;
}

// Remove, then close: the release whose statuses the keyword reports, the
// removal's first.
Outcome Release(PdhSample& sample) {
    const PdhSample::Closed released = sample.Close();
    if (released.removed != ERROR_SUCCESS) {
        return FailWithStatus(kMsgRemoveCounterFailed, released.removed);
    }
    if (released.closed != ERROR_SUCCESS) {
        return FailWithStatus(
            Is(released.closed, PDH_INVALID_HANDLE) ? kMsgInvalidHandle : kMsgCloseQueryFailed,
            released.closed);
    }
    return kSucceeded;
}

}  // namespace

Outcome tGetData(KeywordCall& call) {
    // Outside the loader's all-present test: never call a missing entry.
    if (Api().PdhGetCounterInfoA == nullptr) return kMsgOldPdh;

    char path[kCounterPathCapacity];
    if (!CopyCounterPath(call, path))
        return FailWithCode(kMsgInvalidCounterName, PDH_CSTATUS_BAD_COUNTERNAME);

    PdhSample sample;
    PDH_COUNTER_INFO_A info;
    if (Outcome failure = AddCounter(path, sample)) return failure;
    if (Outcome failure = ReadCounterInfo(sample, info)) return failure;

    // The flag is looked at only once the path has proved good.
    const char* flagText = ArgText(call, 1);
    const int32_t flag = TextToInt32(flagText);
    if (flag != 0 && flag != 1) return kMsgInvalidFlags;
    if (!IsIntegerText(flagText)) return kMsgInvalidParameter;

    PDH_FMT_COUNTERVALUE value;
    if (Outcome failure = CollectTwice(sample)) return failure;
    if (Outcome failure = FormatValue(sample, info, flag, value)) return failure;
    if (Outcome failure = Release(sample)) return failure;
    // The result only once both releases succeeded: a failure's message
    // leaves the host's value field as it was.
    SetCounterValue(call, value, flag);
    return kSucceeded;
}

}  // namespace vek
