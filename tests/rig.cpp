#include "rig.h"

#include <pdh.h>
#include <string.h>
#include <tlhelp32.h>

#include <map>
#include <set>
#include <vector>

namespace rig {

namespace {

void** FindSlot(HMODULE module, const char* dll, const char* function) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
        // The name table stays as linked; the address table is what the loader filled.
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

void* Exchange(void** slot, void* value) {
    DWORD old;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    void* previous = *slot;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return previous;
}

struct Served { const char* function; void* fake; void** original; };
std::vector<Served> served;

// What the extender holds that it acquired inside the open call, what it
// released, and the handles it gave the script, which a later call closes.
struct Books {
    bool open;
    std::set<void*> heap, global, handles, keys, queries, released;
    std::multiset<HMODULE> libraries;
    std::map<void*, void*> duplicates;  // of what
    std::string wrong;
} books;
std::set<void*> script;  // handed out to the script, across calls

// A value acquired again after its release (a block or key the system hands
// out anew) may be released again.
template <typename Set, typename Value>
void Acquired(Set& set, Value value) {
    if (!books.open || !value) return;
    set.insert(value);
    books.released.erase(reinterpret_cast<void*>(value));
}
// Whether the call acquired what it releases now.
template <typename Set, typename Value>
bool Released(Set& set, Value value) {
    auto at = set.find(value);
    if (at == set.end()) return false;
    set.erase(at);
    return true;
}
void Wrong(const std::string& what) { books.wrong += (books.wrong.empty() ? "" : ", ") + what; }
// A release that succeeded on what the call never acquired, or a second
// release of the same thing, is wrong whatever the system said.
template <typename Value>
void Judge(Value value, bool acquired, bool succeeded, const char* what) {
    void* v = reinterpret_cast<void*>(value);
    if (!books.open) return;
    if (!books.released.insert(v).second) {
        Wrong(std::string("a ") + what + " released twice");
    } else if (succeeded && !acquired && !script.erase(v)) {
        Wrong(std::string("a ") + what + " it did not acquire released");
    }
}

#define REAL(fn) decltype(&::fn) real##fn

REAL(HeapAlloc); REAL(HeapReAlloc); REAL(HeapFree); REAL(GlobalAlloc); REAL(GlobalFree);
REAL(OpenProcess); REAL(CloseHandle); REAL(DuplicateHandle); REAL(OpenProcessToken); REAL(OpenThreadToken); REAL(DuplicateTokenEx);
REAL(RegOpenKeyExA); REAL(RegQueryValueExA); REAL(RegCloseKey);
REAL(LoadLibraryExA); REAL(FreeLibrary); REAL(GetProcAddress);
decltype(&::CreateToolhelp32Snapshot) realSnapshot;
PDH_STATUS(WINAPI* realPdhOpenQuery)(LPCWSTR, DWORD_PTR, PDH_HQUERY*);
PDH_STATUS(WINAPI* realPdhCloseQuery)(PDH_HQUERY);

// The two common shapes of an accounting thunk over `real`, the function it
// stands in for: what the call returns is acquired; or what it writes
// through its last argument, where it reports success (a status of 0, or
// TRUE where `zeroIsSuccess` is false).
template <auto& real, auto set, typename R, typename... A>
R WINAPI Returning(A... args) {
    const R value = real(args...);
    Acquired(books.*set, value);
    return value;
}
template <auto& real, auto set, bool zeroIsSuccess, typename R, typename... A>
R WINAPI Writing(A... args) {
    const R result = real(args...);
    if ((result == 0) == zeroIsSuccess) Acquired(books.*set, *std::get<sizeof...(A) - 1>(std::tie(args...)));
    return result;
}
// A shape's instance with the type of the function it stands in for.
#define RETURNING(fn, set) static_cast<decltype(&::fn)>(&Returning<real##fn, &Books::set>)
#define WRITING(fn, set, zeroIsSuccess) static_cast<decltype(&::fn)>(&Writing<real##fn, &Books::set, zeroIsSuccess>)

LPVOID WINAPI CountHeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
    void* moved = realHeapReAlloc(heap, flags, block, bytes);
    if (moved && books.heap.count(block)) {
        books.heap.erase(block);
        books.heap.insert(moved);
    }
    return moved;
}
// A block is filled as it is freed, so that a read after the free reads the fill.
BOOL WINAPI CountHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    const bool acquired = Released(books.heap, block);
    if (acquired) memset(block, kFreedFill, HeapSize(heap, 0, block));
    const BOOL freed = realHeapFree(heap, flags, block);
    Judge(block, acquired, freed, "heap block");
    return freed;
}
// A text read from a block after it was freed reads as this fill.
HGLOBAL WINAPI CountGlobalFree(HGLOBAL block) {
    const bool acquired = Released(books.global, block);
    if (void* bytes = GlobalLock(block)) {
        memset(bytes, kFreedFill, GlobalSize(block));
        GlobalUnlock(block);
    }
    const HGLOBAL left = realGlobalFree(block);
    Judge(block, acquired, left == nullptr, "global block");
    return left;
}
BOOL WINAPI CountCloseHandle(HANDLE handle) {
    const bool acquired = Released(books.handles, handle);
    const BOOL closed = realCloseHandle(handle);
    Judge(handle, acquired, closed, "handle");
    return closed;
}
BOOL WINAPI CountDuplicateHandle(HANDLE from, HANDLE source, HANDLE to, LPHANDLE target, DWORD access, BOOL inherit, DWORD options) {
    const BOOL made = realDuplicateHandle(from, source, to, target, access, inherit, options);
    if (made && books.open) Acquired(books.handles, *target), books.duplicates[*target] = source;
    return made;
}
HANDLE WINAPI CountSnapshot(DWORD flags, DWORD id) {
    HANDLE snapshot = realSnapshot(flags, id);
    if (snapshot != INVALID_HANDLE_VALUE) Acquired(books.handles, snapshot);
    return snapshot;
}
// A read of the performance data opens that key until RegCloseKey, which
// lets the system unload its providers.
LSTATUS WINAPI CountRegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                     LPBYTE data, LPDWORD size) {
    if (key == HKEY_PERFORMANCE_DATA) Acquired(books.keys, key);
    return realRegQueryValueExA(key, name, reserved, type, data, size);
}
// The performance-data key is predefined: closing it is always allowed.
LSTATUS WINAPI CountRegCloseKey(HKEY key) {
    const bool acquired = Released(books.keys, key) || key == HKEY_PERFORMANCE_DATA;
    const LSTATUS status = realRegCloseKey(key);
    Judge(key, acquired, status == ERROR_SUCCESS, "registry key");
    return status;
}
BOOL WINAPI CountFreeLibrary(HMODULE module) {
    const bool acquired = Released(books.libraries, module);
    const BOOL freed = realFreeLibrary(module);
    // A library may be loaded more than once, so only its balance is judged.
    if (books.open && freed && !acquired) Wrong("a library it did not load released");
    return freed;
}
PDH_STATUS WINAPI CountPdhCloseQuery(PDH_HQUERY query) {
    const bool acquired = Released(books.queries, query);
    const PDH_STATUS status = realPdhCloseQuery(query);
    Judge(query, acquired, status == ERROR_SUCCESS, "PDH query");
    return status;
}

// Accounting wrappers of resolved functions, then the fakes a test serves.
FARPROC WINAPI Resolve(HMODULE module, LPCSTR name) {
    FARPROC entry = realGetProcAddress(module, name);
    if (IS_INTRESOURCE(name)) return entry;
    const Served counting[] = {
        {"CreateToolhelp32Snapshot", reinterpret_cast<void*>(CountSnapshot), reinterpret_cast<void**>(&realSnapshot)},
        {"PdhOpenQuery", reinterpret_cast<void*>(static_cast<decltype(realPdhOpenQuery)>(&Writing<realPdhOpenQuery, &Books::queries, true>)), reinterpret_cast<void**>(&realPdhOpenQuery)},
        {"PdhCloseQuery", reinterpret_cast<void*>(CountPdhCloseQuery), reinterpret_cast<void**>(&realPdhCloseQuery)},
    };
    for (const Served& c : counting) {
        if (entry && strcmp(c.function, name) == 0) {
            *c.original = reinterpret_cast<void*>(entry);
            entry = reinterpret_cast<FARPROC>(c.fake);
        }
    }
    for (const Served& s : served) {
        if (strcmp(s.function, name) != 0) continue;
        if (s.original) *s.original = reinterpret_cast<void*>(entry);
        entry = reinterpret_cast<FARPROC>(s.fake);
    }
    return entry;
}

struct Thunk {
    const char *dll, *function;
    void* thunk;
    void** real;
};
#define THUNK(dll, fn) {dll, #fn, reinterpret_cast<void*>(Count##fn), reinterpret_cast<void**>(&real##fn)}
#define SHAPED(dll, fn, thunk) {dll, #fn, reinterpret_cast<void*>(thunk), reinterpret_cast<void**>(&real##fn)}
const Thunk thunks[] = {
    SHAPED("KERNEL32.dll", HeapAlloc, RETURNING(HeapAlloc, heap)), THUNK("KERNEL32.dll", HeapReAlloc),
    THUNK("KERNEL32.dll", HeapFree), SHAPED("KERNEL32.dll", GlobalAlloc, RETURNING(GlobalAlloc, global)),
    THUNK("KERNEL32.dll", GlobalFree), SHAPED("KERNEL32.dll", OpenProcess, RETURNING(OpenProcess, handles)),
    THUNK("KERNEL32.dll", CloseHandle), THUNK("KERNEL32.dll", DuplicateHandle),
    SHAPED("ADVAPI32.dll", OpenProcessToken, WRITING(OpenProcessToken, handles, false)),
    SHAPED("ADVAPI32.dll", OpenThreadToken, WRITING(OpenThreadToken, handles, false)),
    SHAPED("ADVAPI32.dll", DuplicateTokenEx, WRITING(DuplicateTokenEx, handles, false)),
    SHAPED("ADVAPI32.dll", RegOpenKeyExA, WRITING(RegOpenKeyExA, keys, true)),
    THUNK("ADVAPI32.dll", RegQueryValueExA), THUNK("ADVAPI32.dll", RegCloseKey),
    SHAPED("KERNEL32.dll", LoadLibraryExA, RETURNING(LoadLibraryExA, libraries)), THUNK("KERNEL32.dll", FreeLibrary),
    {"KERNEL32.dll", "GetProcAddress", reinterpret_cast<void*>(Resolve),
     reinterpret_cast<void**>(&realGetProcAddress)},
};

// The literal's own terminator is the list's closing NUL.
const char kNames[] = "1\0" "1847\0" "2\0" "System\0" "230\0" "Process\0" "784\0" "ID Process\0";
}  // namespace
const std::string kWindowsCounterNames(kNames, sizeof kNames);

bool ServeCounterNames(const std::string& list, LPCSTR name, LPDWORD type, LPBYTE data,
                       LPDWORD size, LSTATUS* status) {
    if (name == nullptr || strcmp(name, "Counter") != 0) return false;
    const DWORD needed = static_cast<DWORD>(list.size());
    if (type) *type = REG_MULTI_SZ;
    const bool fits = data == nullptr || *size >= needed;
    if (data && fits) memcpy(data, list.data(), needed);
    // The list is served by the performance library, which leaves a size too
    // small as it was (HKEY_PERFORMANCE_TEXT's rule, as Windows keeps it).
    if (fits) *size = needed;
    *status = fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
    return true;
}

Patch::Patch(HMODULE module, const char* dll, const char* function, void* fake, void** original)
    : module_(module) {
    slot_ = module ? FindSlot(module, dll, function) : nullptr;
    if (!slot_) return;
    saved_ = Exchange(slot_, fake);
    if (original) *original = saved_;
}

Patch::~Patch() {
    // Only while the image it patched is still loaded.
    if (slot_ && GetModuleHandleA("vekproc.dll") == module_) Exchange(slot_, saved_);
}

Serve::Serve(const char* function, void* fake, void** original) {
    served.push_back({function, fake, original});
}
Serve::~Serve() { served.pop_back(); }

void Install(HMODULE module) {
    for (const Thunk& t : thunks) {
        void** slot = FindSlot(module, t.dll, t.function);
        if (slot && *slot != t.thunk) *t.real = Exchange(slot, t.thunk);
    }
}

void OpenBooks() {
    books = Books{};
    books.open = true;
}

std::string CloseBooks(HANDLE handedOut) {
    books.open = false;
    // A duplicate of what the script was given, the extender keeps beside it.
    if (books.handles.erase(handedOut)) script.insert(handedOut);
    for (const auto& [copy, of] : books.duplicates) {
        if (of == handedOut && books.handles.erase(copy)) script.insert(copy);
    }
    std::string left = books.wrong;
    auto note = [&left](size_t count, const char* what) {
        if (count) left += (left.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    };
    note(books.heap.size(), "heap block(s)");
    note(books.global.size(), "global block(s)");
    note(books.handles.size(), "handle(s)");
    note(books.keys.size(), "registry key(s)");
    note(books.libraries.size(), "library reference(s)");
    note(books.queries.size(), "PDH query(ies)");
    return left;
}

}  // namespace rig
