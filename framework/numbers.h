// Numbers as the host's texts carry them: read as far as they go or as
// whole integer text, and written with a '.' whatever the locale.
#pragma once

#include <stdint.h>

namespace vek {

constexpr int kInt32TextCapacity = 12;
constexpr int kUInt64TextCapacity = 21;
constexpr int kDoubleTextCapacity = 32;

bool IsIntegerText(const char* text);
int32_t ParseInteger(const char* text);
int32_t TextToInt32(const char* text);
int64_t TextToInt64(const char* text);
void Int32ToText(int32_t value, char* buffer);
void UInt64ToText(uint64_t value, char* buffer);
int FormatDouble(double value, char* buffer);

}  // namespace vek
