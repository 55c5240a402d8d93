// A performance provider that serves the "Process" object (230) with its
// "ID Process" counter (784), shaped as Windows serves it: one instance per
// process, names without ".exe", "Idle" with id 0 first, "_Total" with id 0
// last, each instance followed by its counter block.
//
// The environment variable VEKPERF_SCENARIO, read in the querying process,
// replaces the running processes with crafted data for tests:
//   list:NAME=ID,NAME=ID,...   exactly these instances ("=77" has no name)
//   many:N                     N instances process0 ... with ids 1000 + i
//   none                       no object at all
//   noid                       the object without an "ID Process" counter
//   nooffset                   "ID Process" with the offset -1
//   bad:KIND                   malformed data: header, counters, deflen,
//                              instlen, nameoff, cblen, count
#include <windows.h>
#include <winperf.h>
#include <tlhelp32.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD kProcessObject = 230;
constexpr DWORD kIdProcessCounter = 784;

struct Instance {
    std::wstring name;
    DWORD id;
};

// On the heap: the collector runs on the querying thread, whose stack is the
// host's, as Windows' own providers do.
std::string Scenario() {
    const DWORD size = GetEnvironmentVariableA("VEKPERF_SCENARIO", nullptr, 0);
    std::string buffer(size, '\0');
    const DWORD length = size ? GetEnvironmentVariableA("VEKPERF_SCENARIO", &buffer[0], size) : 0;
    return length && length < size ? buffer.substr(0, length) : std::string();
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

std::vector<Instance> RunningProcesses() {
    std::vector<Instance> list;
    list.push_back({L"Idle", 0});
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            if (entry.th32ProcessID != 0) {
                std::wstring name = entry.szExeFile;
                size_t dot = name.rfind(L'.');
                if (dot != std::wstring::npos && _wcsicmp(name.c_str() + dot, L".exe") == 0) {
                    name.resize(dot);
                }
                list.push_back({name, entry.th32ProcessID});
            }
            entry.dwSize = sizeof entry;
        }
        CloseHandle(snapshot);
    }
    list.push_back({L"_Total", 0});
    return list;
}

std::vector<Instance> ListedProcesses(const std::string& items) {
    std::vector<Instance> list;
    size_t start = 0;
    while (start < items.size()) {
        size_t comma = items.find(',', start);
        std::string item =
            items.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t eq = item.rfind('=');
        if (eq != std::string::npos) {
            list.push_back({Widen(item.substr(0, eq)),
                            static_cast<DWORD>(strtoul(item.c_str() + eq + 1, nullptr, 10))});
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return list;
}

void Put(std::vector<BYTE>& out, size_t offset, const void* data, size_t size) {
    memcpy(out.data() + offset, data, size);
}

PERF_COUNTER_DEFINITION RawCounter(DWORD index, DWORD offset) {
    PERF_COUNTER_DEFINITION counter = {};
    counter.ByteLength = sizeof(PERF_COUNTER_DEFINITION);
    counter.CounterNameTitleIndex = index;
    counter.CounterType = PERF_COUNTER_RAWCOUNT;
    counter.CounterSize = sizeof(DWORD);
    counter.CounterOffset = offset;
    return counter;
}

// One instance: its definition, its name (UTF-16, NUL, padded to 8) and its
// counter block (the first counter, then the id).
constexpr DWORD kBlockLength = sizeof(PERF_COUNTER_BLOCK) + 2 * sizeof(DWORD);
void AppendInstance(std::vector<BYTE>& out, const Instance& instance) {
    const DWORD nameBytes = static_cast<DWORD>((instance.name.size() + 1) * sizeof(WCHAR));
    const DWORD padded = (nameBytes + 7) & ~7u;
    PERF_INSTANCE_DEFINITION def = {};
    def.ByteLength = sizeof def + padded;
    def.NameOffset = sizeof def;
    def.NameLength = instance.name.empty() ? 0 : nameBytes;
    def.UniqueID = PERF_NO_UNIQUE_ID;
    const size_t at = out.size();
    out.resize(at + def.ByteLength + kBlockLength);
    Put(out, at, &def, sizeof def);
    Put(out, at + sizeof def, instance.name.c_str(), nameBytes);
    PERF_COUNTER_BLOCK block = {};
    block.ByteLength = kBlockLength;
    Put(out, at + def.ByteLength, &block, sizeof block);
    DWORD values[2] = {0, instance.id};
    Put(out, at + def.ByteLength + sizeof block, values, sizeof values);
}

// Lengths and counts that point outside the data, as the scenario names.
void Corrupt(std::vector<BYTE>& out, const std::string& scenario, bool withInstances) {
    PERF_OBJECT_TYPE* header = reinterpret_cast<PERF_OBJECT_TYPE*>(out.data());
    const size_t first = header->DefinitionLength;
    auto* firstInstance = reinterpret_cast<PERF_INSTANCE_DEFINITION*>(out.data() + first);
    if (scenario == "bad:header") header->HeaderLength = 0x7FFFFFF0;
    if (scenario == "bad:counters")
        header->NumCounters = 0x7FFFFFFF, header->HeaderLength = header->DefinitionLength;
    if (scenario == "bad:deflen") header->DefinitionLength = 0xFFFFFF00u;
    if (scenario == "bad:count") header->NumInstances = 0x7FFFFFFF;
    if (!withInstances) return;
    if (scenario == "bad:instlen") firstInstance->ByteLength = 0xFFFFFFF0u;
    if (scenario == "bad:nameoff") firstInstance->NameOffset = 0x7FFFFFF0;
    if (scenario == "bad:cblen") {
        reinterpret_cast<PERF_COUNTER_BLOCK*>(out.data() + first + firstInstance->ByteLength)
            ->ByteLength = 0;
    }
}

// Builds the object: header, counter definitions, then the instances.
std::vector<BYTE> BuildObject(const std::vector<Instance>& instances, const std::string& scenario) {
    PERF_COUNTER_DEFINITION counters[2] = {};
    DWORD numCounters = 0;
    // A counter before the id, so the walk has to step over one.
    counters[numCounters++] = RawCounter(6, sizeof(PERF_COUNTER_BLOCK));  // "% Processor Time"
    if (scenario != "noid") {
        counters[numCounters++] = RawCounter(
            kIdProcessCounter,
            scenario == "nooffset" ? 0xFFFFFFFFu : sizeof(PERF_COUNTER_BLOCK) + sizeof(DWORD));
    }
    std::vector<BYTE> out(sizeof(PERF_OBJECT_TYPE) + numCounters * sizeof(PERF_COUNTER_DEFINITION));
    PERF_OBJECT_TYPE type = {};
    type.HeaderLength = sizeof(PERF_OBJECT_TYPE);
    type.DefinitionLength = static_cast<DWORD>(out.size());
    type.ObjectNameTitleIndex = kProcessObject;
    type.DetailLevel = PERF_DETAIL_NOVICE;
    type.NumCounters = static_cast<LONG>(numCounters);
    type.DefaultCounter = 0;
    type.NumInstances = static_cast<LONG>(instances.size());
    Put(out, sizeof type, counters, numCounters * sizeof(PERF_COUNTER_DEFINITION));
    for (const Instance& instance : instances) AppendInstance(out, instance);
    type.TotalByteLength = static_cast<DWORD>(out.size());
    Put(out, 0, &type, sizeof type);
    Corrupt(out, scenario, !instances.empty());
    return out;
}

bool Wanted(LPWSTR query) {
    if (query == nullptr || *query == L'\0') return true;
    if (_wcsnicmp(query, L"Global", 6) == 0 || _wcsnicmp(query, L"Costly", 6) == 0) return true;
    // A list of object indexes separated by blanks.
    for (const WCHAR* p = query; *p;) {
        while (*p == L' ') ++p;
        wchar_t* end = nullptr;
        unsigned long index = wcstoul(p, &end, 10);
        if (end == p) break;
        if (index == kProcessObject) return true;
        p = end;
    }
    return false;
}

// Wine 8 hands the provider a pointer 88 bytes (one PERF_DATA_BLOCK) past
// the place where it then expects the first object: at the block's
// HeaderLength. Windows hands the right place. Find the block the pointer
// lies in and write where the reader will look.
BYTE* ObjectPlace(BYTE* given) {
    for (BYTE* p = given - 8; p >= given - 4096; p -= 8) {
        const PERF_DATA_BLOCK* block = reinterpret_cast<const PERF_DATA_BLOCK*>(p);
        if (memcmp(block->Signature, L"PERF", 8) == 0) {
            BYTE* expected = p + block->HeaderLength;
            return expected < given ? expected : given;
        }
    }
    return given;
}

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI OpenPerfData(LPWSTR) { return ERROR_SUCCESS; }

extern "C" __declspec(dllexport) DWORD WINAPI ClosePerfData() { return ERROR_SUCCESS; }

extern "C" __declspec(dllexport) DWORD WINAPI
    CollectPerfData(LPWSTR query, LPVOID* data, LPDWORD bytes, LPDWORD objects) {
    const std::string scenario = Scenario();
    if (!Wanted(query) || scenario == "none") {
        *bytes = 0;
        *objects = 0;
        return ERROR_SUCCESS;
    }
    std::vector<Instance> instances;
    if (scenario.rfind("list:", 0) == 0) {
        instances = ListedProcesses(scenario.substr(5));
    } else if (scenario.rfind("many:", 0) == 0) {
        const unsigned long count = strtoul(scenario.c_str() + 5, nullptr, 10);
        for (unsigned long i = 0; i < count; ++i) {
            instances.push_back({L"process" + std::to_wstring(i), static_cast<DWORD>(1000 + i)});
        }
    } else {
        instances = RunningProcesses();
    }
    const std::vector<BYTE> object = BuildObject(instances, scenario);
    if (object.size() > *bytes) {
        *bytes = 0;
        *objects = 0;
        return ERROR_MORE_DATA;
    }
    BYTE* place = ObjectPlace(static_cast<BYTE*>(*data));
    memcpy(place, object.data(), object.size());
    *data = place + object.size();
    *bytes = static_cast<DWORD>(object.size());
    *objects = 1;
    return ERROR_SUCCESS;
}
