// vekrun's clocks: the schedule that rounds keep, and times as each output
// form writes them.
#pragma once

#include <windows.h>

#include <string>

#include "options.h"

namespace vekrun {

// Now, to the microsecond where Windows can (8 on), as UTC.
FILETIME PreciseNow();
// A time as the output form writes it: ISO 8601 with the offset from UTC
// (a blank for the 'T' in the table), or PDH-CSV's local time with --csv.
std::string TimeText(const Options& options);
std::string TimeText(const Options& options, const FILETIME& utc);
// PDH-CSV's first cell: the zone's standard name and its bias now.
std::string TimeZoneCell();

// Milliseconds on the performance counter, which never steps back.
ULONGLONG NowMs();
// Until round `taken` is due, `interval` ms apart from `first`, or Ctrl+C.
void WaitForSlot(ULONGLONG first, ULONGLONG interval, long taken);

}  // namespace vekrun
