// vekrun --script: one call a line.
#pragma once

#include "host_protocol.h"

namespace vekrun {

int RunScript(Extender& ext, const Options& options);

}  // namespace vekrun
