// vekrun's output forms: a result as it stands, as a list, as named fields
// (the system's own record names) or as one JSON value; the keyword table.
#include <string.h>

#include <algorithm>

#include "json_text.h"
#include "writers.h"
#include "output.h"
#include "console.h"
#include "host_protocol.h"
#include "keyword_help.h"
#include "options.h"
#include "text.h"

namespace vekrun {

using namespace vek;

namespace {

void PrintList(const std::string& text) {
    const std::vector<std::string> items = SplitText(text, '\t');
    int width = 0;
    for (const std::string& item : items) {
        const size_t bar = item.rfind('|');
        if (bar != std::string::npos) width = std::max(width, static_cast<int>(bar));
    }
    for (const std::string& item : items) {
        const size_t bar = item.rfind('|');
        std::vector<std::string> cells = {item};
        if (bar != std::string::npos) cells = {item.substr(0, bar), item.substr(bar + 1)};
        Print(stdout, "%s\n", table::Row(cells, {width}).c_str());
    }
}

}  // namespace

// The record's fields when the result's text has them all; null otherwise
// (a failed memory query gives an empty text, for one; a failure's message
// is never asked about). Without a result, the shape the keyword's records
// take.
const std::vector<const char*>* RecordFields(const std::string& keyword, const Result& result) {
    const KeywordHelp* help = FindHelp(keyword);
    if (help == nullptr || help->shape != ResultShape::kRecord) return nullptr;
    if (result.calls == 0) return &help->fields;
    if (SplitText(result.text, '\t').size() == help->fields.size()) return &help->fields;
    return nullptr;
}

namespace {

void PrintRecord(const std::vector<const char*>& fields, const std::vector<std::string>& values) {
    int width = 0;
    for (const char* field : fields)
        width = std::max(width, static_cast<int>(strlen(field) - (field[0] == '$')));
    for (size_t i = 0; i < values.size(); ++i) {
        const char* field = fields[i] + (fields[i][0] == '$');
        Print(stdout, "%s\n", table::Row({field, values[i]}, {width}).c_str());
    }
}

}  // namespace

std::string Place(const Options& options) {
    return options.line ? options.place + ":" + std::to_string(options.line) + ": " : std::string();
}

namespace {

// A list's fields, under the names JSON and the CSV give them (Win32_Process
// names a process's id ProcessId).
struct ListField {
    const char* json;
    const char* csv;
    bool number;
};
constexpr ListField kName = {"name", "Name", false}, kId = {"id", "ProcessId", true},
                    kPath = {"path", "Path", false}, kModule = {"module", "Module", true};

struct ListTable {
    std::vector<const ListField*> fields;
    std::vector<std::vector<std::string>> rows;
};

// A list result's items as rows of fields: tListProc's name and id,
// tListMod's path and module as its mode gives them.
ListTable ListItems(const std::vector<std::string>& words, const std::string& text) {
    const bool processes = ShapeOf(words[0]) == ResultShape::kProcessList;
    const int mode = processes ? 0 : atoi(words.size() > 2 ? words[2].c_str() : "0");
    ListTable list;
    if (processes) list.fields = {&kName, &kId};
    if (!processes)
        list.fields = mode == 0   ? std::vector<const ListField*>{&kPath, &kModule}
                      : mode == 1 ? std::vector<const ListField*>{&kPath}
                                  : std::vector<const ListField*>{&kModule};
    for (const std::string& item :
         text.empty() ? std::vector<std::string>() : SplitText(text, '\t')) {
        const size_t bar = item.rfind('|');
        if (list.fields.size() == 2 && bar != std::string::npos) {
            list.rows.push_back({item.substr(0, bar), item.substr(bar + 1)});
        } else {
            list.rows.push_back(std::vector<std::string>(list.fields.size(), item));
        }
    }
    return list;
}

// A list as Export-Csv writes one: a header of the fields' names, a row an item.
void PrintCsvList(const std::vector<std::string>& words, const std::string& text) {
    const ListTable list = ListItems(words, text);
    std::vector<std::string> header;
    for (const ListField* field : list.fields) header.push_back(field->csv);
    Print(stdout, "%s\n", csv::Row(header).c_str());
    for (const std::vector<std::string>& row : list.rows)
        Print(stdout, "%s\n", csv::Row(row).c_str());
}

}  // namespace

std::string Json(const Result& result, const std::vector<std::string>& words, int line) {
    const std::string& keyword = words[0];
    const ResultShape shape = ShapeOf(keyword);
    if (result.Failed() || result.calls == 0) {
        return json::Failure(line, "call", result.MessageId(), result.text,
                             result.codeRead ? result.code : 0, Reason(result));
    }
    if (result.type == kResultInteger) {
        const char* name =
            shape == ResultShape::kPriorityClass ? PriorityName(result.value) : nullptr;
        if (name == nullptr) return std::to_string(result.value);
        return json::Object()
            .Add("class", std::to_string(result.value))
            .Add("name", json::Quote(name))
            .Text();
    }
    const std::string& text = result.text;
    // The counters' decimal texts are numbers; "nan" and "inf" stay text.
    if (shape == ResultShape::kCounterValue) return json::Number(text, false);
    const std::vector<std::string> values = SplitText(text, '\t');
    if (const std::vector<const char*>* fields = RecordFields(keyword, result)) {
        json::Object record;
        for (size_t i = 0; i < values.size(); ++i) {
            const char* field = (*fields)[i];
            const bool isText = field[0] == '$';
            record.Add(field + isText, isText ? json::Quote(values[i]) : json::Number(values[i]));
        }
        return record.Text();
    }
    if (shape != ResultShape::kProcessList && shape != ResultShape::kModuleList)
        return json::Quote(text);
    const ListTable list = ListItems(words, text);
    std::vector<std::string> items;
    for (const std::vector<std::string>& row : list.rows) {
        json::Object entry;
        for (size_t i = 0; i < row.size(); ++i) {
            const ListField& field = *list.fields[i];
            entry.Add(field.json, field.number ? json::Number(row[i]) : json::Quote(row[i]));
        }
        items.push_back(entry.Text());
    }
    return json::Array(items);
}

int Call(Extender& ext, const Options& options, std::vector<std::string> words,
         const std::string* last, Result* kept) {
    Result result;
    const int outcome = Invoke(ext, options, words, result, last);
    if (kept) *kept = result;
    if (outcome == kExitUsage) return outcome;
    if (outcome == kExitCancelled) {
        if (options.json)
            Print(stdout, "%s\n", json::Object().Add("cancelled", "true").Text().c_str());
        Print(stderr, "vekrun: %s: the dialog was cancelled\n", words[0].c_str());
        return outcome;
    }
    const bool failed = outcome != kExitOk || result.Failed();
    if (options.json) {
        // A script's results name their lines, as its failures do.
        const std::string value = Json(result, words, options.line);
        Print(
            stdout, "%s\n",
            options.line && !failed ? json::LineValue(options.line, value).c_str() : value.c_str());
        return failed ? kExitCallFailed : kExitOk;
    }
    if (failed) {
        Print(stderr, "vekrun: %s%s\n", Place(options).c_str(), FailureLine(words, result).c_str());
        return kExitCallFailed;
    }
    const std::vector<std::string> values = SplitText(result.text, '\t');
    const std::vector<const char*>* fields = RecordFields(words[0], result);
    if (result.type == kResultInteger) {
        Print(stdout, "%d\n", result.value);
    } else if (options.list && fields) {
        PrintRecord(*fields, values);
    } else if (options.list) {
        PrintList(result.text);
    } else if (options.csv) {
        PrintCsvList(words, result.text);
    } else {
        Print(stdout, "%s\n", result.text.c_str());
    }
    return kExitOk;
}

// A function's argument count and names, a constant's value.
void PrintKeywords(const Extender& ext, const Options& options) {
    const std::vector<int> widths = {-4, 8, -4, -5};
    if (!options.json)
        Print(stdout, "%s\n", table::Row({"id", "kind", "args", "value", "name"}, widths).c_str());
    std::vector<std::string> entries;
    for (const KeywordEntry& entry : ext.keywords) {
        const bool constant = entry.kind == kKindConstant;
        const KeywordHelp* help = FindHelp(entry.name);
        std::string names;
        std::vector<std::string> quoted;
        for (int32_t i = 0; !constant && i < entry.countOrValue; ++i) {
            const std::string name = ArgumentName(help, static_cast<size_t>(i));
            names += " " + name;
            quoted.push_back(json::Quote(name));
        }
        const std::string kind = constant ? "constant" : "function";
        if (options.json) {
            json::Object object;
            object.Add("id", std::to_string(entry.id)).Add("kind", json::Quote(kind));
            object.Add("name", json::Quote(entry.name));
            if (constant) object.Add("value", std::to_string(entry.countOrValue));
            if (!constant) object.Add("args", json::Array(quoted));
            entries.push_back(object.Text());
            continue;
        }
        const std::string count = constant ? "" : std::to_string(entry.countOrValue);
        const std::string value = constant ? std::to_string(entry.countOrValue) : "";
        Print(stdout, "%s\n",
              table::Row({std::to_string(entry.id), kind, count, value, entry.name + names}, widths)
                  .c_str());
    }
    if (options.json) Print(stdout, "%s\n", json::Array(entries).c_str());
}

}  // namespace vekrun
