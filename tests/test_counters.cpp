// Counter sampling on Wine's own PDH, which knows two counters.
#include <gtest/gtest.h>

#include "host.h"

using namespace test;

namespace {

const char kUpTime[] = "\\System\\System Up Time";
const char kProcessor[] = "\\Processor(_Total)\\% Processor Time";

class Counters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(host.Initialise(), 19); }
    void TearDown() override { host.Terminate(); }
    Host host;
};

// FormatDouble's two forms: fixed with one to eight decimals, or exponent.
bool IsFormattedDouble(const std::string& text) {
    size_t point = text.find('.');
    if (point == std::string::npos || point == 0) return false;
    size_t e = text.find('e');
    if (e != std::string::npos) {
        return e == point + 9 && text.size() >= e + 5 && (text[e + 1] == '+' || text[e + 1] == '-');
    }
    return text.size() > point + 1 && text.size() <= point + 9 &&
           (text.back() != '0' || text.size() == point + 2);
}

}  // namespace

TEST_F(Counters, UpTimeAsIntegerGrowsAndAsTextHasTheFormattersForm) {
    Outcome first = host.Call(tGetData, {kUpTime, "0"});
    ASSERT_EQ(first.status, 0) << first.text;
    EXPECT_EQ(first.type, 1);
    Sleep(1100);
    Outcome second = host.Call(tGetData, {kUpTime, "0"});
    EXPECT_GT(second.value, first.value);

    Outcome text = host.Call(tGetData, {kUpTime, "1"});
    ASSERT_EQ(text.status, 0) << text.text;
    EXPECT_EQ(text.type, 2);
    EXPECT_TRUE(IsFormattedDouble(text.text)) << text.text;
}

// Each path and format: the message, or the result's type. Wine's PDH
// answers every path it does not know, unparsable ones included, with
// PDH_CSTATUS_NO_COUNTER; the path's message comes before the format's.
TEST_F(Counters, EachPathAndFormatGivesItsMessageOrItsType) {
    VEK_UNDER_WINE_ONLY("Wine's PDH answers every path it does not know with PDH_CSTATUS_NO_COUNTER");
    const char* const k223 = "223: The specified counter was not found.";
    const char* const k203 = "203: Invalid flag(s) specified.";
    const char* const k205 = "205: Invalid parameter type. ";
    struct { const char* path; const char* flag; const char* text; int type; } rows[] = {
        {kProcessor, "0", "", 1}, {kProcessor, "1", "", 2}, {kUpTime, " 1", "", 2}, {kUpTime, "", "", 1},
        {kUpTime, "2", k203}, {kUpTime, "2x", k203}, {kUpTime, "-1", k203}, {kUpTime, "abc", k205}, {kUpTime, "\t1", k205}, {kUpTime, "1 ", k205},
        {"\\Nothing\\Turns", "0", k223}, {"\\Nothing\\Turns", "2", k223}, {"\\Nothing\\Turns", "abc", k223},
        {"\\System\\No Such Counter", "2", k223}, {"no backslash", "abc", k223}, {"", "0", k223},
    };
    for (const auto& row : rows) {
        Outcome o = host.Call(tGetData, {row.path, row.flag});
        EXPECT_EQ(o.status == 0 ? "" : o.text, row.text) << row.path << " " << row.flag;
        if (row.type) EXPECT_EQ(o.type, row.type) << row.path << " " << row.flag;
        if (row.type == 2) EXPECT_TRUE(IsFormattedDouble(o.text)) << o.text;
        if (row.text == k223) EXPECT_EQ(host.LastError(), 0xC0000BB9u) << row.path;
    }
}
