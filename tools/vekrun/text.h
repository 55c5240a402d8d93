// Words and codes as text, for every part of vekrun.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace vekrun {

std::string Lower(std::string text);
// "error 87: The parameter is incorrect" or "PDH status 0xC0000BB9: ...": a
// kept code in words, from the system's message table or PDH's; inserts
// such as %1 get `insert`. Empty for code 0.
std::string CodeText(int32_t code, const std::string& insert = std::string());
// The system's own words for an error code, without the line break; empty
// when it has none.
std::string SystemText(DWORD code);
std::vector<std::string> SplitText(const std::string& text, char separator);

// Whether UTF-8 `text` matches `pattern` whole, in any case: * any run of
// characters, ? any one.
bool MatchesWildcard(const std::string& pattern, const std::string& text);

// UTF-16 text of `units` units as UTF-8.
std::string Utf8Of(const wchar_t* text, size_t units);

// UTF-16 as ANSI without best fit; false when the code page lacks a character.
bool ToAnsi(const std::wstring& wide, std::string& ansi);

}  // namespace vekrun
