// English performance object and counter names to their index numbers, from
// the registry's list of pairs (index text, name) under Perflib\009.
#include "counter_index.h"
#include "owner.h"

namespace vek {

namespace {

constexpr char kCounterListKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009\\";
constexpr int kNameCapacity = 256;

// Copies one NUL-terminated string from data[*position] into out, stopping
// at its NUL, at capacity characters or at the end of the data. Returns the
// number of characters copied; the caller tests for capacity.
int CopyEntry(const char* data, DWORD size, DWORD* position, char* out, int capacity) {
    int count = 0;
    while (*position < size && count < capacity && data[*position] != '\0') {
        out[count++] = data[(*position)++];
    }
    return count;
}

}  // namespace

int CounterIndexWalk(const char* data, DWORD size, const char* name, char* indexText,
                     int capacity) {
    char entryName[kNameCapacity];
    DWORD position = 0;
    bool found = false;
    while (position < size) {
        int copied = CopyEntry(data, size, &position, indexText, capacity);
        if (copied == capacity) break;
        indexText[copied] = '\0';
        if (position < size) ++position;  // the index text's NUL

        copied = CopyEntry(data, size, &position, entryName, kNameCapacity);
        if (copied == kNameCapacity) break;
        entryName[copied] = '\0';
        if (lstrcmpA(entryName, name) == 0) {
            found = true;
            break;
        }
        if (position < size) ++position;  // the name's NUL
        if (position < size && data[position] == '\0') ++position;
    }
    if (!found && capacity > 0) indexText[0] = '\0';
    return found ? 1 : 0;
}

int CounterIndexLookup(const char* name, char* indexText, int capacity) {
    RegKeyOwner key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCounterListKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), "Counter", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
        return 0;
    }
    // Two spare zero bytes: the text always ends in a double NUL even when
    // the stored value lacks it.
    GlobalOwner block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + 2));
    if (!block) return 0;
    char* data = static_cast<char*>(GlobalLock(block.Get()));
    if (data == nullptr) return 0;
    GlobalLockOwner locked(block.Get());
    DWORD read = size;
    if (RegQueryValueExA(key.Get(), "Counter", nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                         &read) != ERROR_SUCCESS) {
        return 0;
    }
    // The value may have changed between the two queries; never walk beyond
    // the block.
    if (read > size) read = size;
    return CounterIndexWalk(data, read, name, indexText, capacity);
}

}  // namespace vek
