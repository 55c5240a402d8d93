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
