// vekrun --every: the same call a sample every interval, as typeperf
// samples a counter, optionally as CSV.
#include <algorithm>

#include "vekrun.h"

namespace vekrun {

namespace {

volatile LONG interrupted = 0;

BOOL WINAPI OnCtrlC(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&interrupted, 1);
    return TRUE;
}

std::string LocalTimeText() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay,
             t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// typeperf heads a column with the counter's path; other calls are named
// by the keyword and its arguments.
std::string Column(const std::vector<std::string>& words) {
    if (Lower(words[0]) == "tgetdata" && words.size() > 1) return words[1];
    std::string column;
    for (const std::string& word : words) column += (column.empty() ? "" : " ") + word;
    return column;
}

// One CSV line for one sample; a failure leaves the value empty, so that
// the column stays numeric, and is told on stderr with the sample's time.
int CsvSample(Extender& ext, const Options& options, const std::vector<std::string>& words) {
    std::vector<std::string> call = words;
    const std::string time = LocalTimeText();
    int outcome = Invoke(ext, options, call);
    if (outcome == kExitUsage) return outcome;
    std::string value;
    if (outcome == kExitOk && received.status == vek::kStatusSuccess) {
        value = received.type == vek::kResultInteger ? std::to_string(received.value) : received.text;
    } else {
        if (outcome == kExitOk) {
            Print(stderr, "%s %s\n", time.c_str(), received.text.c_str());
        } else {
            Print(stderr, "%s the call gave no result\n", time.c_str());
        }
        outcome = kExitCallFailed;
    }
    Print(stdout, "%s,%s\n", CsvField(time).c_str(), CsvField(value).c_str());
    return outcome;
}

}  // namespace

int Sample(Extender& ext, const Options& options, const std::vector<std::string>& words) {
    SetConsoleCtrlHandler(OnCtrlC, TRUE);
    if (options.csv) Print(stdout, "%s,%s\n", CsvField("time").c_str(), CsvField(Column(words)).c_str());
    int worst = kExitOk;
    // Samples start an interval apart, however long a call takes; one that
    // overran its slot is followed at once.
    const ULONGLONG interval = static_cast<ULONGLONG>(options.everySeconds * 1000 + 0.5);
    const ULONGLONG first = GetTickCount64();
    for (long taken = 0; !interrupted && (options.samples == 0 || taken < options.samples); ++taken) {
        // Slept in steps, so that Ctrl+C is not kept waiting a whole interval.
        for (ULONGLONG now; !interrupted && (now = GetTickCount64()) < first + taken * interval;) {
            Sleep(static_cast<DWORD>(std::min<ULONGLONG>(50, first + taken * interval - now)));
        }
        if (interrupted) break;
        const int outcome = options.csv ? CsvSample(ext, options, words) : Call(ext, options, words);
        if (outcome == kExitUsage) return outcome;
        fflush(stdout);
        fflush(stderr);
        if (outcome != kExitOk) worst = kExitCallFailed;
    }
    return worst;
}

}  // namespace vekrun
