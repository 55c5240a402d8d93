// vekrun --every: calls sampled on an interval.
#pragma once

#include <string>
#include <vector>

#include "host_protocol.h"

namespace vekrun {

// One call of a sample: its words, and its line in a script (0: the command line).
struct SampledCall {
    std::vector<std::string> words;
    int line = 0;
};
int Sample(Extender& ext, const Options& options, const std::vector<SampledCall>& calls);

}  // namespace vekrun
