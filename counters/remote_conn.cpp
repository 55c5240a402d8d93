// tRemoteConn: asks PDH to reach another machine's counters.
#include "pdh_status.h"

namespace vek {

Outcome tRemoteConn(KeywordCall& call) {
    // Absent where it is Wine's stub, whose call would end the host.
    if (Api().PdhConnectMachineA == nullptr) return kMsgOldPdh;
    PDH_STATUS status = Api().PdhConnectMachineA(ArgText(call, 0));
    if (status == ERROR_SUCCESS) {
        SetInteger(call, 1);
        return kSucceeded;
    }
    return FailLoggingCode(
        Is(status, PDH_CSTATUS_NO_MACHINE) ? kMsgNoMachine : kMsgRemoteConnFailed,
        static_cast<uint32_t>(status), "PdhConnectMachineA");
}

}  // namespace vek
