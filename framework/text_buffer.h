// A bounded text: the result buffers every list and record is built in.
#pragma once

#include <stddef.h>
#include <string.h>

namespace vek {

// Appends never write past capacity; a piece that does not fit is refused
// whole, so a list can end at its last complete item.
struct TextBuffer {
    char* text;
    size_t capacity;  // characters, terminator included
    size_t length;

    void Clear() {
        length = 0;
        text[0] = '\0';
    }
    bool Append(const char* piece) {
        const size_t add = strlen(piece);
        if (length + add + 1 > capacity) return false;
        memcpy(text + length, piece, add + 1);
        length += add;
        return true;
    }
    bool AppendChar(char c) {
        if (length + 2 > capacity) return false;
        text[length++] = c;
        text[length] = '\0';
        return true;
    }
    void Truncate(size_t newLength) {
        length = newLength;
        text[length] = '\0';
    }
};

}  // namespace vek
