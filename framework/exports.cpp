// The two exports, a keyword call from its slots to its callback, and its
// common endings; which function a keyword id calls is the keyword table's.
#include <string.h>

#include "keyword_call.h"
#include "messages.h"
#include "platform.h"

namespace vek {

namespace {

// Process-wide, as the host reads them: the message text a failed call's
// result points to, and the code tGetLastError gives. Written here alone;
// two host threads calling at once see the last writer's.
char errorText[kErrorTextCapacity];
uint32_t savedErrorCode;

constexpr int kQueryTextCapacity = 256;
char queryText[kQueryTextCapacity];

int32_t Initialise(const HostContext* context, void* refusalBuffer) {
    if (context->hostVersion >= kMinimumHostVersion) {
        ApiLoader();
        return KeywordCount();
    }
    // The host's buffer holds at least 30 characters.
    memcpy(refusalBuffer, kRefusalText, sizeof kRefusalText);
    return -1;
}

// The one place that reports what a keyword came to: the settings file's
// line, the code tGetLastError gives, the message text the host reads.
int32_t RunKeyword(KeywordCall& call, int id) {
    const Outcome outcome = CallKeyword(id, call);
    if (outcome.logContext != nullptr) LogLastError(outcome.logCode, outcome.logContext);
    if (outcome.keepsCode) savedErrorCode = outcome.code;

    if (outcome.message == kCancelledWithoutCallback) return kReturnDialogCancelled;
    if (outcome.message == kCalledBackItself) return call.callbackValue;

    int32_t status = kStatusSuccess;
    if (outcome.message != kSucceeded) {
        call.result->type = kResultString;
        call.result->text = errorText;
        LoadMessage(outcome.message, errorText, kErrorTextCapacity);
        status = kStatusFailure;
    }
    return call.callback(status, call.hostTag, call.hostContext, call.result);
}

}  // namespace

uint32_t SavedErrorCode() { return savedErrorCode; }

}  // namespace vek

using namespace vek;

extern "C" int32_t VEKExtenderQuery(int32_t queryCode, void* buffer, int32_t length) {
    switch (static_cast<int16_t>(queryCode)) {
        case kQueryDescription:
            if (buffer != nullptr && length > 0) {
                LoadMessage(kMsgDescription, queryText, kQueryTextCapacity);
                size_t copy = strlen(queryText);
                if (copy > static_cast<size_t>(length - 1)) copy = length - 1;
                memcpy(buffer, queryText, copy);
                static_cast<char*>(buffer)[copy] = '\0';
            }
            return kExtenderVersion;
        case kQueryOfferedCodes: {
            const int32_t* codes = static_cast<const int32_t*>(buffer);
            for (int32_t i = 0; i < length; ++i) {
                if (codes[i] == kAcceptedCode) return kAcceptedCode;
            }
            return -1;
        }
        default: return 0;
    }
}

extern "C" int32_t VEKExtender2(HWND hostWindow, uint64_t, uint32_t hostTag, int32_t callCode,
                                HostCallback callback, HostContext* hostContext, uint64_t,
                                void* slots, uint32_t keywordIndex, ResultSlot* result) {
    const int id = static_cast<int16_t>(callCode);
    switch (id) {
        case kCallInitialise: return Initialise(hostContext, slots);
        case kCallEnumerate:
            return EnumerateKeyword(keywordIndex, static_cast<KeywordEntry*>(slots));
        case kCallTerminate:
            TerminateKeywords();
            ApiRelease();
            return 1;
        default: break;
    }

    KeywordCall call;
    call.hostWindow = hostWindow;
    call.slots = id >= 0 ? static_cast<const uint8_t*>(slots) : nullptr;
    call.result = result;
    call.callback = callback;
    call.hostTag = hostTag;
    call.hostContext = hostContext;
    call.callbackValue = 0;
    call.numberText[0] = '\0';
    call.resultText[0] = '\0';
    return RunKeyword(call, id);
}
