// tVersion, tCompatible, tGetLastError: what the extender says of itself.
#include "keyword_call.h"
#include "messages.h"
#include "platform.h"

namespace vek {

Outcome tVersion(KeywordCall& call) {
    SetInteger(call, kExtenderVersion);
    return kSucceeded;
}

Outcome tCompatible(KeywordCall& call) {
    SetInteger(call, Platform().unsupportedPlatform ? 0 : 1);
    return kSucceeded;
}

Outcome tGetLastError(KeywordCall& call) {
    SetInteger(call, static_cast<int32_t>(SavedErrorCode()));
    // Read once: cleared as it is read.
    return Outcome(kSucceeded).KeepingCode(0);
}

}  // namespace vek
