// vekrun --script: one keyword call a line, from a file in the encodings
// Windows editors and shells write, or from stdin as the lines arrive.
#include <fcntl.h>
#include <io.h>
#include <string.h>

#include <map>
#include <set>

#include "script.h"
#include "console.h"
#include "host_protocol.h"
#include "json_text.h"
#include "options.h"
#include "output.h"
#include "sampling.h"
#include "text.h"

namespace vekrun {

namespace {

// UTF-8 as UTF-16; false when the bytes are not UTF-8.
bool FromUtf8(const std::string& bytes, std::wstring& wide) {
    wide.clear();
    if (bytes.empty()) return true;
    const int size = static_cast<int>(bytes.size());
    const int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (units <= 0) return false;
    wide.assign(static_cast<size_t>(units), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, &wide[0],
                               units) == units;
}

// Text without a byte-order mark is UTF-8 when its bytes are UTF-8 and not
// all ASCII (what PowerShell 7, VS Code and today's Notepad write), else
// ANSI, as Windows PowerShell 5.1 and older editors write it.
enum class Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };
Encoding Guess(const std::string& bytes) {
    std::wstring wide;
    for (unsigned char c : bytes) {
        if (c >= 0x80) return FromUtf8(bytes, wide) ? Encoding::kUtf8 : Encoding::kAnsi;
    }
    return Encoding::kAnsi;
}

Encoding ByteOrderMark(const std::string& data, size_t& start) {
    start = 0;
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) return start = 3, Encoding::kUtf8;
    if (data.compare(0, 2, "\xFF\xFE") == 0) return start = 2, Encoding::kUtf16Le;
    if (data.compare(0, 2, "\xFE\xFF") == 0) return start = 2, Encoding::kUtf16Be;
    return Guess(data);
}

constexpr char kUnreadable[] = "the line cannot be read in the ANSI code page";

// A line as ANSI text, or the reason it cannot be read.
struct Line {
    std::string text;
    std::string problem;
};

Line Decode(std::string bytes, Encoding encoding) {
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    Line line = {bytes, ""};
    std::wstring wide;
    if (encoding == Encoding::kUtf8 && !(FromUtf8(bytes, wide) && ToAnsi(wide, line.text))) {
        line.problem = kUnreadable;
    }
    return line;
}

// The script's lines, or the problem with the whole of it.
std::string Lines(const std::string& data, std::vector<Line>& lines) {
    size_t start = 0;
    const Encoding encoding = ByteOrderMark(data, start);
    if (encoding == Encoding::kAnsi || encoding == Encoding::kUtf8) {
        if (data.find('\0') != std::string::npos)
            return "a binary file, not a script (it holds NUL bytes)";
        for (const std::string& raw : SplitText(data.substr(start), '\n'))
            lines.push_back(Decode(raw, encoding));
    } else {
        std::wstring wide;
        for (size_t i = start; i + 1 < data.size(); i += 2) {
            const unsigned char a = static_cast<unsigned char>(data[i]),
                                b = static_cast<unsigned char>(data[i + 1]);
            wide +=
                static_cast<wchar_t>(encoding == Encoding::kUtf16Le ? a | (b << 8) : (a << 8) | b);
        }
        size_t from = 0;
        for (size_t to; from <= wide.size(); from = to + 1) {
            to = wide.find(L'\n', from);
            if (to == std::wstring::npos) to = wide.size();
            std::wstring raw = wide.substr(from, to - from);
            if (!raw.empty() && raw.back() == L'\r') raw.pop_back();
            Line line;
            if (!ToAnsi(raw, line.text)) line.problem = kUnreadable;
            lines.push_back(line);
        }
        // Half a unit at the end: the last line is not whole.
        if ((data.size() - start) % 2) lines.back().problem = "the line ends in half a character";
    }
    if (!lines.empty() && lines.back().problem.empty() && lines.back().text.empty())
        lines.pop_back();
    return std::string();
}

// A script line's words: blanks separate them; double quotes group them,
// and inside quotes "" stands for one double quote, as cmd has it. False
// when a quote is not closed.
bool SplitLine(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        if (line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) return false;
                if (line[i] != '"') {
                    word += line[i];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    word += '"';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        }
        words.push_back(word);
    }
    return true;
}

// "$name = CALL" keeps the call's result under the name (any case) for
// the lines after it; $PID and $LAST keep their own meaning.
std::string Assignment(std::vector<std::string>& words, std::string& name) {
    name.clear();
    if (words.size() < 2 || words[1] != "=" || words[0].size() < 2 || words[0][0] != '$') {
        return std::string();
    }
    name = Lower(words[0]);
    if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", 1) != std::string::npos)
        return "a name takes letters, digits and '_' only, not '" + words[0] + "'";
    if (name == "$pid" || name == "$last") return words[0] + " cannot be set";
    if (words.size() == 2) return words[0] + " = needs a call";
    words.erase(words.begin(), words.begin() + 2);
    return std::string();
}

// Each $name the words use, replaced by its value (or by "0" where only the
// form is checked); else the first name without one, as typed.
std::string Substitute(std::vector<std::string>& words,
                       const std::map<std::string, std::string>& values,
                       const std::set<std::string>* known) {
    for (std::string& word : words) {
        const std::string name = Lower(word);
        if (word.size() < 2 || word[0] != '$' || name == "$pid" || name == "$last") continue;
        const auto value = values.find(name);
        if (known ? !known->count(name) : value == values.end()) return word;
        word = known ? "0" : value->second;
    }
    return std::string();
}

// What a line cannot be, found before any call runs: unreadable, a quote
// not closed, a name not set yet, a call vekrun would refuse. $LAST and the
// names are taken for numbers here; whether a result fits is known only
// when it comes.
std::string LineProblem(const Extender& ext, const Options& options, const Line& line,
                        std::vector<std::string>& words, bool afterCall,
                        std::set<std::string>& named) {
    if (!line.problem.empty()) return line.problem;
    if (!SplitLine(line.text, words)) return "a double quote is not closed";
    if (words.empty()) return std::string();
    std::vector<std::string> checked = words;
    std::string name;
    const std::string form = Assignment(checked, name);
    if (!form.empty()) return form;
    const std::string unset = Substitute(checked, {}, &named);
    // The name counts as set even when its call is refused: the lines that
    // use it are not that line's fault.
    if (!name.empty()) named.insert(name);
    if (!unset.empty()) return unset + " is used before a line sets it";
    const std::string placeholder = "0";
    return CallProblem(ext, options, checked, afterCall ? &placeholder : nullptr);
}

// The bad lines of a file named at most; the rest are counted.
constexpr size_t kProblemsShown = 20;

struct RunState {
    int worst = kExitOk;
    bool haveLast = false;
    std::string last;
    std::set<std::string> named;                // set by a line checked so far
    std::map<std::string, std::string> values;  // set by a line that ran
    std::map<std::string, int> setBy;           // the last line meant to set each
    std::string place;                          // the file's name, or "stdin"
    int lastLine = 0;                           // the last line that ran
};

// A script stopped by Ctrl+C after the call under way, said with its place.
int Interruption(const RunState& state) {
    Print(stderr, "vekrun: interrupted at %s:%d\n", state.place.c_str(), state.lastLine);
    return kExitInterrupted;
}

// A line that uses a name its own line failed to set.
int NotSet(const Options& options, const std::string& name, int setBy) {
    const std::string problem =
        name + " was not set: its call on line " + std::to_string(setBy) + " failed";
    if (options.json)
        Print(stdout, "%s\n", json::Failure(options.line, "call", 0, problem, 0, "").c_str());
    if (!options.json) Print(stderr, "vekrun: %s%s\n", Place(options).c_str(), problem.c_str());
    return kExitCallFailed;
}

// Runs one line; false when the script stops there.
bool RunLine(Extender& ext, const Options& scriptOptions, int number, const std::string& text,
             std::vector<std::string> words, RunState& state) {
    // Its failures, and with --json its results, name the line.
    Options options = scriptOptions;
    options.place = state.place;
    options.line = number;
    // With --json every line on stdout is a result.
    if (!options.quiet) Print(options.json ? stderr : stdout, "> %s\n", text.c_str());
    std::string name;
    Assignment(words, name);
    Result result;
    // A name whose line failed has no value: the call fails, as its line did.
    const std::string unset = Substitute(words, state.values, nullptr);
    const int outcome =
        unset.empty() ? Call(ext, options, words, state.haveLast ? &state.last : nullptr, &result)
                      : NotSet(options, unset, state.setBy[Lower(unset)]);
    state.haveLast = outcome == kExitOk;
    if (state.haveLast) state.last = result.Value();
    // A failed call leaves its name unset, never holding an older line's handle.
    if (!name.empty()) {
        state.setBy[name] = number;
        if (state.haveLast) state.values[name] = result.Value();
        if (!state.haveLast) state.values.erase(name);
    }
    if (outcome != kExitOk && state.worst == kExitOk) state.worst = outcome;
    state.lastLine = number;
    return !OutputFailed() && !Interrupted() && (outcome == kExitOk || options.keepGoing);
}

// A line of stdin without its line feed; false at the end.
bool ReadLine(std::string& bytes) {
    bytes.clear();
    int c;
    while ((c = getc(stdin)) != EOF && c != '\n') bytes += static_cast<char>(c);
    return c != EOF || !bytes.empty();
}

// stdin runs each line as it arrives, each checked just before it runs: a
// person typing, or a program feeding vekrun, waits for the answer.
int RunStdin(Extender& ext, const Options& options) {
    _setmode(_fileno(stdin), _O_BINARY);  // a byte 0x1A is no end of text
    RunState state;
    state.place = "stdin";
    auto run = [&](int number, const Line& line) {
        std::vector<std::string> words;
        const std::string problem =
            LineProblem(ext, options, line, words, state.haveLast, state.named);
        if (problem.empty())
            return words.empty() || RunLine(ext, options, number, line.text, words, state);
        std::string name;
        if (Assignment(words, name).empty() && !name.empty()) state.setBy[name] = number;
        Options at = options;
        at.line = number;
        UsageProblem(at, "stdin:" + std::to_string(number) + ": " + problem);
        if (state.worst == kExitOk) state.worst = kExitUsage;
        return options.keepGoing;
    };
    std::string bytes;
    if (!ReadLine(bytes)) return kExitOk;
    size_t start = 0;
    const Encoding encoding = ByteOrderMark(bytes, start);
    if (encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be) {
        // Its lines end in two bytes; read whole, as a file is.
        for (std::string rest; ReadLine(rest);) bytes += "\n" + rest;
        std::vector<Line> lines;
        Lines(bytes, lines);
        for (size_t i = 0; i < lines.size() && run(static_cast<int>(i + 1), lines[i]);) ++i;
        return Interrupted() ? Interruption(state) : state.worst;
    }
    const bool utf8 = start > 0;
    bytes.erase(0, start);
    for (int number = 1;; ++number) {
        Line line;
        if (bytes.find('\0') != std::string::npos) {
            line.problem = "binary, not a script line (it holds NUL bytes)";
        } else {
            line = Decode(bytes, utf8 ? Encoding::kUtf8 : Guess(bytes));
        }
        if (!run(number, line) || !ReadLine(bytes)) break;
    }
    return Interrupted() ? Interruption(state) : state.worst;
}

// The file's bytes, or the system's code where it cannot be read.
DWORD ReadWholeFile(const std::string& file, std::string& data) {
    const vek::FileHandleGuard in(CreateFileA(file.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD code = in ? ERROR_SUCCESS : GetLastError();
    char buffer[65536];
    for (DWORD got; code == ERROR_SUCCESS;) {
        if (!ReadFile(in.Get(), buffer, sizeof buffer, &got, nullptr)) code = GetLastError();
        if (code != ERROR_SUCCESS || got == 0) break;
        data.append(buffer, got);
    }
    return code;
}

// Every round calls each line afresh, as typeperf reads each counter.
int SampleScript(Extender& ext, const Options& options,
                 const std::vector<std::vector<std::string>>& calls) {
    const std::string& file = options.scriptFile;
    std::vector<SampledCall> sampled;
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::vector<std::string>& words = calls[i];
        if (words.empty()) continue;
        for (const std::string& word : words) {
            if (word[0] != '$' || Lower(word) == "$pid") continue;
            Options at = options;
            at.line = static_cast<int>(i + 1);
            return UsageProblem(at, file + ":" + std::to_string(i + 1) +
                                        ": a sampled script's calls take no names and no $LAST");
        }
        sampled.push_back({words, static_cast<int>(i + 1)});
    }
    if (sampled.empty()) return UsageProblem(options, file + ": no call to sample");
    Options sampling = options;
    sampling.place = file;
    return Sample(ext, sampling, sampled);
}

}  // namespace

int RunScript(Extender& ext, const Options& options) {
    CatchCtrlC();
    const std::string& file = options.scriptFile;
    if (file == "-") return RunStdin(ext, options);
    std::string data;
    const DWORD code = ReadWholeFile(file, data);
    if (code != ERROR_SUCCESS) {
        return UsageProblem(options, "cannot read " + file, static_cast<int32_t>(code),
                            CodeText(static_cast<int32_t>(code), file));
    }
    std::vector<Line> lines;
    std::string problem = Lines(data, lines);
    if (!problem.empty()) return UsageProblem(options, file + ": " + problem);

    // Every line is checked before the first runs: a script stopped halfway
    // by its own mistake leaves a process opened and never closed.
    // Every bad line is named, as a compiler names them, up to a screenful.
    std::vector<std::vector<std::string>> calls(lines.size());
    bool afterCall = false;
    RunState state;
    state.place = file;
    std::vector<LinedProblem> problems;
    size_t unsaid = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        problem = LineProblem(ext, options, lines[i], calls[i], afterCall, state.named);
        if (!problem.empty() && problems.size() == kProblemsShown) ++unsaid;
        if (!problem.empty() && problems.size() < kProblemsShown)
            problems.push_back(
                {static_cast<int>(i + 1), file + ":" + std::to_string(i + 1) + ": " + problem});
        afterCall = afterCall || !calls[i].empty();
    }
    if (unsaid) problems.push_back({0, file + ": " + std::to_string(unsaid) + " more bad lines"});
    if (!problems.empty()) return UsageProblems(options, problems);
    if (options.everySeconds > 0 || options.prom) {
        Options once = options;
        if (!(options.everySeconds > 0)) once.samples = 1;
        return SampleScript(ext, once, calls);
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!calls[i].empty() &&
            !RunLine(ext, options, static_cast<int>(i + 1), lines[i].text, calls[i], state))
            break;
    }
    return Interrupted() ? Interruption(state) : state.worst;
}

}  // namespace vekrun
