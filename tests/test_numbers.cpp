// The number routines, as tables of input and expected output.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>

#include "numbers.h"

using namespace vek;

TEST(Numbers, IsIntegerText) {
    for (const char* yes : {"", " ", "   ", "-", "+", " -12", "0", "123", "+7", "99999999999"}) {
        EXPECT_TRUE(IsIntegerText(yes)) << '"' << yes << '"';
    }
    for (const char* no : {"12 ", "1.5", "0x1F", "--5", "+-5", "\t1", "12a", "a", "1 2"}) {
        EXPECT_FALSE(IsIntegerText(no)) << '"' << no << '"';
    }
}

TEST(Numbers, ParseIntegerWraps) {
    struct { const char* text; int32_t value; } rows[] = {
        {" +784", 784}, {"-5", -5}, {"12ab", 12}, {"abc", 0}, {"", 0}, {"4294967297", 1},
        {"2147483648", INT32_MIN}, {"   -0", 0}, {"\t5", 0},
    };
    for (const auto& r : rows) EXPECT_EQ(ParseInteger(r.text), r.value) << r.text;
}

TEST(Numbers, TextToIntegersClampLikeTheCLibrary) {
    struct { const char* text; int32_t value; } rows32[] = {
        {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"  42xyz", 42},
        {"\t\n\v\f\r 7", 7}, {"+-1", 0}, {"", 0}, {"-2147483648", INT32_MIN},
        {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"000123", 123}, {"-2147483649", INT32_MIN},
    };
    for (const auto& r : rows32) EXPECT_EQ(TextToInt32(r.text), r.value) << r.text;
    struct { const char* text; int64_t value; } rows64[] = {
        {"9223372036854775807", INT64_MAX}, {"9223372036854775808", INT64_MAX},
        {"-9223372036854775808", INT64_MIN}, {"-99999999999999999999", INT64_MIN},
        {"-1", -1}, {"4294967296", 4294967296LL},
    };
    for (const auto& r : rows64) EXPECT_EQ(TextToInt64(r.text), r.value) << r.text;
    const std::string nines(100000, '9');
    EXPECT_EQ(TextToInt64(nines.c_str()), INT64_MAX);
    EXPECT_EQ(TextToInt32(("-" + nines).c_str()), INT32_MIN);
}

TEST(Numbers, IntegersToText) {
    char text[kUInt64TextCapacity];
    struct { int32_t value; const char* text; } rows32[] = {
        {0, "0"}, {-1, "-1"}, {INT32_MIN, "-2147483648"}, {INT32_MAX, "2147483647"}, {784, "784"},
    };
    for (const auto& r : rows32) { Int32ToText(r.value, text); EXPECT_STREQ(text, r.text); }
    const std::pair<uint64_t, const char*> rows64[] = {{UINT64_MAX, "18446744073709551615"}, {0, "0"}};
    for (const auto& [value, expected] : rows64) { UInt64ToText(value, text); EXPECT_STREQ(text, expected) << value; }
}

TEST(Numbers, FormatDoubleGivesTheSameTextOnAnyRuntime) {
    struct { double value; const char* text; } rows[] = {
        {0, "0.00000000e+000"},     {1, "1.0"},
        {2.5, "2.5"},               {-3.25, "-3.25"},
        {100, "100.0"},             {12.3456789012, "12.3456789"},
        {0.0001, "0.0001"},         {0.00005, "5.00000000e-005"},
        {999999999, "999999999.0"}, {1234567890, "1.23456789e+009"},
        {-1234567890, "-1.23456789e+009"}, {1e300, "1.00000000e+300"},
        {-999999999, "-999999999.0"}, {1e-300, "1.00000000e-300"},
        {NAN, "nan"}, {INFINITY, "inf"}, {-INFINITY, "-inf"},
        {0.123456789, "0.12345679"}, {-2.000000016, "-2.00000002"},  // eight decimals, rounded
        {nextafter(999999999.0, 1e10), "9.99999999e+008"}, {nextafter(0.0001, 0.0), "1.00000000e-004"},
    };
    for (const auto& r : rows) {
        char text[kDoubleTextCapacity];
        memset(text, 'x', sizeof text);
        EXPECT_EQ(FormatDouble(r.value, text), 1);
        EXPECT_STREQ(text, r.text) << r.value;
    }
}
