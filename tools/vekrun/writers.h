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
