// vekrun --kill: ends the processes named by id or name, with --tree their
// descendants first, as taskkill /T does, but never a process that merely
// took a dead parent's id, nor vekrun or a process it runs under.
#include <algorithm>
#include <set>

#include "process_jobs.h"
#include "console.h"
#include "json_text.h"
#include "text.h"

namespace vekrun {

namespace {

struct Target {
    ProcessRecord record;
    const char* result = "";  // "ended", "failed", "skipped", "would end"
    std::string reason;
};

// A child names its parent's id and was created after it: a process whose
// parent ended may name an id that a younger process has taken since.
bool ChildOf(const ProcessRecord& child, const ProcessRecord& parent) {
    return child.parentProcessId == parent.processId && child.processId != parent.processId &&
           child.creationTime >= parent.creationTime;
}

// `process` after its descendants, each once.
void AddWithDescendants(const std::vector<ProcessRecord>& all, const ProcessRecord& process,
                        bool tree, std::set<DWORD>& taken, std::vector<Target>& order) {
    if (!taken.insert(process.processId).second) return;
    for (const ProcessRecord& other : all) {
        if (tree && ChildOf(other, process)) AddWithDescendants(all, other, tree, taken, order);
    }
    Target target;
    target.record = process;
    order.push_back(target);
}

// vekrun and every process it runs under, by the same rule.
std::set<DWORD> SelfAndAncestors(const std::vector<ProcessRecord>& all) {
    std::set<DWORD> kept;
    for (const ProcessRecord* at = FindProcess(all, GetCurrentProcessId()); at;) {
        kept.insert(at->processId);
        const ProcessRecord* parent = FindProcess(all, at->parentProcessId);
        at = parent && !kept.count(parent->processId) && ChildOf(*at, *parent) ? parent : nullptr;
    }
    return kept;
}

// The processes named, in the order they are to end; those not found said.
int Targets(const Options& options, const std::vector<ProcessRecord>& all,
            std::vector<Target>& order) {
    int outcome = kExitOk;
    std::set<DWORD> taken;
    for (const std::string& word : options.words) {
        const DWORD id = static_cast<DWORD>(strtoul(word.c_str(), nullptr, 10));
        if (const ProcessRecord* process = FindProcess(all, id)) {
            AddWithDescendants(all, *process, options.tree, taken, order);
            continue;
        }
        Target gone;
        gone.record.processId = id;
        gone.result = "failed";
        gone.reason = "no process has id " + word;
        order.push_back(gone);
        outcome = kExitCallFailed;
    }
    for (const std::string& pattern : options.matches) {
        bool found = false;
        for (const ProcessRecord& process : all) {
            if (!PatternNames(pattern, process)) continue;
            found = true;
            AddWithDescendants(all, process, options.tree, taken, order);
        }
        if (!found) Print(stderr, "vekrun: no process matches '%s'\n", pattern.c_str());
        if (!found) outcome = kExitCallFailed;
    }
    return outcome;
}

std::string Reason(DWORD code) {
    if (code == ERROR_ACCESS_DENIED) return "access denied";
    if (code == ERROR_INVALID_PARAMETER) return "gone";
    return CodeText(static_cast<int32_t>(code));
}

// Ends one opened process, children having gone first.
void End(OpenedProcess& process, Target& target) {
    target.result = "failed";
    if (!process.handle) {
        target.reason = Reason(process.openError);
        return;
    }
    if (!process.confirmed) {
        target.reason = "gone";
        return;
    }
    // Windows refuses a second end while the first is under way: ended all the same.
    DWORD exitCode = STILL_ACTIVE;
    if (TerminateProcess(process.handle.Get(), 1) ||
        (GetLastError() == ERROR_ACCESS_DENIED &&
         GetExitCodeProcess(process.handle.Get(), &exitCode) && exitCode != STILL_ACTIVE)) {
        target.result = "ended";
        return;
    }
    target.reason = Reason(GetLastError());
}

void Report(const Options& options, const Target& target) {
    if (options.json) {
        json::Object line;
        line.Add("ProcessId", std::to_string(target.record.processId))
            .Add("Name", target.record.name.empty() ? "null" : json::QuoteUtf8(target.record.name))
            .Add("result", json::QuoteUtf8(target.result));
        if (!target.reason.empty()) line.Add("reason", json::QuoteUtf8(target.reason));
        Write(stdout, line.Text() + "\n");
        return;
    }
    std::string text = std::string(target.result) + " " + std::to_string(target.record.processId);
    if (!target.record.name.empty()) text += " " + target.record.name;
    if (!target.reason.empty()) text += ": " + target.reason;
    Write(stdout, text + "\n");
}

}  // namespace

int KillProcesses(const Options& options) {
    ProcessSnapshots snapshots;
    std::vector<ProcessRecord> all;
    std::string problem = snapshots.Take(all);
    if (!problem.empty()) return Print(stderr, "vekrun: %s\n", problem.c_str()), kExitCallFailed;
    std::vector<Target> order;
    int outcome = Targets(options, all, order);
    const std::set<DWORD> kept = SelfAndAncestors(all);
    std::vector<ProcessRecord> ending;
    for (Target& target : order) {
        if (*target.result) continue;
        if (kept.count(target.record.processId)) {
            target.result = "skipped";
            target.reason = target.record.processId == GetCurrentProcessId()
                                ? "vekrun itself"
                                : "vekrun runs under it";
        } else if (options.dryRun) {
            target.result = "would end";
            target.reason = "--dry-run";
        } else {
            ending.push_back(target.record);
        }
    }
    std::vector<OpenedProcess> opened;
    if (!ending.empty())
        problem = OpenConfirmed(snapshots, ending, PROCESS_TERMINATE | SYNCHRONIZE, opened);
    if (!problem.empty()) return Print(stderr, "vekrun: %s\n", problem.c_str()), kExitCallFailed;
    size_t next = 0;
    for (Target& target : order) {
        if (!*target.result) End(opened[next++], target);
        Report(options, target);
        if (strcmp(target.result, "ended") != 0 && strcmp(target.result, "would end") != 0)
            outcome = kExitCallFailed;
    }
    return outcome;
}

}  // namespace vekrun
