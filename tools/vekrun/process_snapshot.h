// Every process of the system at one instant, from one call of
// NtQuerySystemInformation(SystemProcessInformation): what --procs, --kill
// and --wait read, rather than one call a process.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "owner.h"

namespace vekrun {

// SYSTEM_PROCESS_INFORMATION as 64-bit Windows writes it (and Wine alike);
// the image name's text lies elsewhere in the same buffer. Read through a
// copy: the records follow each other at offsets the kernel chooses.
struct SystemProcessInformation {
    ULONG NextEntryOffset;
    ULONG NumberOfThreads;
    LARGE_INTEGER WorkingSetPrivateSize;
    ULONG HardFaultCount;
    ULONG NumberOfThreadsHighWatermark;
    ULONGLONG CycleTime;
    LARGE_INTEGER CreateTime;
    LARGE_INTEGER UserTime;
    LARGE_INTEGER KernelTime;
    USHORT ImageNameLength;  // UNICODE_STRING ImageName, in bytes
    USHORT ImageNameMaximumLength;
    ULONGLONG ImageNameBuffer;
    LONG BasePriority;
    ULONGLONG UniqueProcessId;
    ULONGLONG InheritedFromUniqueProcessId;
    ULONG HandleCount;
    ULONG SessionId;
    ULONGLONG UniqueProcessKey;
    ULONGLONG PeakVirtualSize;
    ULONGLONG VirtualSize;
    ULONG PageFaultCount;
    ULONGLONG PeakWorkingSetSize;
    ULONGLONG WorkingSetSize;
    ULONGLONG QuotaPeakPagedPoolUsage;
    ULONGLONG QuotaPagedPoolUsage;
    ULONGLONG QuotaPeakNonPagedPoolUsage;
    ULONGLONG QuotaNonPagedPoolUsage;
    ULONGLONG PagefileUsage;
    ULONGLONG PeakPagefileUsage;
    ULONGLONG PrivatePageCount;
    LARGE_INTEGER IoCounters[6];
};
static_assert(offsetof(SystemProcessInformation, CreateTime) == 32, "CreateTime");
static_assert(offsetof(SystemProcessInformation, UserTime) == 40, "UserTime");
static_assert(offsetof(SystemProcessInformation, KernelTime) == 48, "KernelTime");
static_assert(offsetof(SystemProcessInformation, ImageNameLength) == 56, "ImageName");
static_assert(offsetof(SystemProcessInformation, ImageNameBuffer) == 64, "ImageName.Buffer");
static_assert(offsetof(SystemProcessInformation, BasePriority) == 72, "BasePriority");
static_assert(offsetof(SystemProcessInformation, UniqueProcessId) == 80, "UniqueProcessId");
static_assert(offsetof(SystemProcessInformation, InheritedFromUniqueProcessId) == 88, "parent");
static_assert(offsetof(SystemProcessInformation, HandleCount) == 96, "HandleCount");
static_assert(offsetof(SystemProcessInformation, WorkingSetSize) == 144, "WorkingSetSize");
static_assert(offsetof(SystemProcessInformation, PrivatePageCount) == 200, "PrivatePageCount");
static_assert(sizeof(SystemProcessInformation) == 256, "the record before its threads");

// One process as a snapshot shows it. Times are in 100 ns units: the
// creation time since 1601 (UTC), the processor times spent.
struct ProcessRecord {
    DWORD processId = 0;
    DWORD parentProcessId = 0;
    std::string name;  // UTF-8
    ULONG threadCount = 0;
    ULONG handleCount = 0;
    ULONGLONG creationTime = 0;
    ULONGLONG userTime = 0;
    ULONGLONG kernelTime = 0;
    ULONGLONG workingSetSize = 0;
    ULONGLONG privatePageCount = 0;
    LONG basePriority = 0;
};

// The records of a snapshot of `size` bytes at `data`, checked as they are
// walked: a record cut short, a next offset that does not move forward past
// a whole record or leads out of the data, a name outside the data. Empty
// text, or the problem with its offset.
std::string ReadProcessRecords(const BYTE* data, size_t size, std::vector<ProcessRecord>& records);

// Snapshots taken one after another, in a buffer kept between them.
class ProcessSnapshots {
public:
    // Every process now; empty text, or the problem.
    std::string Take(std::vector<ProcessRecord>& records);

private:
    std::vector<BYTE> buffer_;
};

// The process of id `id` among `processes`, or null.
const ProcessRecord* FindProcess(const std::vector<ProcessRecord>& processes, DWORD id);

// Whether `pattern` names the process: its Name in any case, with * and ?,
// the ".exe" optional (as Get-Process -Name); digits alone, its id.
bool PatternNames(const std::string& pattern, const ProcessRecord& process);

// A process of one snapshot opened, and whether the handle is that process:
// an id may be reused between the snapshot and the open, but never while a
// handle keeps the process, so a snapshot taken after the open that shows
// the id created at the same time confirms it.
struct OpenedProcess {
    ProcessRecord record;
    vek::HandleGuard handle;
    DWORD openError = ERROR_SUCCESS;  // the open's, when it failed
    bool confirmed = false;           // the handle is the process the snapshot showed
};
// Opens each of `processes` with `access`, then confirms them by a later
// snapshot; empty text, or the problem with that snapshot.
std::string OpenConfirmed(ProcessSnapshots& snapshots, const std::vector<ProcessRecord>& processes,
                          DWORD access, std::vector<OpenedProcess>& opened);

}  // namespace vekrun
