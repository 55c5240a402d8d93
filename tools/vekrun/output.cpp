// vekrun's output forms: a result as it stands, as a list, as named fields
// (the system's own record names) or as one JSON value; the keyword table.
#include <string.h>

#include <algorithm>

#include "json_text.h"
#include "vekrun.h"

namespace vekrun {

using namespace vek;

namespace {

void PrintList(const std::string& text) {
    const std::vector<std::string> items = SplitText(text, '\t');
    size_t width = 0;
    for (const std::string& item : items) {
        size_t bar = item.rfind('|');
        if (bar != std::string::npos && bar > width) width = bar;
    }
    for (const std::string& item : items) {
        size_t bar = item.rfind('|');
        if (bar == std::string::npos) {
            Print(stdout, "%s\n", item.c_str());
        } else {
            Print(stdout, "%-*s  %s\n", static_cast<int>(width), item.substr(0, bar).c_str(),
                   item.substr(bar + 1).c_str());
        }
    }
}

// The results that are one record, field by field. A name starting with
// '$' is text, not a number.
struct RecordShape {
    const char* keyword;
    std::vector<const char*> fields;
};
const RecordShape kRecords[] = {
    {"tgetprocinfo", {"PageFaultCount", "PeakWorkingSetSize", "WorkingSetSize",
                      "QuotaPeakPagedPoolUsage", "QuotaPagedPoolUsage", "QuotaPeakNonPagedPoolUsage",
                      "QuotaNonPagedPoolUsage", "PagefileUsage", "PeakPagefileUsage"}},
    {"tgetmodinfo", {"BaseOfDll", "SizeOfImage", "EntryPoint"}},
    {"tparsecntrpath", {"$MachineName", "$ObjectName", "$InstanceName", "$ParentInstance",
                        "InstanceIndex", "$CounterName"}},
};

// The record's shape when the text has its fields; null otherwise (a
// failed memory query gives an empty text, for one).
const RecordShape* RecordOf(const std::string& keyword, const std::vector<std::string>& values) {
    for (const RecordShape& r : kRecords) {
        if (keyword == r.keyword && values.size() == r.fields.size()) return &r;
    }
    return nullptr;
}

void PrintRecord(const RecordShape& record, const std::vector<std::string>& values) {
    size_t width = 0;
    for (const char* field : record.fields) width = std::max(width, strlen(field) - (field[0] == '$'));
    for (size_t i = 0; i < values.size(); ++i) {
        const char* field = record.fields[i] + (record.fields[i][0] == '$');
        Print(stdout, "%-*s  %s\n", static_cast<int>(width), field, values[i].c_str());
    }
}

}  // namespace

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        items.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return items;
        start = at + 1;
    }
}

std::string CsvField(const std::string& text) {
    std::string out = "\"";
    for (char c : json::ToUtf8(text)) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string Json(const std::string& keyword, const std::vector<std::string>& words) {
    if (received.status != kStatusSuccess) {
        const int32_t id = atoi(received.text.c_str());
        return "{\"error\": " + (id > 0 ? std::to_string(id) : std::string("null")) +
               ", \"message\": " + json::Quote(received.text) + "}";
    }
    if (received.type == kResultInteger) return std::to_string(received.value);
    const std::string& text = received.text;
    // The counters' decimal texts are numbers; "nan" and "inf" stay text.
    if (keyword == "tgetdata" || keyword == "tbrowsecntrs") return json::Number(text, false);
    const std::vector<std::string> values = SplitText(text, '\t');
    if (const RecordShape* record = RecordOf(keyword, values)) {
        std::string out = "{";
        for (size_t i = 0; i < values.size(); ++i) {
            const char* field = record->fields[i];
            const bool isText = field[0] == '$';
            out += std::string(i ? ", " : "") + json::Quote(field + isText) + ": " +
                   (isText ? json::Quote(values[i]) : json::Number(values[i]));
        }
        return out + "}";
    }
    const bool processes = keyword == "tlistproc";
    if (!processes && keyword != "tlistmod") return json::Quote(text);
    // tListMod's entries take the form its mode gives.
    const int mode = processes ? 0 : atoi(words.size() > 2 ? words[2].c_str() : "0");
    std::string out = "[";
    for (size_t i = 0; !text.empty() && i < values.size(); ++i) {
        const std::string& item = values[i];
        const size_t bar = item.rfind('|');
        std::string name = item, number = item;
        if (mode == 0 && bar != std::string::npos) {
            name = item.substr(0, bar);
            number = item.substr(bar + 1);
        }
        out += i ? ", {" : "{";
        if (processes) {
            out += "\"name\": " + json::Quote(name) + ", \"id\": " + json::Number(number);
        } else if (mode == 2) {
            out += "\"module\": " + json::Number(number);
        } else {
            out += "\"path\": " + json::Quote(name);
            if (mode == 0) out += ", \"module\": " + json::Number(number);
        }
        out += "}";
    }
    return out + "]";
}

int Call(Extender& ext, const Options& options, std::vector<std::string> words) {
    int outcome = Invoke(ext, options, words);
    fflush(stdout);
    if (outcome != kExitOk) {
        if (options.json && outcome == kExitCancelled) Print(stdout, "{\"cancelled\": true}\n");
        return outcome;
    }
    const std::string keyword = Lower(words[0]);
    if (options.json) {
        Print(stdout, "%s\n", Json(keyword, words).c_str());
        return received.status == kStatusSuccess ? kExitOk : kExitCallFailed;
    }
    if (received.status != kStatusSuccess) {
        Print(stderr, "%s\n", received.text.c_str());
        return kExitCallFailed;
    }
    const std::vector<std::string> values = SplitText(received.text, '\t');
    const RecordShape* record = RecordOf(keyword, values);
    if (received.type == kResultInteger) {
        Print(stdout, "%d\n", received.value);
    } else if (options.list && record) {
        PrintRecord(*record, values);
    } else if (options.list) {
        PrintList(received.text);
    } else {
        Print(stdout, "%s\n", received.text.c_str());
    }
    return kExitOk;
}

// A function's argument count and a constant's value, each under its own
// heading.
void PrintKeywords(const Extender& ext) {
    Print(stdout, "%4s  %-8s  %4s  %5s  %s\n", "id", "kind", "args", "value", "name");
    for (const KeywordEntry& entry : ext.keywords) {
        const bool constant = entry.kind == kKindConstant;
        const std::string count = constant ? "" : std::to_string(entry.countOrValue);
        const std::string value = constant ? std::to_string(entry.countOrValue) : "";
        Print(stdout, "%4d  %-8s  %4s  %5s  %s\n", entry.id, constant ? "constant" : "function",
               count.c_str(), value.c_str(), entry.name);
    }
}

}  // namespace vekrun
