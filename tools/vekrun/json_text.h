// The little JSON vekrun writes: one value a line, strings from the ANSI
// code page turned into UTF-8 and escaped as RFC 8259 requires.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace json {

// ANSI text of the process's code page as UTF-8, as JSON and CSV are written.
inline std::string ToUtf8(const std::string& ansi) {
    std::string utf8;
    if (!ansi.empty()) {
        const int units =
            MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(units), L'\0');
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], units);
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
        utf8.assign(static_cast<size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &utf8[0], bytes, nullptr, nullptr);
    }
    return utf8;
}

// A JSON string of UTF-8 text.
inline std::string QuoteUtf8(const std::string& utf8) {
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

// A JSON string of ANSI text.
inline std::string Quote(const std::string& ansi) { return QuoteUtf8(ToUtf8(ansi)); }

// Whether a text is a number as JSON writes one: -?(0|[1-9][0-9]*), then
// optionally a fraction and an exponent.
inline bool IsNumber(const std::string& text, bool integerOnly = false) {
    size_t i = text[0] == '-' ? 1 : 0;
    auto digits = [&] {
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i > start;
    };
    const size_t first = i;
    if (!digits() || (text[first] == '0' && i > first + 1)) return false;
    if (!integerOnly && i < text.size() && text[i] == '.' && (++i, !digits())) return false;
    if (!integerOnly && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == text.size();
}

// A decimal text as a JSON number, or as a string when it is not one.
inline std::string Number(const std::string& text, bool integerOnly = true) {
    return IsNumber(text, integerOnly) ? text : Quote(text);
}

// An object, its members in the order added: {"name": value, ...}.
class Object {
public:
    // `value` is JSON already: a number, a quoted string, true, null, an object.
    Object& Add(const std::string& name, const std::string& value) {
        text_ += (text_.size() > 1 ? ", " : "") + Quote(name) + ": " + value;
        return *this;
    }
    // The members of another object's text, in their order.
    Object& Splice(const std::string& object) {
        if (object.size() > 2)
            text_ += (text_.size() > 1 ? ", " : "") + object.substr(1, object.size() - 2);
        return *this;
    }
    std::string Text() const { return text_ + "}"; }

private:
    std::string text_ = "{";
};

// An array of JSON values.
inline std::string Array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + values[i];
    return out + "]";
}

// A result in a script, named by its line.
inline std::string LineValue(int line, const std::string& value) {
    return Object().Add("line", std::to_string(line)).Add("value", value).Text();
}

// Every failure as one object of the same fields and types: "error" its
// kind ("call", "usage", "load"), "id" the message number or null,
// "message", "code" the nonzero code the failure kept or null, "reason" the
// code's words or a hint, or null; in a script "line" first.
inline std::string Failure(int line, const char* kind, int id, const std::string& message,
                           int32_t code, const std::string& reason) {
    Object failure;
    if (line) failure.Add("line", std::to_string(line));
    return failure.Add("error", Quote(kind))
        .Add("id", id > 0 ? std::to_string(id) : "null")
        .Add("message", Quote(message))
        .Add("code", code ? std::to_string(code) : "null")
        .Add("reason", reason.empty() ? "null" : Quote(reason))
        .Text();
}

}  // namespace json
