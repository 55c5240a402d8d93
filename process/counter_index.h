// English performance object and counter names to their index numbers, from
// the registry's list under Perflib\009; the extender's process listing and
// vekrun's doctor read it alike.
#pragma once

#include <windows.h>

namespace vek {

// The index text of `name` from the list of pairs (index text, name) in
// `data`, in `indexText` of `capacity` characters: 1, or 0 with an empty
// text when the list lacks it.
int CounterIndexWalk(const char* data, DWORD size, const char* name, char* indexText, int capacity);
// The same from the registry's list: 0 when it cannot be read.
int CounterIndexLookup(const char* name, char* indexText, int capacity);

}  // namespace vek
