// Performance data shaped as Windows serves it, which Wine's provider
// interface cannot: several objects in any order, a decoy counter ahead of
// "ID Process", records at any offset. Each instance is followed by its
// name (UTF-16, NUL, padded to 8) and a 24-byte counter block holding the
// decoy value 999 at 8 and the id, 8 bytes wide, at 16.
#pragma once

#include <windows.h>
#include <winperf.h>

#include <string.h>

#include <string>
#include <vector>

namespace perfdata {

struct Counter { DWORD index, offset; };
struct Instance { std::wstring name; DWORD id; DWORD nameLength = 0; };  // 0: with its NUL
struct Object {
    DWORD index;
    std::vector<Counter> counters;
    std::vector<Instance> instances;
};

// `shift` bytes after the data block's header put every record that
// follows at an odd offset; `claimed` (-1: the true number) is the object
// count the header gives.
inline std::string Build(const std::vector<Object>& objects, DWORD shift = 0, LONG claimed = -1) {
    std::string out(sizeof(PERF_DATA_BLOCK) + shift, '\0');
    auto put = [&out](size_t at, const void* bytes, size_t size) {
        if (out.size() < at + size) out.resize(at + size);
        memcpy(&out[at], bytes, size);
    };
    for (const Object& o : objects) {
        const size_t at = out.size();
        PERF_OBJECT_TYPE type = {};
        type.HeaderLength = sizeof type;
        type.DefinitionLength = static_cast<DWORD>(sizeof type + o.counters.size() * sizeof(PERF_COUNTER_DEFINITION));
        type.ObjectNameTitleIndex = o.index;
        type.NumCounters = static_cast<LONG>(o.counters.size());
        type.NumInstances = static_cast<LONG>(o.instances.size());
        for (size_t i = 0; i < o.counters.size(); ++i) {
            PERF_COUNTER_DEFINITION def = {};
            def.ByteLength = sizeof def;
            def.CounterNameTitleIndex = o.counters[i].index;
            def.CounterSize = 8;
            def.CounterOffset = o.counters[i].offset;
            put(at + sizeof type + i * sizeof def, &def, sizeof def);
        }
        size_t next = at + type.DefinitionLength;
        for (const Instance& instance : o.instances) {
            const DWORD nameBytes = static_cast<DWORD>((instance.name.size() + 1) * sizeof(WCHAR));
            PERF_INSTANCE_DEFINITION def = {};
            def.ByteLength = sizeof def + ((nameBytes + 7) & ~7u);
            def.NameOffset = sizeof def;
            def.NameLength = instance.nameLength ? instance.nameLength : nameBytes;
            def.UniqueID = PERF_NO_UNIQUE_ID;
            put(next, &def, sizeof def);
            put(next + sizeof def, instance.name.c_str(), nameBytes);
            const DWORD block[6] = {24, 0, 999, 0, instance.id, 0};
            put(next + def.ByteLength, block, sizeof block);
            next += def.ByteLength + sizeof block;
        }
        type.TotalByteLength = static_cast<DWORD>(next - at);
        put(at, &type, sizeof type);
    }
    PERF_DATA_BLOCK header = {};
    memcpy(header.Signature, L"PERF", sizeof header.Signature);
    header.TotalByteLength = static_cast<DWORD>(out.size());
    header.HeaderLength = sizeof header + shift;
    header.NumObjectTypes = claimed < 0 ? static_cast<DWORD>(objects.size()) : static_cast<DWORD>(claimed);
    put(0, &header, sizeof header);
    return out;
}

// The Process object (230), "ID Process" (784) behind a decoy (6); the
// Thread object (232), which carries an "ID Process" counter too.
inline Object Process(std::vector<Instance> instances) {
    return {230, {{6, 8}, {784, 16}}, std::move(instances)};
}
inline Object Thread() { return {232, {{784, 16}}, {{L"thread0", 4444}, {L"thread1", 5555}}}; }

// A counter-name list as the registry holds it: each string and its NUL,
// and the list's own NUL unless `finalNul` is false.
inline std::string Pairs(std::initializer_list<const char*> strings, bool finalNul = true) {
    std::string list;
    for (const char* s : strings) list.append(s, strlen(s) + 1);
    return finalNul ? list + '\0' : list;
}

}  // namespace perfdata
