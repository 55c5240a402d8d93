#include "script.h"

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

}  // namespace pdhdouble
