// vekrun --doctor: what the extender needs of this machine.
#pragma once

#include "host_protocol.h"

namespace vekrun {

int Doctor(Extender& ext, const Options& options);

}  // namespace vekrun
