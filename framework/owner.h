// Owners that release a resource when their scope ends.
#pragma once

#include <windows.h>

namespace vek {

// Releases what it holds when the scope ends, on every path, in the manner
// of WIL's unique_any: Owner<HKEY, RegCloseKey> key; ... RegOpenKeyExA(...,
// key.Put()). Releases whose statuses a keyword reports, in an order it
// reports them, stay spelled out where they happen.
template <typename T, auto Free>
class Owner {
public:
    Owner() = default;
    explicit Owner(T value) : value_(value) {}
    ~Owner() { Reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    T Get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    T* Put() {
        Reset();
        return &value_;
    }
    // Hands the resource over: the caller releases it from here.
    T Release() {
        T value = value_;
        value_ = T{};
        return value;
    }
    void Reset() {
        if (value_ != T{}) Free(value_);
        value_ = T{};
    }

private:
    T value_ = T{};
};

// Kernel handles, whose failed opens give null or INVALID_HANDLE_VALUE.
inline void CloseValidHandle(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}
using HandleGuard = Owner<HANDLE, CloseValidHandle>;

inline void FreeProcessHeapBlock(void* block) { HeapFree(GetProcessHeap(), 0, block); }

}  // namespace vek
