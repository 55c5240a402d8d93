// Every process at one instant from one system call, walked record by
// record with each offset checked before it is read.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "process_snapshot.h"
#include "text.h"
#include "system_library.h"

namespace vekrun {

namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
typedef LONG(NTAPI* QuerySystemFn)(ULONG, PVOID, ULONG, PULONG);

// The first buffer holds a few hundred processes; a larger system grows it
// once, by what the call asked for and room for processes started since.
constexpr size_t kFirstBuffer = 256 * 1024;
constexpr size_t kRoom = 64 * 1024;
// A system whose process list outgrows every answer this often is not
// waited on for ever.
constexpr int kTries = 8;

std::string At(const char* what, size_t offset) {
    return "the system's process list is malformed: " + std::string(what) + " at byte " +
           std::to_string(offset);
}

// The name's UTF-16 text as UTF-8; false when it lies outside the data.
bool ReadName(const BYTE* data, size_t size, const SystemProcessInformation& record,
              std::string& name) {
    name.clear();
    if (record.ImageNameLength == 0) return true;
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    const uintptr_t text = static_cast<uintptr_t>(record.ImageNameBuffer);
    if (text < start || text - start > size || size - (text - start) < record.ImageNameLength ||
        record.ImageNameLength % 2)
        return false;
    std::wstring wide(record.ImageNameLength / 2, L'\0');
    memcpy(&wide[0], data + (text - start), record.ImageNameLength);
    name = Utf8Of(wide.data(), wide.size());
    return true;
}

// Wine gives the class's index where Windows gives its base priority
// (PROCESS_PRIOCLASS_IDLE 1, NORMAL 2, HIGH 3, REALTIME 4, BELOW_NORMAL 5,
// ABOVE_NORMAL 6); read the same on both.
LONG WindowsBasePriority(LONG given) {
    static const bool wine = vek::UnderWine();
    static const LONG kBase[] = {0, 4, 8, 13, 24, 6, 10};
    return wine && given > 0 && given < 7 ? kBase[given] : given;
}

}  // namespace

std::string ReadProcessRecords(const BYTE* data, size_t size, std::vector<ProcessRecord>& records) {
    records.clear();
    for (size_t offset = 0;;) {
        if (size - offset < sizeof(SystemProcessInformation))
            return At("a record cut short", offset);
        SystemProcessInformation record;
        memcpy(&record, data + offset, sizeof record);
        ProcessRecord process;
        if (!ReadName(data, size, record, process.name)) return At("a name outside it", offset);
        process.processId = static_cast<DWORD>(record.UniqueProcessId);
        process.parentProcessId = static_cast<DWORD>(record.InheritedFromUniqueProcessId);
        // The idle process, as Win32_Process names it; the kernel leaves its name empty.
        if (process.processId == 0 && process.name.empty()) process.name = "System Idle Process";
        process.threadCount = record.NumberOfThreads;
        process.handleCount = record.HandleCount;
        process.creationTime = static_cast<ULONGLONG>(record.CreateTime.QuadPart);
        process.userTime = static_cast<ULONGLONG>(record.UserTime.QuadPart);
        process.kernelTime = static_cast<ULONGLONG>(record.KernelTime.QuadPart);
        process.workingSetSize = record.WorkingSetSize;
        // The private commit, which Windows gives in both fields and Wine in
        // PagefileUsage alone.
        process.privatePageCount =
            record.PrivatePageCount ? record.PrivatePageCount : record.PagefileUsage;
        process.basePriority = WindowsBasePriority(record.BasePriority);
        records.push_back(process);
        if (record.NextEntryOffset == 0) return std::string();
        if (record.NextEntryOffset < sizeof record || record.NextEntryOffset > size - offset)
            return At("a next record out of place", offset);
        offset += record.NextEntryOffset;
    }
}

std::string ProcessSnapshots::Take(std::vector<ProcessRecord>& records) {
    static const QuerySystemFn query = [] {
        const FARPROC found =
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
        return reinterpret_cast<QuerySystemFn>(reinterpret_cast<void*>(found));
    }();
    if (query == nullptr) return "this system has no NtQuerySystemInformation";
    if (buffer_.empty()) buffer_.resize(kFirstBuffer);
    LONG status = kStatusInfoLengthMismatch;
    ULONG needed = 0;
    for (int tries = 0; tries < kTries && status == kStatusInfoLengthMismatch; ++tries) {
        status = query(kSystemProcessInformation, buffer_.data(),
                       static_cast<ULONG>(buffer_.size()), &needed);
        if (status == kStatusInfoLengthMismatch)
            buffer_.resize(std::max<size_t>(needed, buffer_.size()) + kRoom);
    }
    if (status < 0) {
        char code[16];
        snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        return std::string("the system's process list cannot be read (NTSTATUS ") + code + ")";
    }
    // A system that does not say how much it wrote filled at most the buffer.
    const size_t filled = needed ? std::min<size_t>(needed, buffer_.size()) : buffer_.size();
    return ReadProcessRecords(buffer_.data(), filled, records);
}

bool PatternNames(const std::string& pattern, const ProcessRecord& process) {
    if (!pattern.empty() && pattern.size() <= 10 &&
        pattern.find_first_not_of("0123456789") == std::string::npos)
        return strtoull(pattern.c_str(), nullptr, 10) == process.processId;
    const std::string& name = process.name;
    const bool hasExe = name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".exe";
    return MatchesWildcard(pattern, name) ||
           (hasExe && MatchesWildcard(pattern, name.substr(0, name.size() - 4)));
}

const ProcessRecord* FindProcess(const std::vector<ProcessRecord>& processes, DWORD id) {
    for (const ProcessRecord& process : processes) {
        if (process.processId == id) return &process;
    }
    return nullptr;
}

std::string OpenConfirmed(ProcessSnapshots& snapshots, const std::vector<ProcessRecord>& processes,
                          DWORD access, std::vector<OpenedProcess>& opened) {
    opened.clear();
    opened.resize(processes.size());
    for (size_t i = 0; i < processes.size(); ++i) {
        opened[i].record = processes[i];
        opened[i].handle.Reset(OpenProcess(access, FALSE, processes[i].processId));
        if (!opened[i].handle) opened[i].openError = GetLastError();
    }
    std::vector<ProcessRecord> now;
    const std::string problem = snapshots.Take(now);
    if (!problem.empty()) return problem;
    for (OpenedProcess& process : opened) {
        const ProcessRecord* still = FindProcess(now, process.record.processId);
        process.confirmed = still && still->creationTime == process.record.creationTime;
    }
    return std::string();
}

}  // namespace vekrun
