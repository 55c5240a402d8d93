// vekrun's text on its way out. A console shows its own code page (the OEM
// one: 850 in Western Europe, 437 in the US), while the extender's text is
// in the ANSI code page (1252 there), so "Jörg" would show as "J÷rg". Text
// for a console goes as UTF-16, which shows right in any code page, as
// Windows' own tools write it; redirected output keeps its bytes.
#include <stdarg.h>
#include <stdlib.h>

#include <algorithm>

#include "json_text.h"
#include "console.h"
#include "options.h"
#include "text.h"

namespace vekrun {

namespace {

bool utf8Output = false;
bool outputFailed = false;
volatile LONG interrupted = 0;

BOOL WINAPI OnCtrlC(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&interrupted, 1);
    return TRUE;
}

// Said once; the loops that write ask OutputFailed() and stop, so that
// "vekrun --every 1 ... | head -2" ends when head does.
void OutputRefused() {
    if (outputFailed) return;
    outputFailed = true;
    const DWORD code = _doserrno ? static_cast<DWORD>(_doserrno) : GetLastError();
    const std::string reason = CodeText(static_cast<int32_t>(code));
    fprintf(stderr, "vekrun: the output cannot be written (%s)\n",
            reason.empty() ? "no reason given" : reason.c_str());
    fflush(stderr);
}

// The console behind stdout or stderr; null when the stream is redirected.
HANDLE ConsoleOf(FILE* stream) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// Before Windows 8 a console write shares a 64 KB heap with the process's
// other console calls and fails whole (ERROR_NOT_ENOUGH_MEMORY) beyond it:
// a long list goes in pieces, never between the halves of a surrogate pair.
constexpr DWORD kConsolePiece = 8192;

// False when nothing could be written, so that the bytes go as they are.
bool WriteWide(HANDLE console, UINT codePage, const std::string& text) {
    const int size = static_cast<int>(text.size());
    std::wstring wide(MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0],
                                    static_cast<int>(wide.size())));
    DWORD done = 0;
    while (done < wide.size()) {
        DWORD piece = std::min<DWORD>(kConsolePiece, static_cast<DWORD>(wide.size()) - done);
        if (done + piece < wide.size() && IS_HIGH_SURROGATE(wide[done + piece - 1])) --piece;
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + done, piece, &written, nullptr) || written == 0)
            break;
        done += written;
    }
    return done > 0;
}

}  // namespace

bool OutputFailed() { return outputFailed; }

void Write(FILE* stream, const std::string& text) {
    if (text.empty() || (stream == stdout && outputFailed)) return;
    if (HANDLE console = ConsoleOf(stream)) {
        fflush(stream);  // what the C runtime still holds goes first
        if (WriteWide(console, stream == stdout && utf8Output ? CP_UTF8 : CP_ACP, text)) return;
    }
    // Written through at once: a refusal is seen where it happens, not at exit.
    _doserrno = 0;
    const bool written =
        fwrite(text.data(), 1, text.size(), stream) == text.size() && fflush(stream) == 0;
    if (!written && stream == stdout) OutputRefused();
}

void Print(FILE* stream, const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? length : 0, '\0');
    vsnprintf(&text[0], text.size() + 1, format, again);  // its NUL lands on the string's own
    va_end(again);
    Write(stream, text);
}

// One line that names the problem and one that points to the help, as git
// and curl say it; the whole help would bury the line that matters.
void SetUtf8Output(bool utf8) { utf8Output = utf8; }

void CatchCtrlC() { SetConsoleCtrlHandler(OnCtrlC, TRUE); }
bool Interrupted() { return interrupted != 0; }

namespace {

void SayProblem(const Options& options, const std::string& problem, int32_t code,
                const std::string& reason) {
    Print(stderr, "vekrun: %s%s\n", problem.c_str(),
          reason.empty() ? "" : (" (" + reason + ")").c_str());
    if (options.json) {
        Print(stdout, "%s\n",
              json::Failure(options.line, "usage", 0, problem, code, reason).c_str());
        fflush(stdout);
    }
}

}  // namespace

int UsageProblem(const Options& options, const std::string& problem) {
    return UsageProblem(options, problem, 0, std::string());
}

int UsageProblem(const Options& options, const std::string& problem, int32_t code,
                 const std::string& reason) {
    SayProblem(options, problem, code, reason);
    if (!options.json) Print(stderr, "Try 'vekrun --help'.\n");
    return kExitUsage;
}

int UsageProblems(const Options& options, const std::vector<LinedProblem>& problems) {
    for (const LinedProblem& each : problems) {
        Options at = options;
        at.line = each.line;
        SayProblem(at, each.problem, 0, std::string());
    }
    if (!options.json) Print(stderr, "Try 'vekrun --help'.\n");
    return kExitUsage;
}

}  // namespace vekrun
