#include "call_lock.h"

namespace vek {

namespace {

// A critical section, not an SRW lock: kernel32 has SRW locks from Vista
// on, and this DLL still loads on the 64-bit systems before it (a static
// import would keep it from loading there). It needs making, which the
// attach does; nothing else of the DLL runs before that.
CRITICAL_SECTION callLock;

}  // namespace

void CreateCallLock() { InitializeCriticalSection(&callLock); }
void DeleteCallLock() { DeleteCriticalSection(&callLock); }

CallLockScope::CallLockScope() { EnterCriticalSection(&callLock); }
CallLockScope::~CallLockScope() { LeaveCriticalSection(&callLock); }

}  // namespace vek
