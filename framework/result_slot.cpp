// A keyword call's arguments as text, and its result: an integer, a text,
// or the call's own result buffer.
#include <string.h>

#include "keyword_call.h"

namespace vek {

namespace {

// Argument n's text pointer lies at byte 56 * n + 40 of the slot array.
constexpr int kMaxArgs = 3;

}  // namespace

const char* ArgText(const KeywordCall& call, int index) {
    if (index < 0 || index >= kMaxArgs) return "";
    const char* text;
    memcpy(&text, call.slots + sizeof(ArgSlot) * index + offsetof(ArgSlot, text), sizeof text);
    return text ? text : "";
}

void SetInteger(KeywordCall& call, int32_t value) {
    call.result->value = value;
    call.result->type = kResultInteger;
}

void SetString(KeywordCall& call, const char* text) {
    call.result->type = kResultString;
    call.result->text = text;
}

TextBuffer ResultBuffer(KeywordCall& call) {
    TextBuffer buffer = {call.resultText, kResultTextCapacity, 0};
    buffer.Clear();
    return buffer;
}

}  // namespace vek
