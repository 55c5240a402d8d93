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
    Outcome first = host.Call(kGetData, {kUpTime, "0"});
    ASSERT_EQ(first.status, 0) << first.text;
    EXPECT_EQ(first.type, 1);
    Sleep(1100);
    Outcome second = host.Call(kGetData, {kUpTime, "0"});
    EXPECT_GT(second.value, first.value);

    Outcome text = host.Call(kGetData, {kUpTime, "1"});
    ASSERT_EQ(text.status, 0) << text.text;
    EXPECT_EQ(text.type, 2);
    EXPECT_TRUE(IsFormattedDouble(text.text)) << text.text;
}

TEST_F(Counters, ProcessorTimeInBothFormats) {
    Outcome asLong = host.Call(kGetData, {kProcessor, "0"});
    EXPECT_EQ(asLong.status, 0) << asLong.text;
    EXPECT_EQ(asLong.type, 1);
    Outcome asText = host.Call(kGetData, {kProcessor, "1"});
    EXPECT_EQ(asText.status, 0) << asText.text;
    EXPECT_TRUE(IsFormattedDouble(asText.text)) << asText.text;
}

// Wine's PDH answers every path it does not know, unparsable ones included,
// with PDH_CSTATUS_NO_COUNTER; the path's message comes before the flag's.
TEST_F(Counters, UnknownPathsGiveTheirMessageBeforeTheFlagIsLookedAt) {
    for (const char* path : {"\\Nothing\\Turns", "\\System\\No Such Counter", "no backslash", ""}) {
        for (const char* flag : {"0", "2", "abc"}) {
            EXPECT_EQ(host.Text(kGetData, {path, flag}), "223: The specified counter was not found.")
                << path << " " << flag;
            EXPECT_EQ(host.LastError(), 0xC0000BB9u);
        }
    }
}

TEST_F(Counters, TheFlagIsReadOnlyAfterAValidPath) {
    EXPECT_EQ(host.Text(kGetData, {kUpTime, "2"}), "203: Invalid flag(s) specified.");
    EXPECT_EQ(host.Text(kGetData, {kUpTime, "-1"}), "203: Invalid flag(s) specified.");
    EXPECT_EQ(host.Text(kGetData, {kUpTime, "abc"}), "205: Invalid parameter type. ");
    EXPECT_EQ(host.Text(kGetData, {kUpTime, "\t1"}), "205: Invalid parameter type. ");
    EXPECT_EQ(host.Text(kGetData, {kUpTime, "1 "}), "205: Invalid parameter type. ");
    EXPECT_EQ(host.Call(kGetData, {kUpTime, " 1"}).type, 2);
    Outcome empty = host.Call(kGetData, {kUpTime, ""});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.type, 1);
}

TEST_F(Counters, APathLongerThanPdhAcceptsIsRefusedBeforePdhSeesIt) {
    EXPECT_EQ(host.Text(kGetData, {std::string(10000, 'x'), "0"}), "222: Invalid Counter Name.");
    EXPECT_EQ(host.LastError(), 0xC0000BC0u);
}
