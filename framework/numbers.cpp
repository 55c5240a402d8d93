// Argument texts to numbers and numbers to result texts, in place, without
// allocating. The forms are fixed: scripts compare and split these texts.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "numbers.h"

namespace vek {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The white space that the C library's strtol skips.
bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Standard base-10 conversion with clamping, shared by both widths.
int64_t ClampedDecimal(const char* text, int64_t lowest, int64_t highest) {
    const char* p = text;
    while (IsCSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    // Accumulate the magnitude as unsigned so the most negative value fits.
    const uint64_t limit =
        negative ? static_cast<uint64_t>(-(lowest + 1)) + 1 : static_cast<uint64_t>(highest);
    uint64_t magnitude = 0;
    bool clamped = false;
    for (; IsDigit(*p); ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (clamped || magnitude > (limit - digit) / 10) {
            clamped = true;
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (clamped) return negative ? lowest : highest;
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

// msvcrt prints at least three exponent digits, MinGW's C99 printf two; the
// text scripts see has three whatever the runtime.
void WidenExponent(char* text, size_t capacity) {
    char* e = strchr(text, 'e');
    if (e == nullptr || (e[1] != '+' && e[1] != '-')) return;
    char* digits = e + 2;
    size_t count = strlen(digits);
    if (count >= 3) return;
    size_t pad = 3 - count;
    if (strlen(text) + pad + 1 > capacity) return;
    memmove(digits + pad, digits, count + 1);
    memset(digits, '0', pad);
}

}  // namespace

bool IsIntegerText(const char* text) {
    const char* p = text;
    while (*p == ' ') ++p;
    if (*p == '-' || *p == '+') ++p;
    while (IsDigit(*p)) ++p;
    return *p == '\0';
}

int32_t ParseInteger(const char* text) {
    const char* p = text;
    while (*p == ' ') ++p;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    } else if (*p == '+') {
        ++p;
    }
    uint32_t value = 0;  // wraps on overflow, by design
    for (; IsDigit(*p); ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

int32_t TextToInt32(const char* text) {
    return static_cast<int32_t>(ClampedDecimal(text, INT32_MIN, INT32_MAX));
}

int64_t TextToInt64(const char* text) { return ClampedDecimal(text, INT64_MIN, INT64_MAX); }

void UInt64ToText(uint64_t value, char* buffer) {
    char reversed[kUInt64TextCapacity];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < count; ++i) buffer[i] = reversed[count - 1 - i];
    buffer[count] = '\0';
}

void Int32ToText(int32_t value, char* buffer) {
    if (value < 0) {
        *buffer++ = '-';
        UInt64ToText(0u - static_cast<uint64_t>(static_cast<int64_t>(value)), buffer);
        return;
    }
    UInt64ToText(static_cast<uint64_t>(value), buffer);
}

namespace {

// MinGW's printf takes its decimal point from msvcrt's locale, which the
// whole process shares: a host that set a comma locale would get "2,5".
// Windows allows a decimal symbol of up to three characters, of which
// printf prints the first only, so the point is found where printf put it,
// after the sign and the leading digits, not by the locale's string; what
// stands there up to the next digit becomes '.'.
void PrintDouble(char* buffer, const char* format, double value) {
    snprintf(buffer, kDoubleTextCapacity, format, 8, value);
    char* point = buffer;
    if (*point == '-') ++point;
    while (*point >= '0' && *point <= '9') ++point;
    char* digits = point;
    while (*digits != '\0' && !(*digits >= '0' && *digits <= '9') && *digits != 'e') ++digits;
    if (digits == point) return;
    *point = '.';
    memmove(point + 1, digits, strlen(digits) + 1);
}

}  // namespace

int FormatDouble(double value, char* buffer) {
    // What printf makes of these differs between runtimes ("1.#QNAN0",
    // "nan", "-nan(ind)"); scripts get one spelling everywhere.
    if (isnan(value)) {
        strcpy(buffer, "nan");
        return 1;
    }
    if (isinf(value)) {
        strcpy(buffer, value < 0 ? "-inf" : "inf");
        return 1;
    }
    const double magnitude = value < 0 ? -value : value;
    if (magnitude > 999999999.0 || magnitude < 0.0001) {
        PrintDouble(buffer, "%#1.*e", value);
        WidenExponent(buffer, kDoubleTextCapacity);
        return 1;
    }
    PrintDouble(buffer, "%#1.*f", value);
    size_t length = strlen(buffer);
    while (length > 0 && buffer[length - 1] == '0') buffer[--length] = '\0';
    if (length > 0 && buffer[length - 1] == '.') {
        buffer[length] = '0';
        buffer[length + 1] = '\0';
    }
    return 1;
}

}  // namespace vek
