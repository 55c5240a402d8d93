// What the process functions share: opening a process to read it, the
// script's handles, the counter-name list and the performance data.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "counter_index.h"
#include "messages.h"
#include "text_buffer.h"

namespace vek {

// Opens a process to read one figure: with `access`, or, where that is
// refused with ERROR_ACCESS_DENIED from Vista on, with the limited query right.
// Both refuse a process that has ended as one that is not there (null,
// ERROR_INVALID_PARAMETER).
HANDLE OpenProcessForQuery(DWORD access, DWORD processId);
// Opens a process with `access`, which holds a query right.
HANDLE OpenRunningProcess(DWORD access, DWORD processId);

// Reads one object of the performance data into a process-heap buffer
// that grows until it fits: success, or the failure. `reads` (may be null) gets
// the number of registry queries made. The caller frees the buffer.
Outcome ReadPerformanceObject(const char* indexText, BYTE** buffer, DWORD* returned, int* reads);

// Walks the object `objectIndex` of a performance-data block of `size`
// bytes for the process list: kSucceeded or a message id. Bounded by size: nothing
// outside the block is read.
int ProcessListFromPerfData(const BYTE* data, DWORD size, int32_t objectIndex,
                            int32_t idCounterIndex, TextBuffer& out);

}  // namespace vek
