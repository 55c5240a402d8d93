// The forms vekrun writes, one writer each, for every action: an aligned
// table for people, PerfMon's CSV, and JSON (json_text.h's Object and
// Array): a row or a value made there, printed by the caller.
#pragma once

#include <string>
#include <vector>

#include "json_text.h"

namespace table {

// A column's width: positive, the text padded after it; negative, before it
// (a number's column); the last cell of a row is never padded after.
std::string Row(const std::vector<std::string>& cells, const std::vector<int>& widths);

}  // namespace table

namespace csv {

// A field: UTF-8, quoted, its quotes doubled.
std::string Field(const std::string& text);
// A row of fields, comma-separated.
std::string Row(const std::vector<std::string>& cells);
// The same of UTF-8 text.
std::string Utf8Field(const std::string& utf8);
std::string Utf8Row(const std::vector<std::string>& cells);

}  // namespace csv

namespace prom {

// Prometheus's text exposition format 0.0.4: families of samples, each
// family's # HELP and # TYPE once, before its samples.
struct Label {
    std::string name, value;  // the value in UTF-8
};
class Families {
public:
    // A sample of the family `name` (made a name Prometheus allows);
    // `help` and `type` ("gauge", "counter") are the family's, from its first sample.
    void Add(const std::string& name, const char* help, const char* type,
             const std::vector<Label>& labels, const std::string& value);
    std::string Text() const;

private:
    struct Family {
        std::string name, help, type;
        std::vector<std::string> samples;
    };
    std::vector<Family> families_;
};

// A metric or label name: [a-zA-Z_:][a-zA-Z0-9_:]*, anything else as '_'.
std::string Name(const std::string& text);
// A name as Prometheus's conventions write one: WorkingSetSize as working_set_size.
std::string SnakeCase(const std::string& text);

}  // namespace prom
