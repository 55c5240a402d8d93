// vekrun's clocks: the schedule that rounds keep, and times as each output
// form writes them.
#include <stdio.h>
#include <wchar.h>

#include <algorithm>

#include "clock.h"
#include "console.h"
#include "text.h"

namespace vekrun {

namespace {

// The time zone and the bias in minutes in force now (UTC = local time + bias).
LONG BiasNow(TIME_ZONE_INFORMATION& zone) {
    zone = {};
    const DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    return bias;
}

}  // namespace

// The local time in the form each output takes: PDH-CSV's 12/09/2026
// 10:31:02.123, or ISO 8601's 2026-12-09T10:31:02.123+01:00 (with a blank
// in the table), whose offset from UTC lets samples of machines in other
// zones sort together.
//
// The time is taken to the microsecond (GetSystemTimePreciseAsFileTime,
// Windows 8 on; before it the plain call, which moves in the clock's ticks of
// about 16 ms, as GetLocalTime does everywhere), so that samples 10 ms apart
// carry times that rise; local by the bias in force that the offset shows.
FILETIME PreciseNow() {
    typedef VOID(WINAPI * SystemTimeFn)(LPFILETIME);
    static const SystemTimeFn precise = [] {
        const FARPROC found =
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime");
        return found ? reinterpret_cast<SystemTimeFn>(reinterpret_cast<void*>(found))
                     : GetSystemTimeAsFileTime;
    }();
    FILETIME utc;
    precise(&utc);
    return utc;
}

std::string TimeText(const Options& options) { return TimeText(options, PreciseNow()); }

std::string TimeText(const Options& options, const FILETIME& utc) {
    TIME_ZONE_INFORMATION zone;
    const LONG bias = BiasNow(zone);
    constexpr LONGLONG kTicksAMinute = 60LL * 10000000;
    ULARGE_INTEGER at;
    at.LowPart = utc.dwLowDateTime;
    at.HighPart = utc.dwHighDateTime;
    at.QuadPart -= static_cast<ULONGLONG>(static_cast<LONGLONG>(bias) * kTicksAMinute);
    const FILETIME local = {at.LowPart, at.HighPart};
    SYSTEMTIME t = {};
    FileTimeToSystemTime(&local, &t);
    char text[40];
    if (options.csv) {
        snprintf(text, sizeof text, "%02u/%02u/%04u %02u:%02u:%02u.%03u", t.wMonth, t.wDay, t.wYear,
                 t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    } else {
        const LONG east = -bias, minutes = east < 0 ? -east : east;
        snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u:%02u.%03u%c%02ld:%02ld", t.wYear,
                 t.wMonth, t.wDay, options.json ? 'T' : ' ', t.wHour, t.wMinute, t.wSecond,
                 t.wMilliseconds, east < 0 ? '-' : '+', minutes / 60, minutes % 60);
    }
    return text;
}

// PDH-CSV's first cell: the time zone's standard name and the bias in
// minutes in force now, "(GMT Standard Time)(-60)" in a British summer.
std::string TimeZoneCell() {
    TIME_ZONE_INFORMATION zone;
    const LONG bias = BiasNow(zone);
    const std::string name =
        Utf8Of(zone.StandardName, wcsnlen(zone.StandardName, ARRAYSIZE(zone.StandardName)));
    return "(PDH-CSV 4.0) (" + name + ")(" + std::to_string(bias) + ")";
}

// Waits for the start of sample `taken`, in steps so that Ctrl+C is not
// kept waiting a whole interval: samples start an interval apart, however
// long a round of calls takes, and one that overran its slot follows at once.
// Scheduled on the performance counter: GetTickCount64 moves in steps of
// about 16 ms, too coarse for samples 10 ms apart.
ULONGLONG NowMs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<ULONGLONG>(count.QuadPart / (frequency.QuadPart / 1000));
}
void WaitForSlot(ULONGLONG first, ULONGLONG interval, long taken) {
    for (ULONGLONG now; !Interrupted() && (now = NowMs()) < first + taken * interval;) {
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(50, first + taken * interval - now)));
    }
}

}  // namespace vekrun
