// vekrun --counters: counter paths found by PDH's own enumeration.
#pragma once

#include "options.h"

namespace vekrun {

int ListCounters(const Options& options);

}  // namespace vekrun
