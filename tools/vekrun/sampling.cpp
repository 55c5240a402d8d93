// vekrun --every: the same call a sample every interval, as typeperf
// samples a counter: as a table, as JSON lines, or as the CSV that
// Performance Monitor, typeperf and relog write and read (PDH-CSV 4.0).
#include <algorithm>
#include <set>

#include "json_text.h"
#include "sampling.h"
#include "writers.h"
#include "capture.h"
#include "clock.h"
#include "console.h"
#include "host_protocol.h"
#include "keyword_help.h"
#include "options.h"
#include "output.h"
#include "text.h"
#include "message_ids.h"

namespace vekrun {

namespace {

// This computer's name, asked once: every counter column and label of every round names it.
const std::string& LocalMachine() {
    static const std::string name = [] {
        char machine[MAX_COMPUTERNAME_LENGTH + 1] = "";
        DWORD size = sizeof machine;
        return std::string(GetComputerNameA(machine, &size) ? machine : "");
    }();
    return name;
}

// The columns a sample fills. PDH-CSV heads them with counter paths, so a
// call that is no counter is written as one: the keyword as the object, its
// arguments (as the call got them) as the instance, the field as the
// counter: \\HOST\tGetProcInfo(1234)\WorkingSetSize.
// A record's fields are titled by their names alone in the table, and with
// the call's arguments where `shared`: another call of the round has the
// same keyword.
std::vector<std::string> Columns(const Options& options, const std::vector<std::string>& words,
                                 bool shared) {
    const KeywordHelp* help = FindHelp(words[0]);
    const std::string keyword = help ? help->name : words[0];
    const std::string prefix = "\\\\" + LocalMachine();
    // A counter read by its path is a column of its own.
    if (help && help->shape == ResultShape::kCounterValue && ArgumentName(help, 0) == "PATH" &&
        words.size() > 1) {
        const bool hasMachine = words[1].compare(0, 2, "\\\\") == 0;
        return {options.csv && !hasMachine ? prefix + words[1] : words[1]};
    }
    std::string instance;
    for (size_t i = 1; i < words.size(); ++i) instance += (i > 1 ? " " : "") + words[i];
    const std::string object =
        prefix + "\\" + keyword + (instance.empty() ? "" : "(" + instance + ")") + "\\";
    std::vector<std::string> columns;
    if (const std::vector<const char*>* fields = RecordFields(keyword, Result())) {
        for (const char* field : *fields) {
            const std::string name = field + (field[0] == '$');
            columns.push_back(options.csv ? object + name
                              : shared    ? name + "(" + instance + ")"
                                          : name);
        }
    } else {
        columns.push_back(options.csv ? object + "Result"
                                      : keyword + (instance.empty() ? "" : " " + instance));
    }
    return columns;
}

// One line of the table or the CSV: the time, then a cell a column; a
// failed sample leaves its cells empty, so that each column stays numeric.
std::string RowText(const Options& options, const std::string& time,
                    const std::vector<std::string>& cells, const std::vector<size_t>& widths) {
    std::vector<std::string> row = {time};
    std::vector<int> columns = {0};
    for (size_t i = 0; i < widths.size(); ++i) {
        row.push_back(i < cells.size() ? cells[i] : std::string());
        columns.push_back(static_cast<int>(widths[i]));
    }
    return (options.csv ? csv::Row(row) : table::Row(row, columns)) + "\n";
}

// A path error from the first sample on means that nothing will ever be
// sampled, as typeperf ends with "No valid counters"; so does a process
// that is not there (Windows refuses its id with 87) or a handle the script
// does not hold (6). One that ends later leaves its samples empty, as an
// instance that goes away does in typeperf.
bool NothingToSample(const Result& result) {
    const int id = result.MessageId();
    const int32_t code = result.codeRead ? result.code : 0;
    using namespace vek;
    return id == kMsgInvalidCounterName || id == kMsgCounterNotFound || id == kMsgInstanceMissing ||
           id == kMsgObjectNotFound ||
           ((id == kMsgOpenProcessFailed || id == kMsgProcInfoFailed) &&
            code == ERROR_INVALID_PARAMETER) ||
           ((id == kMsgTerminateFailed || id == kMsgCloseProcFailed) &&
            code == ERROR_INVALID_HANDLE);
}

// One call's part of a sample in JSON: its value or its failure's fields,
// and in a script its line.
std::string JsonPart(const Result& result, const SampledCall& call, bool failed) {
    const std::string value = Json(result, call.words, call.line);
    if (failed) return value;
    return call.line ? json::LineValue(call.line, value)
                     : json::Object().Add("value", value).Text();
}

// A sample as one JSON object: its time, then the call's value or failure,
// or for a script's calls "values", one object each.
std::string JsonSample(const std::string& time, const std::vector<std::string>& parts,
                       bool script) {
    json::Object sample;
    sample.Add("time", json::Quote(time));
    if (!script) return sample.Splice(parts[0]).Text();
    return sample.Add("values", json::Array(parts)).Text();
}

// What one round of calls gives: the table's cells, each call's JSON part,
// and on the first round the columns' titles, widths and count a call.
struct Round {
    std::vector<std::string> cells, parts, header;
    prom::Families series;
};
struct Layout {
    std::vector<size_t> widths, counts;  // a column's width; a call's columns
    std::set<std::string> shared;        // the keywords two calls of a round have
};

// A number as Prometheus writes one; empty for text that is none.
std::string PromNumber(const std::string& text) {
    const std::string lower = Lower(text);
    if (lower == "nan") return "NaN";
    if (lower == "inf" || lower == "+inf") return "+Inf";
    if (lower == "-inf") return "-Inf";
    return json::IsNumber(text) ? text : std::string();
}

// A sample's series: a counter read by its path as one family labelled by
// the path's parts; a record's fields and other results as a family each,
// labelled by the call's arguments. Text is left out, as a failed sample is.
void AddSeries(const std::vector<std::string>& words, const Result& result, Round& round) {
    const KeywordHelp* help = FindHelp(words[0]);
    const std::string keyword = help ? help->name : words[0];
    std::string arguments;
    for (size_t i = 1; i < words.size(); ++i)
        arguments += (i > 1 ? " " : "") + json::ToUtf8(words[i]);
    if (help && help->shape == ResultShape::kCounterValue && ArgumentName(help, 0) == "PATH" &&
        words.size() > 1 && !PromNumber(result.Value()).empty()) {
        std::string path = json::ToUtf8(words[1]), machine = LocalMachine();
        if (path.compare(0, 2, "\\\\") == 0) {
            const size_t end = path.find('\\', 2);
            machine = path.substr(2, end == std::string::npos ? std::string::npos : end - 2);
            path = end == std::string::npos ? "" : path.substr(end);
        }
        const size_t open = path.find('('), last = path.rfind('\\');
        const size_t objectEnd = std::min(open, last);
        const bool hasInstance = open != std::string::npos && open < last;
        const std::string instance =
            hasInstance ? path.substr(open + 1, path.rfind(')', last) - open - 1) : "";
        round.series.Add("vekrun_pdh_value", "A performance counter's value, as tGetData reads it",
                         "gauge",
                         {{"machine", machine},
                          {"object", path.substr(path.empty() ? 0 : 1, objectEnd - 1)},
                          {"instance", instance},
                          {"counter", last == std::string::npos ? "" : path.substr(last + 1)}},
                         PromNumber(result.Value()));
        return;
    }
    const std::vector<const char*>* fields = RecordFields(keyword, result);
    const std::vector<std::string> values =
        fields ? SplitText(result.text, '\t') : std::vector<std::string>{result.Value()};
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string number = PromNumber(values[i]);
        if (number.empty() || (fields && (i >= fields->size() || (*fields)[i][0] == '$'))) continue;
        const std::string family =
            "vekrun_" + Lower(keyword) + (fields ? "_" + prom::SnakeCase((*fields)[i]) : "");
        round.series.Add(family, help ? help->result : "the keyword's result", "gauge",
                         {{"arguments", arguments}}, number);
    }
}

// One call of a round, its cells and part added: kExitOk, kExitCallFailed
// for a failing sample, or with `ends` set the status that ends the run.
int SampleOne(Extender& ext, const Options& options, const SampledCall& sampled, size_t index,
              long taken, const std::string& time, Layout& layout, Round& round, bool& ends) {
    Options at = options;
    at.line = sampled.line;
    std::vector<std::string> call = sampled.words;
    Result result;
    const int outcome = Invoke(ext, at, call, result);
    ends = outcome == kExitUsage;
    if (ends) return outcome;
    const bool failed = outcome != kExitOk || result.Failed();
    if (failed && taken == 0 && NothingToSample(result)) {
        if (options.json)
            Print(stdout, "%s\n",
                  JsonSample(time, {JsonPart(result, sampled, true)}, false).c_str());
        Print(stderr, "vekrun: %s%s; nothing to sample\n", Place(at).c_str(),
              FailureLine(call, result).c_str());
        ends = true;
        return kExitCallFailed;
    }
    if (taken == 0) {
        const std::vector<std::string> columns =
            Columns(options, call, layout.shared.count(Lower(call[0])) != 0);
        layout.counts.push_back(columns.size());
        for (const std::string& column : columns) layout.widths.push_back(column.size());
        round.header.insert(round.header.end(), columns.begin(), columns.end());
    }
    if (failed) {
        Print(stderr, "%s %s%s\n", time.c_str(), Place(at).c_str(),
              FailureLine(call, result).c_str());
    }
    round.parts.push_back(JsonPart(result, sampled, failed));
    if (options.prom && !failed) AddSeries(call, result, round);
    const bool record = !failed && RecordFields(call[0], result);
    std::vector<std::string> mine;
    if (record) mine = SplitText(result.text, '\t');
    if (!failed && !record) mine.push_back(result.Value());
    mine.resize(layout.counts[index]);
    round.cells.insert(round.cells.end(), mine.begin(), mine.end());
    return failed ? kExitCallFailed : kExitOk;
}

}  // namespace

int Sample(Extender& ext, const Options& options, const std::vector<SampledCall>& calls) {
    // PerfMon's CSV holds numbers; a list has a CSV of its own, outside sampling.
    for (const SampledCall& call : calls) {
        const ResultShape shape = ShapeOf(call.words[0]);
        if (!(options.csv || options.prom) ||
            (shape != ResultShape::kProcessList && shape != ResultShape::kModuleList))
            continue;
        Options at = options;
        at.line = call.line;
        return UsageProblem(at, Place(at) + call.words[0] + " gives a list, which " +
                                    (options.prom ? std::string("Prometheus's numbers")
                                                  : std::string("PerfMon's CSV of numbers")) +
                                    " cannot hold; "
                                    "'vekrun --csv " +
                                    call.words[0] + " ...' writes it as CSV");
    }
    CatchCtrlC();
    const bool script = calls.size() != 1 || calls[0].line != 0;
    int worst = kExitOk;
    Layout layout;
    std::set<std::string> keywords;
    for (const SampledCall& call : calls) {
        if (!keywords.insert(Lower(call.words[0])).second)
            layout.shared.insert(Lower(call.words[0]));
    }
    RoundSink sink(options);
    const std::string unwritable = sink.Open();
    if (!unwritable.empty())
        return Print(stderr, "vekrun: %s\n", unwritable.c_str()), kExitCallFailed;
    std::string header;  // every piece's
    const ULONGLONG interval = static_cast<ULONGLONG>(options.everySeconds * 1000 + 0.5);
    const ULONGLONG first = NowMs();
    for (long taken = 0; !Interrupted() && (options.samples == 0 || taken < options.samples);
         ++taken) {
        WaitForSlot(first, interval, taken);
        if (Interrupted()) break;
        const std::string time = TimeText(options);
        Round round;
        for (size_t i = 0; i < calls.size(); ++i) {
            bool ends = false;
            const int outcome =
                SampleOne(ext, options, calls[i], i, taken, time, layout, round, ends);
            if (ends) return outcome;
            if (outcome != kExitOk) worst = outcome;
        }
        if (taken == 0 && !options.json) {
            header = RowText(options,
                             options.csv ? TimeZoneCell()
                                         : std::string("time") + std::string(time.size() - 4, ' '),
                             round.header, layout.widths);
        }
        if (options.prom) header.clear();  // every round the whole exposition
        const std::string body = options.prom ? round.series.Text()
                                 : options.json
                                     ? JsonSample(time, round.parts, script) + "\n"
                                     : RowText(options, time, round.cells, layout.widths);
        if (!sink.Put(header, body)) return kExitCallFailed;
    }
    return worst;
}

}  // namespace vekrun
