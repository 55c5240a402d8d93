#include "script.h"

#include <stddef.h>
#include <string.h>

namespace pdhdouble {

Script* Attached() {
    HMODULE module = GetModuleHandleA("pdh.dll");
    if (!module) return nullptr;
    auto fn = reinterpret_cast<ScriptFn>(reinterpret_cast<void*>(GetProcAddress(module, "PdhDoubleScript")));
    return fn ? fn() : nullptr;
}

std::string CallNames(const Script& s) {
    std::string names;
    for (int i = 0; i < s.callCount; ++i) {
        if (i) names += ' ';
        names += s.calls[i].name;
    }
    return names;
}

void Forget(Script& s) {
    s.callCount = 0;
}

void Reset(Script& s) {
    memset(&s, 0, offsetof(Script, fullPath));  // the statuses and the record's fields
    s.formatFills = TRUE;
    s.valueCStatus = 0;
    s.parseSize = 0;
    s.callCount = 0;
}

}  // namespace pdhdouble
