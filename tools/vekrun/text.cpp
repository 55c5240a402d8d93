// Words and codes as text, for every part of vekrun: case, splitting, and
// the system's or PDH's words for a code.
#include <string.h>

#include "owner.h"
#include "system_library.h"
#include "text.h"

namespace vekrun {

namespace {

// A message table's text without its ending, with inserts (%1, %2!s!)
// given `insert`: FORMAT_MESSAGE_IGNORE_INSERTS leaves them as they stand,
// and filling them from arguments would read what nobody passed.
std::string FormatCode(DWORD flags, HMODULE source, DWORD code, const std::string& insert) {
    char text[1024] = "";
    const DWORD length = FormatMessageA(flags | FORMAT_MESSAGE_IGNORE_INSERTS, source, code, 0,
                                        text, sizeof text, nullptr);
    std::string out;
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] != '%' || i + 1 >= length) {
            out += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
        } else if (text[i + 1] >= '1' && text[i + 1] <= '9') {
            for (++i; i + 1 < length && text[i + 1] >= '0' && text[i + 1] <= '9';) ++i;
            if (i + 1 < length && text[i + 1] == '!') {
                const char* close =
                    static_cast<const char*>(memchr(text + i + 2, '!', length - i - 2));
                if (close) i = static_cast<DWORD>(close - text);
            }
            out += insert.empty() ? std::string("?") : insert;
        } else {
            // %n is a line break; %% %. %! and the rest stand for their character.
            ++i;
            out += text[i] == 'n' ? ' ' : text[i];
        }
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    return out;
}

}  // namespace

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string SystemText(DWORD code) {
    return FormatCode(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, std::string());
}

// PDH statuses have the top bit set (0x800007D0 on, 0xC0000BB8 on); their
// texts are in PDH.DLL's own message table, which Wine's PDH lacks.
std::string CodeText(int32_t code, const std::string& insert) {
    if (code == 0) return std::string();
    const DWORD bits = static_cast<DWORD>(code);
    if (bits & 0x80000000u) {
        char hex[16];
        snprintf(hex, sizeof hex, "0x%08lX", bits);
        std::string text;
        const vek::LibraryGuard pdh(vek::LoadSystemLibrary("pdh.dll"));
        if (pdh) text = FormatCode(FORMAT_MESSAGE_FROM_HMODULE, pdh.Get(), bits, insert);
        return std::string("PDH status ") + hex + (text.empty() ? "" : ": " + text);
    }
    const std::string text = FormatCode(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, bits, insert);
    return "error " + std::to_string(bits) + (text.empty() ? "" : ": " + text);
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        items.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return items;
        start = at + 1;
    }
}

// Text as the ANSI text the extender takes; false when it cannot be: a
// character the ANSI code page lacks would reach the extender as '?', or
// by best fit as another (U+FF12 as '2').
bool ToAnsi(const std::wstring& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    BOOL lost = FALSE;
    const int units = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr,
                                          0, nullptr, &lost);
    if (bytes <= 0 || lost) return false;
    ansi.assign(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, &ansi[0], bytes, nullptr,
                        &lost);
    return !lost;
}

namespace {

std::wstring LowerWide(const std::string& utf8) {
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<size_t>(size), L'\0');
    wide.resize(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], size)));
    if (!wide.empty()) CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return wide;
}

// * any run of characters, ? any one; the text whole.
bool Wildcard(const wchar_t* pattern, const wchar_t* text) {
    const wchar_t *star = nullptr, *resume = nullptr;
    while (*text) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = text;
        } else if (*pattern == L'?' || *pattern == *text) {
            ++pattern, ++text;
        } else if (star) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return *pattern == L'\0';
}

}  // namespace

std::string Utf8Of(const wchar_t* text, size_t units) {
    const int size = static_cast<int>(units);
    std::string utf8(units * 3, '\0');
    utf8.resize(static_cast<size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text, size, &utf8[0], size * 3, nullptr, nullptr)));
    return utf8;
}

bool MatchesWildcard(const std::string& pattern, const std::string& text) {
    return Wildcard(LowerWide(pattern).c_str(), LowerWide(text).c_str());
}

}  // namespace vekrun
