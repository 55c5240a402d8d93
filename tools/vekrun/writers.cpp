#include "writers.h"

namespace table {

std::string Row(const std::vector<std::string>& cells, const std::vector<int>& widths) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const int width = i < widths.size() ? widths[i] : 0;
        const size_t room = static_cast<size_t>(width < 0 ? -width : width);
        const std::string pad(room > cells[i].size() ? room - cells[i].size() : 0, ' ');
        if (i > 0) line += "  ";
        if (width < 0) line += pad;
        line += cells[i];
        if (width > 0 && i + 1 < cells.size()) line += pad;
    }
    return line;
}

}  // namespace table

namespace csv {

std::string Utf8Field(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string Field(const std::string& text) { return Utf8Field(json::ToUtf8(text)); }

std::string Row(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + Field(cells[i]);
    return line;
}

std::string Utf8Row(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + Utf8Field(cells[i]);
    return line;
}

}  // namespace csv

namespace prom {

std::string Name(const std::string& text) {
    std::string name = text.empty() ? "_" : text;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool letter =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
        if (!letter && !(i > 0 && c >= '0' && c <= '9')) name[i] = '_';
    }
    return name;
}

std::string SnakeCase(const std::string& text) {
    std::string snake;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool upper = c >= 'A' && c <= 'Z';
        // A capital starts a word, unless it follows another (an acronym) and precedes no small
        // letter.
        const bool starts = upper && i > 0 &&
                            (!(text[i - 1] >= 'A' && text[i - 1] <= 'Z') ||
                             (i + 1 < text.size() && text[i + 1] >= 'a' && text[i + 1] <= 'z'));
        if (starts && snake.back() != '_') snake += '_';
        snake += upper ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return snake;
}

namespace {

// A label value's \ " and line feed escaped; HELP's \ and line feed.
std::string Escaped(const std::string& text, bool quotes) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quotes)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

}  // namespace

void Families::Add(const std::string& name, const char* help, const char* type,
                   const std::vector<Label>& labels, const std::string& value) {
    const std::string family = Name(name);
    std::string sample = family;
    for (size_t i = 0; i < labels.size(); ++i) {
        sample +=
            (i ? "," : "{") + Name(labels[i].name) + "=\"" + Escaped(labels[i].value, true) + "\"";
    }
    sample += (labels.empty() ? " " : "} ") + value;
    for (Family& known : families_) {
        if (known.name == family) return known.samples.push_back(sample);
    }
    families_.push_back({family, help, type, {sample}});
}

std::string Families::Text() const {
    std::string text;
    for (const Family& family : families_) {
        text += "# HELP " + family.name + " " + Escaped(family.help, false) + "\n";
        text += "# TYPE " + family.name + " " + family.type + "\n";
        for (const std::string& sample : family.samples) text += sample + "\n";
    }
    return text;
}

}  // namespace prom
