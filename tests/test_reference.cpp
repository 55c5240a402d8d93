// Every vekrun example of the keyword reference, run, its output compared
// in shape with what the reference shows, so the two cannot drift apart.
//
// Shape: a run of digits stands for any number, a run of blanks for any
// blanks, "<path>" for any text without a tab or "|"; a line "..." allows
// more lines shaped like the one before, and a line ending in a tab and
// "..." more entries shaped like its last one.
#include <gtest/gtest.h>

#include <stdio.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "host.h"

using namespace test;

namespace {

struct Example {
    std::string command;  // what follows "$ vekrun "
    std::vector<std::string> expected;
    bool withDouble;
};

std::vector<Example> ReadExamples() {
    std::ifstream in(std::string("Z:") + VEK_SOURCE_DIR "/docs/keywords.md");
    std::vector<Example> examples;
    std::string line;
    bool inBlock = false, withDouble = false;
    while (std::getline(in, line)) {
        if (!inBlock && (line == "```console" || line == "```double")) {
            inBlock = true;
            withDouble = line == "```double";
        } else if (inBlock && line == "```") {
            inBlock = false;
        } else if (inBlock && line.rfind("$ vekrun ", 0) == 0) {
            examples.push_back({line.substr(9), {}, withDouble});
        } else if (inBlock && !examples.empty()) {
            examples.back().expected.push_back(line);
        }
    }
    return examples;
}

std::string Pattern(const std::string& shape) {
    std::string out;
    for (size_t i = 0; i < shape.size();) {
        const char c = shape[i];
        if (isdigit(static_cast<unsigned char>(c))) {
            while (i < shape.size() && isdigit(static_cast<unsigned char>(shape[i]))) ++i;
            out += "[0-9]+";
        } else if (c == ' ') {
            while (i < shape.size() && shape[i] == ' ') ++i;
            out += " +";
        } else if (shape.compare(i, 6, "<path>") == 0) {
            out += "[^\t|]+";
            i += 6;
        } else {
            if (strchr("\\^$.|?*+()[]{}", c)) out += '\\';
            out += c;
            ++i;
        }
    }
    return out;
}

bool LineMatches(const std::string& expected, const std::string& actual) {
    const std::string more = "\t...";
    if (expected.size() > more.size() &&
        expected.compare(expected.size() - more.size(), more.size(), more) == 0) {
        const std::string head = expected.substr(0, expected.size() - more.size());
        const std::string last = head.substr(head.rfind('\t') + 1);
        return std::regex_match(actual, std::regex(Pattern(head) + "(\t" + Pattern(last) + ")*"));
    }
    return std::regex_match(actual, std::regex(Pattern(expected)));
}

bool Matches(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    size_t a = 0;
    for (size_t e = 0; e < expected.size(); ++e) {
        if (expected[e] == "...") {
            while (a < actual.size() && e > 0 && LineMatches(expected[e - 1], actual[a])) ++a;
            continue;
        }
        if (a >= actual.size() || !LineMatches(expected[e], actual[a])) return false;
        ++a;
    }
    return a == actual.size();
}

// The command's words as vekrun's own script syntax splits them.
std::string CommandLine(const std::string& program, const std::string& command) {
    std::string line = "\"" + program + "\"";
    for (size_t i = 0; i < command.size();) {
        while (i < command.size() && command[i] == ' ') ++i;
        if (i >= command.size()) break;
        std::string word;
        if (command[i] == '"') {
            size_t close = command.find('"', i + 1);
            word = command.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < command.size() && command[i] != ' ') word += command[i++];
        }
        // Windows' argument rules: backslashes are literal unless before a quote.
        if (!word.empty() && word.back() == '\\') word += '\\';
        line += " \"" + word + "\"";
    }
    return line;
}

}  // namespace

// The reference's keyword table is the registry's, row for row.
TEST(Reference, TheKeywordTableIsTheRegistrys) {
    std::ifstream in(std::string("Z:") + VEK_SOURCE_DIR "/docs/keywords.md");
    std::string line, table, registry;
    while (std::getline(in, line)) {
        if (std::regex_match(line, std::regex("\\| [0-9]+ \\| `.*"))) table += line + "\n";
    }
#define VEK_DOC_FUNCTION(id, function, args, ...) registry += "| " #id " | `" #function "` | " + std::string(args) + (*args ? " |\n" : "|\n");
#define VEK_DOC_CONSTANT(id, name, value, ...) registry += "| " #id " | `" name "` | a constant, " #value " |\n";
    VEK_KEYWORDS(VEK_DOC_FUNCTION, VEK_DOC_CONSTANT)
    EXPECT_EQ(table, registry);
}

TEST(Reference, EveryExampleGivesOutputOfTheShapeItShows) {
    const std::vector<Example> examples = ReadExamples();
    ASSERT_GE(examples.size(), 25u) << "docs/keywords.md not found or without examples";
    const std::string doubleFolder = Directory() + "pdh_double_vekrun\\";
    CreateDirectoryA(doubleFolder.c_str(), nullptr);
    CopyFileA((Directory() + "pdh_full\\pdh.dll").c_str(), (doubleFolder + "pdh.dll").c_str(), FALSE);
    CopyBesideDouble(doubleFolder + "vekrun.exe");
    CopyFileA((Directory() + "vekproc.dll").c_str(), (doubleFolder + "vekproc.dll").c_str(), FALSE);
    SetEnvironmentVariableA("WINEDLLOVERRIDES", "pdh=n;mscoree,mshtml=");

    for (const Example& example : examples) {
        std::vector<std::string> expected = example.expected;
        while (!expected.empty() && expected.back().empty()) expected.pop_back();
        const std::string program = (example.withDouble ? doubleFolder : Directory()) + "vekrun.exe";
        std::string out, err;
        test::Run(CommandLine(program, example.command), &out, &err);
        std::string all = out + err;
        std::vector<std::string> actual;
        for (std::string& l : Split(all, '\n')) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            actual.push_back(l);
        }
        while (!actual.empty() && actual.back().empty()) actual.pop_back();
        std::string shown;
        for (const std::string& l : actual) shown += l + "\n";
        EXPECT_TRUE(Matches(expected, actual)) << "$ vekrun " << example.command << "\n" << shown;
    }
    RemoveCopy(doubleFolder + "vekrun.exe");
    for (const char* file : {"pdh.dll", "vekproc.dll"}) DeleteFileA((doubleFolder + file).c_str());
    RemoveDirectoryA(doubleFolder.c_str());
}
