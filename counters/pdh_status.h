// PDH status codes as PDH_STATUS values (pdhmsg.h spells them as DWORDs).
#pragma once

#include <pdhmsg.h>

#include "extender.h"

namespace vek {

inline bool Is(PDH_STATUS status, DWORD code) { return static_cast<DWORD>(status) == code; }

// Any path PDH accepts fits; a longer argument is refused before PDH sees it.
constexpr size_t kCounterPathCapacity = PDH_MAX_COUNTER_PATH + 1;

}  // namespace vek
