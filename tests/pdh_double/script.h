// The test side of the PDH double.
#pragma once

#include <string>

#include "pdh_script.h"

namespace pdhdouble {

// The script of the double that the extender loaded, or null.
Script* Attached();
// The names of the calls received, in order, separated by blanks.
std::string CallNames(const Script& s);
void Forget(Script& s);
// Every status back to success and every reply to its first form.
void Reset(Script& s);

}  // namespace pdhdouble
