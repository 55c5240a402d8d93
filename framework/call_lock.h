// Keyword calls from two host threads at once. A host is meant to make one
// call at a time, but a slip in its threading must not become corruption
// of what the calls share beyond their own storage: that state is changed
// and read only while this lock is held.
#pragma once

#include <windows.h>

namespace vek {

// Made as the DLL attaches and deleted as it is freed, so that it exists
// before any call can come.
void CreateCallLock();
void DeleteCallLock();

// Holds the lock for its scope.
class CallLockScope {
public:
    CallLockScope();
    ~CallLockScope();
    CallLockScope(const CallLockScope&) = delete;
    CallLockScope& operator=(const CallLockScope&) = delete;
};

}  // namespace vek
