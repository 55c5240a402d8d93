// vekrun --procs: every process from one system snapshot a round, with the
// fields Win32_Process and Get-Process name, as a table, CSV or JSON lines.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "process_jobs.h"
#include "process_table.h"
#include "clock.h"
#include "console.h"
#include "json_text.h"
#include "keyword_help.h"
#include "process_snapshot.h"
#include "text.h"
#include "writers.h"

namespace vekrun {

namespace {

enum FieldId {
    kProcessId,
    kParentProcessId,
    kName,
    kThreadCount,
    kHandleCount,
    kCreationDate,
    kCPUTime,
    kPercentProcessorTime,
    kWorkingSetSize,
    kPrivatePageCount,
    kPriority,
    kExecutablePath,
    kCommandLine,
};
struct ProcessField {
    const char* name;
    bool number;
    bool shown;  // without --fields
};
// In FieldId's order.
const ProcessField kFields[] = {
    {"ProcessId", true, true},      {"ParentProcessId", true, true},
    {"Name", false, true},          {"ThreadCount", true, true},
    {"HandleCount", true, true},    {"CreationDate", false, true},
    {"CPUTime", true, true},        {"PercentProcessorTime", true, true},
    {"WorkingSetSize", true, true}, {"PrivatePageCount", true, true},
    {"Priority", false, true},      {"ExecutablePath", false, false},
    {"CommandLine", false, false},
};

// Windows' priority class by its base priority as a snapshot gives it:
// "Normal" for 8, as PowerShell names the classes; empty for a base no class has.
const char* PriorityClassName(LONG basePriority) {
    // Each class's base priority, as the kernel gives a process of the class.
    static const struct {
        LONG base;
        DWORD priorityClass;
    } kBases[] = {{4, IDLE_PRIORITY_CLASS},   {6, BELOW_NORMAL_PRIORITY_CLASS},
                  {8, NORMAL_PRIORITY_CLASS}, {10, ABOVE_NORMAL_PRIORITY_CLASS},
                  {13, HIGH_PRIORITY_CLASS},  {24, REALTIME_PRIORITY_CLASS}};
    for (const auto& known : kBases) {
        if (known.base == basePriority)
            return PriorityName(static_cast<int32_t>(known.priorityClass));
    }
    return "";
}

// A field by its name in any case; -1 when there is none.
int FindField(const std::string& name) {
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kFields)); ++i) {
        if (Lower(name) == Lower(kFields[i].name)) return i;
    }
    return -1;
}

std::string FieldNames() {
    std::string names;
    for (const ProcessField& field : kFields)
        names += (names.empty() ? "" : ", ") + std::string(field.name);
    return names;
}

// The fields shown, in their order; the problem with --fields and --sort, or empty.
std::string ChosenFields(const Options& options, std::vector<int>& shown, int& sortBy,
                         bool& descending) {
    shown.clear();
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kFields)); ++i) {
        if (options.fields.empty() && kFields[i].shown) shown.push_back(i);
    }
    for (const std::string& name :
         options.fields.empty() ? std::vector<std::string>() : SplitText(options.fields, ',')) {
        const int field = FindField(name);
        if (field < 0) return "--fields: no field '" + name + "' (fields: " + FieldNames() + ")";
        shown.push_back(field);
    }
    descending = !options.sort.empty() && options.sort[0] == '-';
    sortBy = options.sort.empty() ? kProcessId : FindField(options.sort.substr(descending));
    if (sortBy < 0) return "--sort: no field '" + options.sort + "' (fields: " + FieldNames() + ")";
    return std::string();
}

// What a process's handle tells that no snapshot holds.
struct Details {
    bool pathRead = false, lineRead = false;
    std::string path, commandLine;  // UTF-8
};

typedef LONG(NTAPI* QueryProcessFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
QueryProcessFn QueryProcess() {
    static const QueryProcessFn query = [] {
        const FARPROC found =
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
        return reinterpret_cast<QueryProcessFn>(reinterpret_cast<void*>(found));
    }();
    return query;
}

// The command line from the process's own parameters: the PEB's
// ProcessParameters (at 0x20), their CommandLine (UNICODE_STRING at 0x70).
bool CommandLineFromPeb(HANDLE process, std::string& line) {
    constexpr ULONG kProcessBasicInformation = 0;
    ULONG_PTR basic[6] = {};  // PROCESS_BASIC_INFORMATION; PebBaseAddress second
    if (QueryProcess()(process, kProcessBasicInformation, basic, sizeof basic, nullptr) < 0)
        return false;
    ULONG_PTR parameters = 0;
    struct {
        USHORT length, maximum;
        ULONG pad;
        ULONG_PTR buffer;
    } text = {};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(basic[1] + 0x20), &parameters,
                           sizeof parameters, &read) ||
        !ReadProcessMemory(process, reinterpret_cast<void*>(parameters + 0x70), &text, sizeof text,
                           &read))
        return false;
    std::wstring wide(text.length / 2, L'\0');
    if (!wide.empty() && !ReadProcessMemory(process, reinterpret_cast<void*>(text.buffer), &wide[0],
                                            wide.size() * 2, &read))
        return false;
    line = Utf8Of(wide.data(), wide.size());
    return true;
}

// ProcessCommandLineInformation (Windows 8.1 on): a UNICODE_STRING and its text.
bool CommandLineByQuery(HANDLE process, std::string& line) {
    constexpr ULONG kProcessCommandLineInformation = 60;
    std::vector<ULONG_PTR> buffer(4096 / sizeof(ULONG_PTR));
    ULONG needed = 0;
    for (int tries = 0; tries < 2; ++tries) {
        const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        const LONG status =
            QueryProcess()(process, kProcessCommandLineInformation, buffer.data(), size, &needed);
        if (status >= 0) {
            USHORT length;
            memcpy(&length, buffer.data(), sizeof length);
            const size_t units = std::min<size_t>(length, size - 2 * sizeof(ULONG_PTR)) / 2;
            std::wstring wide(units, L'\0');
            memcpy(&wide[0], buffer.data() + 2, units * 2);
            line = Utf8Of(wide.data(), wide.size());
            return true;
        }
        if (needed <= size) return false;
        buffer.resize(needed / sizeof(ULONG_PTR) + 1);
    }
    return false;
}

Details ReadDetails(HANDLE process) {
    Details details;
    constexpr DWORD kPathCapacity = 32768;
    std::wstring path(kPathCapacity, L'\0');
    DWORD size = kPathCapacity;
    if (QueryFullProcessImageNameW(process, 0, &path[0], &size)) {
        details.path = Utf8Of(path.data(), size);
        details.pathRead = true;
    }
    details.lineRead = QueryProcess() && (CommandLineByQuery(process, details.commandLine) ||
                                          CommandLineFromPeb(process, details.commandLine));
    return details;
}

// A process's figures over one round.
struct ProcessRow {
    ProcessRecord record;
    double percent = 0;
    const Details* details = nullptr;
    const std::string* created = nullptr;  // CreationDate's text
};

// The cell of one field, and whether it is known (JSON's null where not).
std::string Cell(const ProcessRow& row, int field, bool& known) {
    const ProcessRecord& p = row.record;
    known = true;
    char text[64];
    switch (field) {
        case kProcessId: return std::to_string(p.processId);
        case kParentProcessId: return std::to_string(p.parentProcessId);
        case kName: return p.name;
        case kThreadCount: return std::to_string(p.threadCount);
        case kHandleCount: return std::to_string(p.handleCount);
        case kCreationDate:
            known = p.creationTime != 0 && row.created;
            return known ? *row.created : std::string();
        case kCPUTime:
            snprintf(text, sizeof text, "%.3f", (p.userTime + p.kernelTime) / 1e7);
            return text;
        case kPercentProcessorTime: snprintf(text, sizeof text, "%.1f", row.percent); return text;
        case kWorkingSetSize: return std::to_string(p.workingSetSize);
        case kPrivatePageCount: return std::to_string(p.privatePageCount);
        case kPriority: {
            const std::string name = PriorityClassName(p.basePriority);
            known = !name.empty();
            return name;
        }
        case kExecutablePath:
            known = row.details && row.details->pathRead;
            return known ? row.details->path : std::string();
        default:
            known = row.details && row.details->lineRead;
            return known ? row.details->commandLine : std::string();
    }
}

// Processes are told apart by id and creation time: an id is reused.
typedef std::pair<DWORD, ULONGLONG> ProcessKey;
ProcessKey KeyOf(const ProcessRecord& p) { return {p.processId, p.creationTime}; }

struct TableState {
    ProcessSnapshots snapshots;
    std::map<ProcessKey, ULONGLONG> cpu;  // the processor time at the last snapshot
    std::map<ProcessKey, Details> details;
    std::map<ProcessKey, std::string> created;  // written once a process
    ULONGLONG at = 0;                           // the last snapshot's time, in ms
    std::vector<int> shown;
    int sortBy = kProcessId;
    bool descending = false;
    bool wantsDetails = false;
};

// Takes a snapshot; each process's percent is over the time since the last.
std::string TakeRound(TableState& state, std::vector<ProcessRow>& rows) {
    std::vector<ProcessRecord> records;
    const std::string problem = state.snapshots.Take(records);
    if (!problem.empty()) return problem;
    const ULONGLONG now = NowMs(), elapsed = now > state.at ? now - state.at : 1;
    std::map<ProcessKey, ULONGLONG> cpu;
    rows.clear();
    for (const ProcessRecord& record : records) {
        const ULONGLONG spent = record.userTime + record.kernelTime;
        const auto before = state.cpu.find(KeyOf(record));
        ProcessRow row;
        row.record = record;
        // 100 ns units over ms: percent of one processor.
        if (before != state.cpu.end() && spent >= before->second)
            row.percent = (spent - before->second) / 100.0 / elapsed;
        cpu[KeyOf(record)] = spent;
        rows.push_back(row);
    }
    // ISO 8601 in every form, as the sample times of --json.
    static const Options iso = [] {
        Options options;
        options.json = true;
        return options;
    }();
    std::map<ProcessKey, std::string> created;
    for (ProcessRow& row : rows) {
        const ProcessKey key = KeyOf(row.record);
        const auto known = state.created.find(key);
        const FILETIME at = {static_cast<DWORD>(key.second), static_cast<DWORD>(key.second >> 32)};
        created[key] = known != state.created.end() ? known->second : TimeText(iso, at);
    }
    state.created.swap(created);
    for (ProcessRow& row : rows) row.created = &state.created[KeyOf(row.record)];
    state.cpu.swap(cpu);
    state.at = now;
    return std::string();
}

// Each process's path and command line, read once by its id and creation time.
void AddDetails(TableState& state, std::vector<ProcessRow>& rows) {
    std::vector<ProcessRecord> unread;
    for (const ProcessRow& row : rows) {
        if (!state.details.count(KeyOf(row.record))) unread.push_back(row.record);
    }
    std::vector<OpenedProcess> opened;
    if (!unread.empty() &&
        OpenConfirmed(state.snapshots, unread, PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ,
                      opened)
            .empty()) {
        for (OpenedProcess& process : opened) {
            // Without the right to read its memory, the path alone.
            if (!process.handle)
                process.handle.Reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                                 process.record.processId));
            Details& details = state.details[KeyOf(process.record)];
            if (process.handle && process.confirmed) details = ReadDetails(process.handle.Get());
        }
    }
    for (ProcessRow& row : rows) {
        const auto found = state.details.find(KeyOf(row.record));
        row.details = found == state.details.end() ? nullptr : &found->second;
    }
}

// The rows in the order --sort asks, each row's key made once: a number
// field by its value, a text field by its text in any case.
void SortRows(const TableState& state, std::vector<ProcessRow>& rows) {
    struct Keyed {
        double number;
        std::string text;
        const ProcessRow* row;
    };
    std::vector<Keyed> keyed;
    for (const ProcessRow& row : rows) {
        bool known;
        const std::string cell = Cell(row, state.sortBy, known);
        const bool isNumber = kFields[state.sortBy].number;
        keyed.push_back(
            {isNumber ? atof(cell.c_str()) : 0, isNumber ? std::string() : Lower(cell), &row});
    }
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        const int order = a.number < b.number   ? -1
                          : a.number > b.number ? 1
                                                : a.text.compare(b.text);
        if (order == 0) return a.row->record.processId < b.row->record.processId;
        return state.descending ? order > 0 : order < 0;
    });
    std::vector<ProcessRow> sorted;
    for (const Keyed& each : keyed) sorted.push_back(*each.row);
    rows.swap(sorted);
}

// The round as windows_exporter's process collector names its series, under
// vekrun's prefix, so that its dashboards take them; labelled by the name
// without ".exe", the id and the parent's id.
std::string PromText(const std::vector<ProcessRow>& rows) {
    prom::Families families;
    constexpr ULONGLONG kUnixEpoch = 116444736000000000ULL;  // 1970 in FILETIME's 100 ns units
    char number[40];
    auto seconds = [&](ULONGLONG ticks) {
        snprintf(number, sizeof number, "%.3f", ticks / 1e7);
        return std::string(number);
    };
    for (const ProcessRow& row : rows) {
        const ProcessRecord& p = row.record;
        std::string name = p.name;
        if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".exe")
            name.resize(name.size() - 4);
        const std::vector<prom::Label> labels = {
            {"process", name},
            {"process_id", std::to_string(p.processId)},
            {"creating_process_id", std::to_string(p.parentProcessId)}};
        std::vector<prom::Label> user = labels, privileged = labels;
        user.push_back({"mode", "user"});
        privileged.push_back({"mode", "privileged"});
        const char* cpu = "Seconds of processor time the process has spent, by mode";
        families.Add("vekrun_process_cpu_time_total", cpu, "counter", user, seconds(p.userTime));
        families.Add("vekrun_process_cpu_time_total", cpu, "counter", privileged,
                     seconds(p.kernelTime));
        families.Add("vekrun_process_working_set_bytes", "The process's working set, in bytes",
                     "gauge", labels, std::to_string(p.workingSetSize));
        families.Add("vekrun_process_private_bytes", "The process's private commit, in bytes",
                     "gauge", labels, std::to_string(p.privatePageCount));
        families.Add("vekrun_process_thread_count", "The process's threads", "gauge", labels,
                     std::to_string(p.threadCount));
        families.Add("vekrun_process_handles", "The process's open handles", "gauge", labels,
                     std::to_string(p.handleCount));
        if (p.creationTime > kUnixEpoch)
            families.Add("vekrun_process_start_time",
                         "When the process started, in seconds since 1970", "gauge", labels,
                         seconds(p.creationTime - kUnixEpoch));
    }
    return families.Text();
}

// A round's text in its form, and the header every piece of a capture starts with.
void RoundText(const TableState& state, const Options& options, const std::string& time,
               const std::vector<ProcessRow>& rows, std::string& pieceHeader, std::string& text) {
    if (options.prom) {
        text = PromText(rows);
        return;
    }
    const bool sampling = options.everySeconds > 0;
    std::vector<std::string> header;
    if (sampling) header.push_back("Time");
    for (int field : state.shown) header.push_back(kFields[field].name);
    std::vector<std::vector<std::string>> cells;
    std::vector<std::string> lines;
    for (const ProcessRow& row : rows) {
        std::vector<std::string> line;
        json::Object object;
        if (sampling) line.push_back(time);
        if (sampling && options.json) object.Add("time", json::QuoteUtf8(time));
        for (int field : state.shown) {
            bool known;
            line.push_back(Cell(row, field, known));
            if (options.json)
                object.Add(kFields[field].name, !known ? "null"
                                                : kFields[field].number
                                                    ? line.back()
                                                    : json::QuoteUtf8(line.back()));
        }
        cells.push_back(line);
        lines.push_back(options.json ? object.Text() : options.csv ? csv::Utf8Row(line) : "");
    }
    if (options.json || options.csv) {
        pieceHeader = options.csv ? csv::Utf8Row(header) + "\n" : "";
        for (const std::string& line : lines) text += line + "\n";
        return;
    }
    // A round that found none of the processes asked for says nothing.
    if (rows.empty()) return;
    std::vector<int> widths;
    for (size_t i = 0; i < header.size(); ++i) {
        size_t width = header[i].size();
        for (const auto& line : cells) width = std::max(width, line[i].size());
        const bool number = i >= (sampling ? 1u : 0u) && kFields[state.shown[i - sampling]].number;
        widths.push_back(number ? -static_cast<int>(width) : static_cast<int>(width));
    }
    text = (sampling ? "\n" : "") + table::Row(header, widths) + "\n";
    for (const auto& line : cells) text += table::Row(line, widths) + "\n";
}

}  // namespace

bool Matched(const Options& options, const ProcessRecord& process) {
    bool matched = options.matches.empty();
    for (const std::string& pattern : options.matches) matched |= PatternNames(pattern, process);
    return matched;
}

std::string ProcessTableProblem(const Options& options) {
    std::vector<int> shown;
    int sortBy;
    bool descending;
    return ChosenFields(options, shown, sortBy, descending);
}

struct ProcessRounds::State : TableState {};

ProcessRounds::ProcessRounds(const Options& options)
    : options_(options), state_(new State), sink_(options) {
    ChosenFields(options, state_->shown, state_->sortBy, state_->descending);
    for (int field : state_->shown) state_->wantsDetails |= field >= kExecutablePath;
    state_->wantsDetails |= state_->sortBy >= kExecutablePath;
}

ProcessRounds::~ProcessRounds() = default;

std::string ProcessRounds::Next(bool first, bool& matched) {
    std::vector<ProcessRow> rows, kept;
    const std::string problem = TakeRound(*state_, rows);
    if (!problem.empty()) return problem;
    for (const ProcessRow& row : rows) {
        if (Matched(options_, row.record)) kept.push_back(row);
    }
    matched = !kept.empty();
    if (first && !matched) return std::string();
    if (state_->wantsDetails) AddDetails(*state_, kept);
    SortRows(*state_, kept);
    // The round's time goes with sampling alone.
    std::string header, text;
    RoundText(*state_, options_, options_.everySeconds > 0 ? TimeText(options_) : "", kept, header,
              text);
    written_ = sink_.Put(header, text);
    return std::string();
}

std::string ProcessRounds::Open() { return sink_.Open(); }

int ProcessTable(const Options& options) {
    ProcessRounds rounds(options);
    const std::string unwritable = rounds.Open();
    if (!unwritable.empty())
        return Print(stderr, "vekrun: %s\n", unwritable.c_str()), kExitCallFailed;
    CatchCtrlC();
    // The first round's percent is over a short interval of its own, not 0.
    constexpr DWORD kFirstInterval = 250;
    bool matched = false;
    std::string problem = rounds.Measure();
    if (problem.empty()) Sleep(kFirstInterval);
    const ULONGLONG interval = static_cast<ULONGLONG>(options.everySeconds * 1000 + 0.5);
    const ULONGLONG first = NowMs();
    for (long taken = 0; problem.empty() && !Interrupted() && rounds.Written(); ++taken) {
        if (taken > 0) WaitForSlot(first, interval, taken);
        if (Interrupted() || !(problem = rounds.Next(taken == 0, matched)).empty()) break;
        // A name that is not there ends the run at once, as a counter that is not.
        if (taken == 0 && !matched) {
            for (const std::string& pattern : options.matches)
                Print(stderr, "vekrun: no process matches '%s'\n", pattern.c_str());
            return kExitCallFailed;
        }
        if (options.everySeconds <= 0 || (options.samples && taken + 1 >= options.samples)) break;
    }
    if (!problem.empty()) Print(stderr, "vekrun: %s\n", problem.c_str());
    return problem.empty() && rounds.Written() ? kExitOk : kExitCallFailed;
}

std::string ProcessRounds::Measure() {
    std::vector<ProcessRow> rows;
    return TakeRound(*state_, rows);
}

}  // namespace vekrun
