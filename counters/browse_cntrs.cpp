// tBrowseCntrs: the system's counter-browse dialog, and the chosen counter's
// full path or current value.
#include <string.h>

#include "owner.h"
#include "pdh_status.h"

namespace vek {

namespace {

constexpr DWORD kBrowsePathCapacity = 1024;
constexpr char kBrowseCaption[] = "Select a counter to monitor.";

// The status the saved code takes from the release, 0 when both steps
// succeeded: the removal's, or with closeWins the close's when both failed.
PDH_STATUS Release(PdhSample& sample, bool closeWins) {
    const PdhSample::Closed released = sample.Close();
    if (released.removed != ERROR_SUCCESS && !(closeWins && released.closed != ERROR_SUCCESS))
        return released.removed;
    return released.closed;
}

// The failure's code, unless the release fails too: then the release's, the
// sequence's last word.
Outcome ReleaseAfterFailure(PdhSample& sample, uint32_t code) {
    const PDH_STATUS status = Release(sample, false);
    return FailWithCode(kMsgBrowseFailed,
                        status != ERROR_SUCCESS ? static_cast<uint32_t>(status) : code);
}

Outcome ChosenPath(KeywordCall& call, PdhSample& sample) {
    const CounterInfoBlock read = ReadCounterInfoBlock(sample.Counter());
    if (!read.block || read.status != ERROR_SUCCESS) {
        return ReleaseAfterFailure(sample, static_cast<uint32_t>(read.status));
    }
    const GlobalOwner& block = read.block;
    PDH_STATUS status = Release(sample, false);
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(kMsgBrowseFailed, status);
    }
    // The record is read through a copy; its text lies in the block, which
    // lives until the host has copied it.
    PDH_COUNTER_INFO_A info;
    memcpy(&info, block.Get(), sizeof info);
    SetString(call, info.szFullPath ? info.szFullPath : "");
    call.callbackValue = call.callback(kStatusSuccess, call.hostTag, call.hostContext, call.result);
    return kCalledBackItself;
}

Outcome ChosenValue(KeywordCall& call, PdhSample& sample, int32_t format) {
    // One collection only: the dialog's value is a snapshot.
    PDH_STATUS status = Api().PdhCollectQueryData(sample.Query());
    if (status != ERROR_SUCCESS) {
        return ReleaseAfterFailure(sample, static_cast<uint32_t>(status));
    }
    PDH_FMT_COUNTERVALUE value;
    memset(&value, 0, sizeof value);
    status = Api().PdhGetFormattedCounterValue(
        sample.Counter(), format == 0 ? PDH_FMT_LONG : PDH_FMT_DOUBLE, nullptr, &value);
    if (status != ERROR_SUCCESS) {
        sample.Close();
        if (value.CStatus != 0) {
            return FailLoggingSystemCode(value.CStatus == PDH_CSTATUS_NO_INSTANCE
                                             ? kMsgBrowseInstanceMissing
                                             : kMsgBrowseFailed,
                                         "PdhGetFormattedCounterValue");
        }
        return FormatFailureMessage(status, kMsgBrowseFailed);
    }
    // Only valid data counts here; new data is a failure too.
    if (value.CStatus != PDH_CSTATUS_VALID_DATA) {
        return ReleaseAfterFailure(sample, 0);
    }
    status = Release(sample, true);
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(kMsgBrowseFailed, status);
    }
    SetCounterValue(call, value, format);
    return kSucceeded;
}

// A modal dialog in a process whose window station is not visible (a
// service's) waits for an answer nobody can give. Where the flags cannot be
// read, the dialog is shown as it always was.
bool WindowStationVisible() {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags;
    DWORD needed = 0;
    if (station == nullptr ||
        !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

Outcome tBrowseCntrs(KeywordCall& call) {
    // Absent where it is Wine's stub, whose call would end the host.
    if (Api().PdhBrowseCountersA == nullptr) return kMsgOldPdh;
    const int32_t mode = TextToInt32(ArgText(call, 0));
    const int32_t format = TextToInt32(ArgText(call, 1));
    if ((mode != 0 && mode != 1) || (format != 0 && format != 1)) return kMsgInvalidFlags;
    // Outside the loader's all-present test: never call a missing entry.
    if (mode == 0 && Api().PdhGetCounterInfoA == nullptr) return kMsgOldPdh;
    if (!WindowStationVisible()) {
        return FailWithCode(kMsgBrowseFailed, ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    }

    PdhSample sample;
    PDH_STATUS status = sample.Open(0);
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(kMsgBrowseFailed, status);
    }

    char path[kBrowsePathCapacity] = "";
    char caption[sizeof kBrowseCaption];
    memcpy(caption, kBrowseCaption, sizeof caption);
    PDH_BROWSE_DLG_CONFIG_A config;
    memset(&config, 0, sizeof config);
    config.bIncludeInstanceIndex = 1;
    config.bSingleCounterPerAdd = 1;
    config.bSingleCounterPerDialog = 1;
    config.bLocalCountersOnly = 0;
    config.bWildCardInstances = 1;
    config.bHideDetailBox = 1;
    config.hWndOwner = call.hostWindow;
    config.szDataSource = nullptr;
    config.szReturnPathBuffer = path;
    config.cchReturnPathLength = kBrowsePathCapacity;
    config.dwDefaultDetailLevel = PERF_DETAIL_WIZARD;
    config.szDialogBoxCaption = caption;

    status = Api().PdhBrowseCountersA(&config);
    if (Is(status, PDH_DIALOG_CANCELLED)) {
        status = sample.Close().closed;
        if (status == ERROR_SUCCESS) return kCancelledWithoutCallback;
        return FailWithStatus(kMsgBrowseFailed, status);
    }
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(kMsgBrowseFailed, status);
    }
    // The dialog writes at most the length it was given; terminate anyway.
    path[kBrowsePathCapacity - 1] = '\0';

    status = sample.Add(Api().PdhAddCounterA, path, 0);
    if (status != ERROR_SUCCESS) {
        return FailWithStatus(kMsgInvalidCounterName, status);
    }
    return mode == 0 ? ChosenPath(call, sample) : ChosenValue(call, sample, format);
}

}  // namespace vek
