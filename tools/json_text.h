// The little JSON vekrun writes: one value a line, strings from the ANSI
// code page turned into UTF-8 and escaped as RFC 8259 requires.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>

namespace json {

inline std::string Quote(const std::string& ansi) {
    std::string utf8;
    if (!ansi.empty()) {
        const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(units), L'\0');
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], units);
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
        utf8.assign(static_cast<size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &utf8[0], bytes, nullptr, nullptr);
    }
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// A decimal text as a JSON number, or as a string when it is not one.
inline std::string Number(const std::string& text) {
    size_t i = text[0] == '-' ? 1 : 0;
    bool digits = i < text.size() && (text[i] != '0' || text.size() == i + 1);
    for (; digits && i < text.size(); ++i) digits = text[i] >= '0' && text[i] <= '9';
    return digits ? text : Quote(text);
}

}  // namespace json
