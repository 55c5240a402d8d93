// A call's result in the forms vekrun prints: plain, list, JSON, CSV.
#pragma once

#include <string>
#include <vector>

#include "host_protocol.h"

namespace vekrun {

// One call, printed as the options say; its exit status.
int Call(Extender& ext, const Options& options, std::vector<std::string> words,
         const std::string* last = nullptr, Result* kept = nullptr);
// A result as one JSON value; a failure as json::Failure's object, kind "call".
std::string Json(const Result& result, const std::vector<std::string>& words, int line = 0);
// "FILE:LINE: " in a script, else nothing.
std::string Place(const Options& options);
// The result's named fields, or null: the records of tGetProcInfo,
// tGetModInfo and tParseCntrPath. A field name starting with '$' is text.
const std::vector<const char*>* RecordFields(const std::string& keyword, const Result& result);
void PrintKeywords(const Extender& ext, const Options& options);

}  // namespace vekrun
