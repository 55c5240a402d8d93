// tRemoteConn: asks PDH to reach another machine's counters.
#include "pdh_status.h"

namespace vek {

int tRemoteConn(KeywordCall& call) {
    if (int failure = CheckPdh()) return failure;
    PDH_STATUS status = apiTable.PdhConnectMachineA(ArgText(call, 0));
    if (status == ERROR_SUCCESS) {
        SetInteger(call, 1);
        return kSucceeded;
    }
    savedErrorCode = static_cast<uint32_t>(status);
    LogLastError(static_cast<int32_t>(status), "PdhConnectMachineA");
    return Is(status, PDH_CSTATUS_NO_MACHINE) ? kMsgNoMachine : kMsgRemoteConnFailed;
}

}  // namespace vek
