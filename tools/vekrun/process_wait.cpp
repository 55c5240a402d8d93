// vekrun --wait: until every process named has ended (or with --any the
// first), each said with its exit code as it ends. The system pool waits on
// the handles, so that any number of them costs no processor time while
// they run (one WaitForMultipleObjects takes 64 at most).
#include <string.h>

#include <algorithm>

#include "process_jobs.h"
#include "clock.h"
#include "console.h"
#include "json_text.h"
#include "text.h"

namespace vekrun {

namespace {

// What the pool's callbacks hand to the waiting thread.
struct Ended {
    CRITICAL_SECTION lock;
    std::vector<size_t> which;
    vek::HandleGuard signal{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};
struct Watch {
    Ended* ended;
    size_t index;
    HANDLE wait = nullptr;
};

VOID CALLBACK OnEnd(PVOID context, BOOLEAN) {
    Watch* watch = static_cast<Watch*>(context);
    EnterCriticalSection(&watch->ended->lock);
    watch->ended->which.push_back(watch->index);
    LeaveCriticalSection(&watch->ended->lock);
    SetEvent(watch->ended->signal.Get());
}

// The processes named, opened and confirmed; the problem with the first
// that cannot be waited on, or empty.
std::string OpenAll(const Options& options, std::vector<OpenedProcess>& opened) {
    ProcessSnapshots snapshots;
    std::vector<ProcessRecord> all, wanted;
    std::string problem = snapshots.Take(all);
    if (!problem.empty()) return problem;
    for (const std::string& word : options.words) {
        const ProcessRecord* process =
            FindProcess(all, static_cast<DWORD>(strtoul(word.c_str(), nullptr, 10)));
        if (!process) return "no process has id " + word;
        wanted.push_back(*process);
    }
    for (const std::string& pattern : options.matches) {
        size_t found = 0;
        for (const ProcessRecord& process : all) {
            if (PatternNames(pattern, process)) wanted.push_back(process), ++found;
        }
        if (!found) return "no process matches '" + pattern + "'";
    }
    problem =
        OpenConfirmed(snapshots, wanted, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, opened);
    for (const OpenedProcess& process : opened) {
        const std::string named =
            std::to_string(process.record.processId) + " " + process.record.name;
        if (!problem.empty()) break;
        if (!process.handle)
            problem = "cannot wait for " + named + " (" +
                      CodeText(static_cast<int32_t>(process.openError)) + ")";
        else if (!process.confirmed)
            problem = "no process has id " + std::to_string(process.record.processId);
    }
    return problem;
}

void Report(const Options& options, const OpenedProcess& process) {
    DWORD code = 0;
    GetExitCodeProcess(process.handle.Get(), &code);
    if (options.json) {
        Write(stdout, json::Object()
                              .Add("ProcessId", std::to_string(process.record.processId))
                              .Add("ExitCode", std::to_string(code))
                              .Add("time", json::QuoteUtf8(TimeText(options)))
                              .Text() +
                          "\n");
        return;
    }
    Write(stdout,
          std::to_string(process.record.processId) + " exited with " + std::to_string(code) + "\n");
}

}  // namespace

int WaitForProcesses(const Options& options) {
    std::vector<OpenedProcess> opened;
    const std::string problem = OpenAll(options, opened);
    if (!problem.empty()) return Print(stderr, "vekrun: %s\n", problem.c_str()), kExitCallFailed;
    CatchCtrlC();
    Ended ended;
    InitializeCriticalSection(&ended.lock);
    std::vector<Watch> watches(opened.size(), Watch{&ended, 0});
    int outcome = kExitOk;
    for (size_t i = 0; i < opened.size() && outcome == kExitOk; ++i) {
        watches[i].index = i;
        if (!RegisterWaitForSingleObject(&watches[i].wait, opened[i].handle.Get(), OnEnd,
                                         &watches[i], INFINITE, WT_EXECUTEONLYONCE)) {
            Print(stderr, "vekrun: cannot wait (%s)\n",
                  CodeText(static_cast<int32_t>(GetLastError())).c_str());
            outcome = kExitCallFailed;
        }
    }
    const ULONGLONG start = NowMs(), limit = static_cast<ULONGLONG>(options.timeoutSeconds * 1000);
    std::vector<bool> done(opened.size(), false);
    size_t reported = outcome == kExitOk ? 0 : opened.size();
    // Woken by an end, or every quarter second for Ctrl+C and the timeout.
    while (reported < opened.size() && !(options.any && reported > 0)) {
        if (Interrupted()) {
            Print(stderr, "vekrun: interrupted while waiting\n");
            outcome = kExitInterrupted;
            break;
        }
        const ULONGLONG now = NowMs();
        if (limit && now - start >= limit) {
            std::string running;
            for (size_t i = 0; i < opened.size(); ++i) {
                if (!done[i])
                    running += (running.empty() ? "" : ", ") +
                               std::to_string(opened[i].record.processId) + " " +
                               opened[i].record.name;
            }
            const std::string message = "timed out; still running: " + running;
            Print(stderr, "vekrun: %s\n", message.c_str());
            if (options.json) Write(stdout, json::Failure(0, "timeout", 0, message, 0, "") + "\n");
            outcome = kExitTimedOut;
            break;
        }
        const ULONGLONG left = limit ? limit - (now - start) : 250;
        WaitForSingleObject(ended.signal.Get(), static_cast<DWORD>(std::min<ULONGLONG>(250, left)));
        EnterCriticalSection(&ended.lock);
        std::vector<size_t> which;
        which.swap(ended.which);
        LeaveCriticalSection(&ended.lock);
        for (size_t i : which) {
            done[i] = true;
            ++reported;
            if (!(options.any && reported > 1)) Report(options, opened[i]);
        }
    }
    // Every callback finished before the handles and the records go.
    for (Watch& watch : watches) {
        if (watch.wait) UnregisterWaitEx(watch.wait, INVALID_HANDLE_VALUE);
    }
    DeleteCriticalSection(&ended.lock);
    return outcome;
}

}  // namespace vekrun
