// Owners that release a resource when their scope ends.
#pragma once

#include <windows.h>

namespace vek {

// Releases what it holds when the scope ends, on every path, in the manner
// of WIL's unique_any: RegKeyOwner key; ... RegOpenKeyExA(..., key.Put()).
// `Invalid` is the kind's "nothing held": null for most, -1
// (INVALID_HANDLE_VALUE) for what CreateFile and the Toolhelp snapshot give.
// Each kind has its alias below, and code names the alias.
// Releases whose statuses a keyword reports, in an order it reports them,
// stay spelled out where they happen.
template <typename T, auto Free, INT_PTR Invalid = 0>
class Owner {
public:
    static T InvalidValue() { return reinterpret_cast<T>(Invalid); }

    Owner() = default;
    explicit Owner(T value) : value_(value) {}
    ~Owner() { Reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) : value_(other.Release()) {}
    Owner& operator=(Owner&& other) {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    T Get() const { return value_; }
    explicit operator bool() const { return value_ != InvalidValue(); }
    // For a call that writes the resource through a pointer.
    T* Put() {
        Reset();
        return &value_;
    }
    // Hands the resource over: the caller releases it from here.
    T Release() {
        const T value = value_;
        value_ = InvalidValue();
        return value;
    }
    // Releases what is held and takes `value` in its place.
    void Reset(T value = InvalidValue()) {
        if (value_ != InvalidValue()) Free(value_);
        value_ = value;
    }

private:
    T value_ = InvalidValue();
};

// Kernel handles: OpenProcess, DuplicateHandle and OpenProcessToken give
// null for none; CreateFile and CreateToolhelp32Snapshot give
// INVALID_HANDLE_VALUE, which is also the current process's pseudo-handle,
// so each kind has its own owner.
using HandleGuard = Owner<HANDLE, CloseHandle>;
using FileHandleGuard = Owner<HANDLE, CloseHandle, -1>;

inline void FreeProcessHeapBlock(void* block) { HeapFree(GetProcessHeap(), 0, block); }
template <typename T>
using HeapBlock = Owner<T*, FreeProcessHeapBlock>;

using LibraryGuard = Owner<HMODULE, FreeLibrary>;
using RegKeyOwner = Owner<HKEY, RegCloseKey>;
using GlobalOwner = Owner<HGLOBAL, GlobalFree>;
// A lock of a moveable global block, undone as the scope ends.
using GlobalLockOwner = Owner<HGLOBAL, GlobalUnlock>;
// What the shell gives with LocalAlloc (CommandLineToArgvW's block).
template <typename T>
using LocalOwner = Owner<T, LocalFree>;

}  // namespace vek
