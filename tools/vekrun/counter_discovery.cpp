// vekrun --counters [OBJECT]: the performance objects of the machine, or an
// object's counters and instances as the full English paths tGetData takes,
// from PDH's own enumeration, as typeperf -q and -qx list them. PDH answers
// in the names of Windows' language; they are turned to English through the
// index both name lists share.
#include <pdh.h>
#include <pdhmsg.h>

#include <map>

#include "counter_discovery.h"
#include "console.h"
#include "entry_points.h"
#include "json_text.h"
#include "owner.h"
#include "system_library.h"
#include "text.h"
#include "writers.h"

namespace vekrun {

namespace {

typedef PDH_STATUS(WINAPI* EnumObjectsFn)(LPCSTR, LPCSTR, PZZSTR, LPDWORD, DWORD, BOOL);
typedef PDH_STATUS(WINAPI* EnumObjectItemsFn)(LPCSTR, LPCSTR, LPCSTR, PZZSTR, LPDWORD, PZZSTR,
                                              LPDWORD, DWORD, DWORD);

// A list that grows between the size query and the read is asked again.
constexpr int kTries = 4;

std::vector<std::string> Strings(const std::vector<char>& list) {
    std::vector<std::string> strings;
    for (size_t at = 0; at < list.size() && list[at];) {
        const std::string one(&list[at]);
        strings.push_back(one);
        at += one.size() + 1;
    }
    return strings;
}

// Index to name, and name (any case) to index, of one of the lists of pairs.
struct NameList {
    std::map<std::string, std::string> byIndex, byName;
};
NameList ReadNames(HKEY key, const char* subkey) {
    NameList names;
    vek::RegKeyOwner opened;
    HKEY from = key;
    if (subkey && RegOpenKeyExA(key, subkey, 0, KEY_READ, opened.Put()) != ERROR_SUCCESS)
        return names;
    if (subkey) from = opened.Get();
    // The performance keys leave a size too small as it was: the buffer grows.
    std::vector<char> list(1 << 16);
    LSTATUS status = ERROR_MORE_DATA;
    for (int tries = 0; status == ERROR_MORE_DATA && tries < 8; ++tries) {
        DWORD size = static_cast<DWORD>(list.size() - 2);
        status = RegQueryValueExA(from, "Counter", nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(list.data()), &size);
        if (status == ERROR_MORE_DATA) list.assign(std::max<size_t>(size, list.size()) * 2, '\0');
        if (status == ERROR_SUCCESS) list.resize(std::min<size_t>(size, list.size() - 2) + 2, '\0');
    }
    if (status != ERROR_SUCCESS) return names;
    const std::vector<std::string> pairs = Strings(list);
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
        names.byIndex.emplace(pairs[i], pairs[i + 1]);
        names.byName.emplace(Lower(pairs[i + 1]), pairs[i]);
    }
    return names;
}

// `name` from one language's list to the other's, or as it is.
std::string Translate(const std::string& name, const NameList& from, const NameList& to) {
    const auto index = from.byName.find(Lower(name));
    if (index == from.byName.end()) return name;
    const auto other = to.byIndex.find(index->second);
    return other == to.byIndex.end() ? name : other->second;
}

std::string StatusText(PDH_STATUS status) { return CodeText(static_cast<int32_t>(status)); }

// The entry points, under their own names.
struct Pdh {
    EnumObjectsFn PdhEnumObjectsA = nullptr;
    EnumObjectItemsFn PdhEnumObjectItemsA = nullptr;
};

// The objects, in the machine's language.
PDH_STATUS Objects(const Pdh& pdh, std::vector<std::string>& objects) {
    DWORD size = 0;
    PDH_STATUS status =
        pdh.PdhEnumObjectsA(nullptr, nullptr, nullptr, &size, PERF_DETAIL_WIZARD, TRUE);
    std::vector<char> list;
    for (int tries = 0; status == static_cast<PDH_STATUS>(PDH_MORE_DATA) && tries < kTries;
         ++tries) {
        list.assign(size + 2, '\0');
        size = static_cast<DWORD>(list.size() - 2);
        status =
            pdh.PdhEnumObjectsA(nullptr, nullptr, list.data(), &size, PERF_DETAIL_WIZARD, FALSE);
    }
    if (status == ERROR_SUCCESS) objects = Strings(list);
    return status;
}

// An object's counters and instances (none for an object of one instance).
PDH_STATUS Items(const Pdh& pdh, const std::string& object, std::vector<std::string>& counters,
                 std::vector<std::string>& instances) {
    DWORD counterSize = 0, instanceSize = 0;
    PDH_STATUS status =
        pdh.PdhEnumObjectItemsA(nullptr, nullptr, object.c_str(), nullptr, &counterSize, nullptr,
                                &instanceSize, PERF_DETAIL_WIZARD, 0);
    std::vector<char> counterList, instanceList;
    for (int tries = 0; status == static_cast<PDH_STATUS>(PDH_MORE_DATA) && tries < kTries;
         ++tries) {
        counterList.assign(counterSize + 2, '\0');
        instanceList.assign(instanceSize + 2, '\0');
        counterSize = static_cast<DWORD>(counterList.size() - 2);
        instanceSize = instanceSize ? static_cast<DWORD>(instanceList.size() - 2) : 0;
        status = pdh.PdhEnumObjectItemsA(nullptr, nullptr, object.c_str(), counterList.data(),
                                         &counterSize, instanceSize ? instanceList.data() : nullptr,
                                         &instanceSize, PERF_DETAIL_WIZARD, 0);
    }
    if (status != ERROR_SUCCESS) return status;
    counters = Strings(counterList);
    instances = Strings(instanceList);
    return status;
}

// Instances of one name told apart as paths tell them: svchost, svchost#1, ...
std::vector<std::string> Numbered(const std::vector<std::string>& instances) {
    std::map<std::string, int> seen;
    std::vector<std::string> numbered;
    for (const std::string& instance : instances) {
        const int before = seen[Lower(instance)]++;
        numbered.push_back(before ? instance + "#" + std::to_string(before) : instance);
    }
    return numbered;
}

void PrintNames(const Options& options, const char* field, const std::vector<std::string>& utf8) {
    std::string text = options.csv ? csv::Utf8Row({field}) + "\n" : "";
    for (const std::string& item : utf8) {
        if (options.json)
            text += json::Object().Add(field, json::QuoteUtf8(item)).Text() + "\n";
        else
            text += (options.csv ? csv::Utf8Field(item) : item) + "\n";
    }
    Write(stdout, text);
}

}  // namespace

int ListCounters(const Options& options) {
    const vek::LibraryGuard module(vek::LoadSystemLibrary("PDH.DLL"));
    Pdh pdh;
    // Wine's are stubs that end their caller, by the rule the extender's loader applies.
    bool stubs = false;
#define VEK_TAKE(name)                                                                    \
    pdh.name = reinterpret_cast<decltype(pdh.name)>(                                      \
        reinterpret_cast<void*>(module ? GetProcAddress(module.Get(), #name) : nullptr)); \
    stubs |= vek::IsWineStub(module.Get(), reinterpret_cast<const void*>(pdh.name));
    VEK_PDH_ENUMERATION(VEK_TAKE)
#undef VEK_TAKE
    if (!pdh.PdhEnumObjectsA || !pdh.PdhEnumObjectItemsA || stubs) {
        Print(stderr, "vekrun: counter discovery needs Windows' PDH%s\n",
              stubs ? ": Wine's PdhEnumObjectsA and PdhEnumObjectItemsA are stubs" : "");
        return kExitCallFailed;
    }
    const NameList english = ReadNames(
        HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009");
    const NameList local = ReadNames(HKEY_PERFORMANCE_NLSTEXT, nullptr);
    std::vector<std::string> found, listed;
    PDH_STATUS status;
    if (options.words.empty()) {
        status = Objects(pdh, found);
        for (std::string& object : found) object = Translate(object, local, english);
    } else {
        // The object as the machine names it, in its spelling.
        std::string object = Translate(options.words[0], english, local);
        std::vector<std::string> objects, counters, instances;
        status = Objects(pdh, objects);
        for (const std::string& known : objects) {
            if (Lower(known) == Lower(object)) object = known;
        }
        if (status == ERROR_SUCCESS) status = Items(pdh, object, counters, instances);
        const std::string name = Translate(object, local, english);
        for (const std::string& instance :
             instances.empty() ? std::vector<std::string>{""} : Numbered(instances)) {
            for (const std::string& counter : counters) {
                found.push_back("\\" + name + (instance.empty() ? "" : "(" + instance + ")") +
                                "\\" + Translate(counter, local, english));
            }
        }
    }
    if (status != ERROR_SUCCESS) {
        Print(stderr, "vekrun: %s%s\n",
              options.words.empty() ? "the performance objects cannot be listed"
                                    : ("no object '" + options.words[0] + "'").c_str(),
              (" (" + StatusText(status) + ")").c_str());
        return kExitCallFailed;
    }
    for (const std::string& item : found) {
        const std::string utf8 = json::ToUtf8(item);
        bool matched = options.matches.empty();
        for (const std::string& pattern : options.matches)
            matched |= MatchesWildcard(pattern, utf8);
        if (matched) listed.push_back(utf8);
    }
    PrintNames(options, options.words.empty() ? "Object" : "Path", listed);
    return kExitOk;
}

}  // namespace vekrun
