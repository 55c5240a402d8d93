// tListProc and tCountProc: the running processes from the registry's
// performance data (NT) or a Toolhelp snapshot (95/98/Me).
#include <string.h>

#include "keyword_call.h"
#include "messages.h"
#include "owner.h"
#include "platform.h"
#include "process_shared.h"

namespace vek {

namespace {

constexpr int kIndexTextCapacity = 256;
constexpr int kInstanceNameCapacity = 260;
constexpr DWORD kFirstBufferSize = 12000;
constexpr DWORD kGrowthFactor = 4;
// A process object larger than this is not data we asked for.
constexpr DWORD kLargestBufferSize = 64u * 1024 * 1024;
constexpr DWORD kProcessEntrySize = 304;
constexpr DWORD kProcessIdCapacity = 1024;
// No system runs this many processes; a list that fills it is not believed.
constexpr DWORD kLargestProcessIdCapacity = 1024 * 256;

static_assert(sizeof(PROCESSENTRY32) == kProcessEntrySize, "PROCESSENTRY32");

// The block is bounded by the bytes the read returned. Its lengths and
// offsets are the provider's, so a record may lie at any offset: each is
// checked to lie inside the block and read through a copy, never in place.
struct Block {
    const BYTE* data;
    uint64_t size;

    bool Holds(uint64_t offset, uint64_t length) const {
        return offset <= size && length <= size - offset;
    }
    template <typename Record>
    bool Read(uint64_t offset, Record* record) const {
        if (!Holds(offset, sizeof(Record))) return false;
        memcpy(record, data + offset, sizeof(Record));
        return true;
    }
};

// Where a name too long for its buffer is cut: at most `limit` bytes, never
// inside a character. Windows' CharNextA steps a UTF-8 ANSI code page
// (65001) byte by byte, so there the cut goes back over the continuation
// bytes (10xxxxxx) of the character it would split.
size_t WholeCharacters(const char* text, size_t limit) {
    if (GetACP() == CP_UTF8) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        return cut;
    }
    const char* cut = text;
    for (const char* next = CharNextA(cut);
         next != cut && static_cast<size_t>(next - text) <= limit; next = CharNextA(cut)) {
        cut = next;
    }
    return static_cast<size_t>(cut - text);
}

// UTF-16 instance name to ANSI, cut between whole characters when it is too
// long for the name buffer. The caller has checked that the name's bytes
// lie inside the block.
void InstanceName(const Block& block, uint64_t instance, const PERF_INSTANCE_DEFINITION& def,
                  char* name) {
    memset(name, 0, kInstanceNameCapacity);
    if (def.NameLength == 0) return;
    int units = static_cast<int>(def.NameLength / 2);
    const bool tooLong = units > kInstanceNameCapacity - 1;
    if (tooLong) units = kInstanceNameCapacity - 1;
    WCHAR wide[kInstanceNameCapacity];
    memcpy(wide, block.data + instance + def.NameOffset, units * sizeof(WCHAR));
    // Half a surrogate pair would come out as a replacement character.
    if (tooLong && IS_HIGH_SURROGATE(wide[units - 1])) --units;
    // Three bytes a unit covers every ANSI code page, UTF-8 included.
    char converted[kInstanceNameCapacity * 3 + 1];
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, converted, sizeof converted - 1,
                                    nullptr, nullptr);
    converted[bytes > 0 ? bytes : 0] = '\0';
    // The name counts its terminator; stop at the first NUL in any case.
    size_t length = strlen(converted);
    if (length > static_cast<size_t>(kInstanceNameCapacity - 1)) {
        length = WholeCharacters(converted, kInstanceNameCapacity - 1);
    }
    memcpy(name, converted, length);
    name[length] = '\0';
}

// Appends "name|id", with a tab before every item but the first; an item
// that does not fit is left out whole and ends the list.
bool AppendProcessItem(TextBuffer& out, bool first, const char* name, int32_t id) {
    char idText[kInt32TextCapacity];
    Int32ToText(id, idText);
    const size_t mark = out.length;
    if ((first || out.AppendChar('\t')) && out.Append(name) && out.AppendChar('|') &&
        out.Append(idText)) {
        return true;
    }
    out.Truncate(mark);
    return false;
}

}  // namespace

Outcome ReadPerformanceObject(const char* indexText, BYTE** buffer, DWORD* returned, int* reads) {
    int queries = 1;
    DWORD size = kFirstBufferSize;
    LONG status =
        RegQueryValueExA(HKEY_PERFORMANCE_DATA, indexText, nullptr, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return kMsgRegistryProblem;

    HANDLE heap = GetProcessHeap();
    DWORD capacity = kFirstBufferSize;
    HeapBlock<BYTE> data(static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, capacity)));
    if (!data) {
        // HeapAlloc does not set a last-error code of its own.
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FailLoggingSystemCode(kMsgListProcFailed, "HeapAlloc - dwBytes (1)");
    }
    for (;;) {
        size = capacity;
        status =
            RegQueryValueExA(HKEY_PERFORMANCE_DATA, indexText, nullptr, nullptr, data.Get(), &size);
        ++queries;
        if (status != ERROR_MORE_DATA) break;
        // The size the call leaves on ERROR_MORE_DATA is undefined (Wine sets
        // it to 0), so growth goes from the buffer's own size; fourfold, so
        // that even thousands of processes take few re-reads.
        DWORD grown = capacity > kLargestBufferSize / kGrowthFactor ? kLargestBufferSize + 1
                                                                    : capacity * kGrowthFactor;
        BYTE* larger =
            grown > kLargestBufferSize
                ? nullptr
                : static_cast<BYTE*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, data.Get(), grown));
        if (larger == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FailLoggingSystemCode(kMsgListProcFailed, "HeapAlloc - dwBytes (2)");
        }
        data.Release();  // moved into the larger block
        data.Reset(larger);
        capacity = grown;
    }
    if (reads) *reads = queries;
    if (status != ERROR_SUCCESS) return kMsgRegistryProblem;
    *buffer = data.Release();
    *returned = size <= capacity ? size : capacity;
    return kSucceeded;
}

namespace {

Outcome ListProcNt(KeywordCall& call) {
    TextBuffer out = ResultBuffer(call);
    char indexText[kIndexTextCapacity] = "";
    if (!CounterIndexLookup("Process", indexText, kIndexTextCapacity) || indexText[0] == '\0') {
        return kMsgNoCounterIndex;
    }
    const int32_t objectIndex = ParseInteger(indexText);
    HeapBlock<BYTE> data;
    DWORD size = 0;
    const Outcome read = ReadPerformanceObject(indexText, data.Put(), &size, nullptr);
    // Closing the key lets the system unload the performance providers.
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    if (read) return read;

    indexText[0] = '\0';
    if (!CounterIndexLookup("ID Process", indexText, kIndexTextCapacity) || indexText[0] == '\0') {
        return kMsgNoCounterIndex;
    }
    if (int failure =
            ProcessListFromPerfData(data.Get(), size, objectIndex, ParseInteger(indexText), out))
        return failure;
    SetString(call, call.resultText);
    return kSucceeded;
}

// The saved code is the snapshot's last error, then the first entry's, on
// every path.
Outcome ListProcToolhelp(KeywordCall& call) {
    FileHandleGuard snapshot(Api().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return FailWithSystemCode(kMsgSnapshotFailed);

    PROCESSENTRY32 entry;
    entry.dwSize = kProcessEntrySize;
    BOOL more = Api().Process32First(snapshot.Get(), &entry);
    TextBuffer out = ResultBuffer(call);
    const DWORD firstError = GetLastError();

    for (bool first = true; more; first = false) {
        char fullPath[MAX_PATH];
        char* filePart = nullptr;
        DWORD length = GetFullPathNameA(entry.szExeFile, MAX_PATH, fullPath, &filePart);
        // An entry without a file part is listed as the snapshot gave it.
        const char* name =
            (length == 0 || length >= MAX_PATH || filePart == nullptr) ? entry.szExeFile : filePart;
        if (!AppendProcessItem(out, first, name, static_cast<int32_t>(entry.th32ProcessID))) break;
        entry.dwSize = kProcessEntrySize;
        more = Api().Process32Next(snapshot.Get(), &entry);
    }
    SetString(call, call.resultText);
    return Outcome(kSucceeded).KeepingCode(firstError);
}

// A query may return more objects than it was asked for, in any order,
// and providers over-state their count: the object is found by its index,
// stepping only while the next object lies inside the data.
bool FindObject(const Block& block, const PERF_DATA_BLOCK& header, int32_t objectIndex,
                uint64_t& object, PERF_OBJECT_TYPE& type) {
    object = header.HeaderLength;
    for (DWORD i = 0; i < header.NumObjectTypes && block.Read(object, &type); ++i) {
        if (static_cast<int32_t>(type.ObjectNameTitleIndex) == objectIndex) return true;
        if (type.TotalByteLength < sizeof(PERF_OBJECT_TYPE)) break;
        object += type.TotalByteLength;
    }
    return false;
}

// The object's definition of the counter `counterIndex`: kSucceeded or the
// message.
int FindCounter(const Block& block, uint64_t object, const PERF_OBJECT_TYPE& type,
                int32_t counterIndex, PERF_COUNTER_DEFINITION& found) {
    uint64_t counter = object + type.HeaderLength;
    for (DWORD i = 0; i < type.NumCounters; ++i) {
        PERF_COUNTER_DEFINITION def;
        if (!block.Read(counter, &def) || def.ByteLength < sizeof(PERF_COUNTER_DEFINITION)) {
            return kMsgRegistryProblem;
        }
        if (static_cast<int32_t>(def.CounterNameTitleIndex) == counterIndex) {
            found = def;
            if (found.CounterOffset == 0xFFFFFFFFu) return kMsgNoIdProcessCounter;
            return kSucceeded;
        }
        counter += def.ByteLength;
    }
    return kMsgNoIdProcessCounter;
}

}  // namespace

int ProcessListFromPerfData(const BYTE* data, DWORD size, int32_t objectIndex,
                            int32_t idCounterIndex, TextBuffer& out) {
    const Block block = {data, size};
    PERF_DATA_BLOCK header;
    if (!block.Read(0, &header)) return kMsgRegistryProblem;
    uint64_t object;
    PERF_OBJECT_TYPE type;
    // No such object: the process counter is not there to be found.
    if (!FindObject(block, header, objectIndex, object, type)) return kMsgNoIdProcessCounter;
    PERF_COUNTER_DEFINITION idCounter;
    if (int failure = FindCounter(block, object, type, idCounterIndex, idCounter)) return failure;
    if (type.NumInstances <= 0) return kSucceeded;

    uint64_t instance = object + type.DefinitionLength;
    bool first = true;
    for (LONG i = 0; i < type.NumInstances; ++i) {
        PERF_INSTANCE_DEFINITION def;
        if (!block.Read(instance, &def) || def.ByteLength < sizeof(PERF_INSTANCE_DEFINITION) ||
            !block.Holds(instance + def.NameOffset, def.NameLength)) {
            return kMsgRegistryProblem;
        }
        const uint64_t counters = instance + def.ByteLength;
        PERF_COUNTER_BLOCK values;
        int32_t id;
        if (!block.Read(counters, &values) || values.ByteLength < sizeof(PERF_COUNTER_BLOCK) ||
            !block.Read(counters + idCounter.CounterOffset, &id)) {
            return kMsgRegistryProblem;
        }

        char name[kInstanceNameCapacity];
        InstanceName(block, instance, def, name);
        if (!(id == 0 && lstrcmpA(name, "_Total") == 0)) {
            // A full result ends at its last whole item.
            if (!AppendProcessItem(out, first, name, id)) return kSucceeded;
            first = false;
        }
        instance = counters + values.ByteLength;
    }
    return kSucceeded;
}

Outcome tListProc(KeywordCall& call) {
    if (OnNtPath()) return ListProcNt(call);
    if (Platform().isWin9x) return ListProcToolhelp(call);
    return kMsgWrongPlatform;
}

Outcome tCountProc(KeywordCall& call) {
    if (OnNtPath()) {
        DWORD ids[kProcessIdCapacity];
        DWORD bytes = 0;
        if (!Api().EnumProcesses(ids, sizeof ids, &bytes)) return kMsgSnapshotFailed;
        // A full array may have cut the list: ask again with room to spare
        // until the answer is shorter than the array.
        HANDLE heap = GetProcessHeap();
        for (DWORD capacity = kProcessIdCapacity; bytes >= capacity * sizeof(DWORD);) {
            capacity *= kGrowthFactor;
            if (capacity > kLargestProcessIdCapacity) return kMsgSnapshotFailed;
            HeapBlock<DWORD> more(
                static_cast<DWORD*>(HeapAlloc(heap, 0, capacity * sizeof(DWORD))));
            if (!more) return kMsgSnapshotFailed;
            if (!Api().EnumProcesses(more.Get(), capacity * sizeof(DWORD), &bytes))
                return kMsgSnapshotFailed;
        }
        SetInteger(call, static_cast<int32_t>(bytes / sizeof(DWORD)));
        return kSucceeded;
    }
    if (Platform().isWin9x) {
        FileHandleGuard snapshot(Api().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) return kMsgSnapshotFailed;
        PROCESSENTRY32 entry;
        entry.dwSize = kProcessEntrySize;
        int32_t count = 0;
        for (BOOL more = Api().Process32First(snapshot.Get(), &entry); more;
             more = Api().Process32Next(snapshot.Get(), &entry)) {
            ++count;
            entry.dwSize = kProcessEntrySize;
        }
        SetInteger(call, count);
        return kSucceeded;
    }
    return kMsgWrongPlatform;
}

}  // namespace vek
