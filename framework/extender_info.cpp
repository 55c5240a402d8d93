// tVersion, tCompatible, tGetLastError: what the extender says of itself.
#include "keyword_call.h"
#include "messages.h"
#include "platform.h"

namespace vek {

int tVersion(KeywordCall& call) {
    SetInteger(call, kExtenderVersion);
    return kSucceeded;
}

int tCompatible(KeywordCall& call) {
    SetInteger(call, platformInfo.unsupportedPlatform ? 0 : 1);
    return kSucceeded;
}

int tGetLastError(KeywordCall& call) {
    SetInteger(call, static_cast<int32_t>(savedErrorCode));
    savedErrorCode = 0;
    return kSucceeded;
}

}  // namespace vek
