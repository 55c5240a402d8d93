// The import-table rig: a test replaces a function that the loaded extender
// imports, by DLL and name, for one scope, and every other call goes on to
// the system. Functions the extender resolves at run time (PSAPI, Toolhelp,
// PDH, the shell folder) are reached through its GetProcAddress, so a fake
// served by name must be in place before initialise resolves it.
//
// The rig also keeps the books of what the extender acquires and releases
// inside one keyword call; Host::Call opens and checks them.
#pragma once

#include <windows.h>

#include <string>

namespace rig {

// Replaces dll!function in module's import address table until the scope
// ends. `original` (may be null) receives what the slot held, so the fake
// can pass calls on.
class Patch {
public:
    Patch(HMODULE module, const char* dll, const char* function, void* fake,
          void** original = nullptr);
    template <class F>  // checked against the function's own type
    Patch(HMODULE module, const char* dll, const char* function, F* fake, F** original = nullptr)
        : Patch(module, dll, function, reinterpret_cast<void*>(fake), reinterpret_cast<void**>(original)) {}
    ~Patch();
    Patch(const Patch&) = delete;
    Patch& operator=(const Patch&) = delete;
    bool Active() const { return slot_ != nullptr; }

private:
    HMODULE module_;
    void** slot_ = nullptr;
    void* saved_ = nullptr;
};

// Serves `fake` whenever the extender resolves `function` by name, until
// the scope ends; `original` receives what the system would have given.
class Serve {
public:
    Serve(const char* function, void* fake, void** original = nullptr);
    ~Serve();
    Serve(const Serve&) = delete;
    Serve& operator=(const Serve&) = delete;
};

// Counts the calls of one fake; fails the Nth (1-based; 0 never).
struct Fault {
    int failAt = 0;
    int calls = 0;
    bool Now() { return ++calls == failAt; }
};

// Windows' English counter names for the listing (Perflib\009's "Counter",
// pairs of index and name, closing NUL included), which Wine's fixed list
// lacks.
extern const std::string kWindowsCounterNames;

// Answers a read of the value "Counter" from `list` as Windows does (size
// query, read, ERROR_MORE_DATA with the size left alone for a small buffer) into *status;
// false for any other value, which the caller passes on.
bool ServeCounterNames(const std::string& list, LPCSTR name, LPDWORD type, LPBYTE data,
                       LPDWORD size, LSTATUS* status);

// The accounting thunks in module's import table, once per loaded image.
void Install(HMODULE module);

// Opens the books for one keyword call, and closes them: the text names
// what was left unreleased, released twice or released without having been
// acquired (but for a handle an earlier call gave the script), empty when
// the call was balanced. `handedOut` is a handle the call gives to the
// script, which it may keep.
void OpenBooks();
std::string CloseBooks(HANDLE handedOut);

// The byte a heap or global block is filled with as the extender frees it.
constexpr unsigned char kFreedFill = 0xDD;

}  // namespace rig
