// What Wine alone gives (a Windows version posed through its AppDefaults,
// its PDH's stubs, the stand-in provider registered in its prefix): on
// Windows the test, or the rest of it, skips, saying why. The one test of
// where the suite runs.
#pragma once

#include <gtest/gtest.h>

#include "system_library.h"

#define VEK_UNDER_WINE_ONLY(reason) \
    if (!vek::UnderWine()) GTEST_SKIP() << "under Wine only: " << (reason)
