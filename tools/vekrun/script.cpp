// vekrun --script: one keyword call a line, from a file in the encodings
// Windows editors and shells write, or from stdin.
#include <string.h>

#include "vekrun.h"

namespace vekrun {

namespace {

std::string ReadAll(FILE* in) {
    std::string data;
    char buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, in)) > 0;) data.append(buffer, got);
    return data;
}

// One line of the script as the ANSI text the extender takes; false when
// it cannot be: bytes that are not UTF-8 in a UTF-8 file, or a character
// the ANSI code page lacks (it would reach the extender as '?').
bool ToAnsi(const std::wstring& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    BOOL lost = FALSE;
    const int units = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0, nullptr, &lost);
    if (bytes <= 0 || lost) return false;
    ansi.assign(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, &ansi[0], bytes, nullptr, &lost);
    return !lost;
}

// The file's lines as ANSI text; a line that cannot be read comes with
// `readable` false. The byte-order mark says the encoding: UTF-8, UTF-16
// little- or big-endian; without one the file is ANSI already.
struct Line {
    std::string text;
    bool readable;
};
std::vector<Line> Lines(const std::string& data) {
    enum { kAnsi, kUtf8, kUtf16Le, kUtf16Be } encoding = kAnsi;
    size_t start = 0;
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        encoding = kUtf8;
        start = 3;
    } else if (data.compare(0, 2, "\xFF\xFE") == 0) {
        encoding = kUtf16Le;
        start = 2;
    } else if (data.compare(0, 2, "\xFE\xFF") == 0) {
        encoding = kUtf16Be;
        start = 2;
    }
    std::vector<Line> lines;
    if (encoding == kAnsi || encoding == kUtf8) {
        for (const std::string& raw : SplitText(data.substr(start), '\n')) {
            Line line = {raw, true};
            if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
            if (encoding == kUtf8 && !line.text.empty()) {
                const int size = static_cast<int>(line.text.size());
                const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.text.data(), size, nullptr, 0);
                std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
                line.readable = units > 0 &&
                                MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.text.data(), size, &wide[0], units) == units &&
                                ToAnsi(wide, line.text);
            }
            lines.push_back(line);
        }
    } else {
        std::wstring wide;
        for (size_t i = start; i + 1 < data.size(); i += 2) {
            const unsigned char a = static_cast<unsigned char>(data[i]), b = static_cast<unsigned char>(data[i + 1]);
            wide += static_cast<wchar_t>(encoding == kUtf16Le ? a | (b << 8) : (a << 8) | b);
        }
        size_t from = 0;
        for (size_t to; from <= wide.size(); from = to + 1) {
            to = wide.find(L'\n', from);
            if (to == std::wstring::npos) to = wide.size();
            std::wstring raw = wide.substr(from, to - from);
            if (!raw.empty() && raw.back() == L'\r') raw.pop_back();
            Line line;
            line.readable = ToAnsi(raw, line.text);
            lines.push_back(line);
        }
        // Half a unit at the end: the last line is not whole.
        if ((data.size() - start) % 2) lines.back().readable = false;
    }
    if (!lines.empty() && lines.back().readable && lines.back().text.empty()) lines.pop_back();
    return lines;
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

}  // namespace

int RunScript(Extender& ext, const Options& options) {
    const char* file = options.scriptFile.c_str();
    FILE* in = strcmp(file, "-") == 0 ? stdin : fopen(file, "rb");
    if (!in) return UsageProblem(options, std::string("cannot read ") + file);
    const std::string data = ReadAll(in);
    if (in != stdin) fclose(in);

    int worst = kExitOk;
    int number = 0;
    for (const Line& line : Lines(data)) {
        ++number;
        std::vector<std::string> words;
        const bool split = line.readable && SplitLine(line.text, words);
        if (!split) {
            UsageProblem(options, std::string(file) + ":" + std::to_string(number) + ": " +
                                      (line.readable ? "a double quote is not closed"
                                                     : "the line cannot be read in the ANSI code page"));
            worst = kExitUsage;
            if (!options.keepGoing) break;
            continue;
        }
        if (words.empty()) continue;
        // With --json every line on stdout is a result.
        Print(options.json ? stderr : stdout, "> %s\n", line.text.c_str());
        fflush(options.json ? stderr : stdout);
        int outcome = Call(ext, options, words);
        fflush(stdout);
        fflush(stderr);
        if (outcome != kExitOk) {
            if (worst == kExitOk) worst = outcome;
            if (!options.keepGoing) break;
        }
    }
    return worst;
}

}  // namespace vekrun
