// vekrun --doctor: what the extender needs of this machine, checked in the
// order it is needed, each with the usual remedy when it fails. The
// extender's own keywords answer where they can; the registry is read only
// for what no keyword tells (the counter indexes, the provider's switch).
#include <string.h>

#include "counter_index.h"
#include "entry_points.h"
#include "keyword_registry.h"
#include "json_text.h"
#include "writers.h"
#include "owner.h"
#include "settings_file.h"
#include "system_library.h"
#include "doctor.h"
#include "console.h"
#include "host_protocol.h"
#include "options.h"
#include "text.h"
#include "message_ids.h"

namespace vekrun {

namespace {

struct Check {
    const char* name;
    bool ok;
    std::string detail;
    std::string remedy;
};

const char kRebuild[] = "Rebuild the counter lists with 'lodctr /R' from an elevated prompt.";
// Wine's Toolhelp lists the processes where its counter names cannot.
const char kUnderWine98[] =
    "Under Wine, a copy of vekrun that Wine presents as Windows 98 lists the processes through "
    "Toolhelp: copy vekrun.exe to vekrun_win98.exe, run 'wine reg add "
    "HKCU\\Software\\Wine\\AppDefaults\\vekrun_win98.exe /v Version /d win98', then "
    "'wine vekrun_win98.exe --list tListProc'.";
const char kRepair[] = "Repair the system files with 'sfc /scannow' from an elevated prompt.";

// A keyword call for the doctor's own use: its result, or its message.
bool Ask(Extender& ext, std::vector<std::string> words, std::string& answer) {
    Options quiet;
    quiet.raw = true;
    Result result;
    if (Invoke(ext, quiet, words, result) != kExitOk) {
        answer = "no result";
        return false;
    }
    answer = result.Value();
    return !result.Failed();
}

OSVERSIONINFOA Version() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    return version;
}

// Windows 95, 98 and Me, as the extender's probe tells them: it lists
// processes and modules through Kernel32's Toolhelp there, and has no PDH.
bool NineX() { return Version().dwPlatformId == VER_PLATFORM_WIN32_WINDOWS; }

const char kNotNeeded[] = "not needed: this platform lists processes through Toolhelp";

Check Platform(Extender& ext) {
    const OSVERSIONINFOA version = Version();
    std::string compatible;
    Ask(ext, {vek::keyword_name::tCompatible}, compatible);
    // Windows 95, 98 and Me keep the version in the build number's high word.
    const DWORD build = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS
                            ? LOWORD(version.dwBuildNumber)
                            : version.dwBuildNumber;
    const std::string windows = "Windows " + std::to_string(version.dwMajorVersion) + "." +
                                std::to_string(version.dwMinorVersion) + " build " +
                                std::to_string(build);
    if (compatible == "1") return {"platform", true, windows + ", tCompatible 1", ""};
    return {"platform", false, windows + ", tCompatible " + compatible,
            "The extender runs on 64-bit Windows of the NT family only."};
}

// The entry points the extender resolves by name, as the loader takes them.
Check Libraries(bool nineX) {
    struct EntryPoint {
        const char* name;
        vek::EntryPointNeed need;
    };
    struct Library {
        const char* dll;
        std::vector<EntryPoint> entries;
    };
#define VEK_ENTRY(name, need) {#name, vek::need},
    const std::vector<Library> libraries =
        nineX ? std::vector<Library>{{"Kernel32.DLL", {VEK_TOOLHELP_ENTRY_POINTS(VEK_ENTRY)}}}
              : std::vector<Library>{{"PSAPI.DLL", {VEK_PSAPI_ENTRY_POINTS(VEK_ENTRY)}},
                                     {"PDH.DLL", {VEK_PDH_ENTRY_POINTS(VEK_ENTRY)}}};
#undef VEK_ENTRY
#define VEK_NAME(name) #name,
    const char* const wineStubNames[] = {VEK_PDH_WINE_STUBS(VEK_NAME)};
    const char* const enumerationNames[] = {VEK_PDH_ENUMERATION(VEK_NAME)};
#undef VEK_NAME
    std::string problems;
    bool repair = false, wineStubs = false, enumerationStubs = false;
    for (const auto& library : libraries) {
        const vek::LibraryGuard module(vek::LoadSystemLibrary(library.dll));
        if (!module) {
            const DWORD code = GetLastError();
            problems += std::string(problems.empty() ? "" : "; ") + library.dll +
                        " cannot be loaded: " + SystemText(code);
            repair = true;
            continue;
        }
        // What older Windows lacks is no problem.
        for (const EntryPoint& entry : library.entries) {
            if (entry.need != vek::kOptional && !GetProcAddress(module.Get(), entry.name)) {
                problems += std::string(problems.empty() ? "" : "; ") + library.dll + " lacks " +
                            entry.name;
                repair = true;
            }
        }
        // As the extender's loader judges them: a call of Wine's stub ends the caller.
        for (const char* stub : wineStubNames) {
            wineStubs |= vek::IsWineStub(
                module.Get(), reinterpret_cast<const void*>(GetProcAddress(module.Get(), stub)));
        }
        for (const char* stub : enumerationNames) {
            enumerationStubs |= vek::IsWineStub(
                module.Get(), reinterpret_cast<const void*>(GetProcAddress(module.Get(), stub)));
        }
    }
    if (wineStubs) {
        problems += std::string(problems.empty() ? "" : "; ") +
                    "PDH.DLL is Wine's, whose PdhParseCounterPathA, PdhConnectMachineA and "
                    "PdhBrowseCountersA are stubs, so tParseCntrPath, tRemoteConn and "
                    "tBrowseCntrs are unavailable (211); every other keyword works";
    }
    if (enumerationStubs) {
        problems += std::string(problems.empty() ? "" : "; ") +
                    "its PdhEnumObjectsA and PdhEnumObjectItemsA are stubs too, so counter "
                    "discovery (vekrun --counters) needs Windows' PDH";
    }
    if (problems.empty()) {
        return {"libraries", true,
                nineX ? "Kernel32.DLL has every Toolhelp entry point"
                      : "PSAPI.DLL and PDH.DLL have every entry point",
                ""};
    }
    return {"libraries", false, problems,
            repair ? kRepair : "None under Wine: Windows' own PDH.DLL serves them."};
}

// Perflib\009's "Counter": the index of `name`, walked as the extender walks it.
std::string IndexOf(const std::string& list, const char* name) {
    char index[256] = "";
    vek::CounterIndexWalk(list.data(), static_cast<DWORD>(list.size()), name, index, sizeof index);
    return index;
}

Check CounterNames(bool nineX, std::string& processIndex) {
    if (nineX) return {"counter names", true, kNotNeeded, ""};
    const char* const key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
    vek::RegKeyOwner opened;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, opened.Put());
    std::string list;
    if (status == ERROR_SUCCESS) {
        DWORD size = 0;
        status = RegQueryValueExA(opened.Get(), "Counter", nullptr, nullptr, nullptr, &size);
        if (status == ERROR_SUCCESS) {
            list.assign(size + 2, '\0');
            status = RegQueryValueExA(opened.Get(), "Counter", nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&list[0]), &size);
        }
    }
    if (status != ERROR_SUCCESS) {
        return {"counter names", false,
                std::string("the English counter-name list (HKLM\\") + key +
                    ", value Counter) cannot be read: " + SystemText(static_cast<DWORD>(status)),
                kRebuild};
    }
    processIndex = IndexOf(list, "Process");
    const std::string idIndex = IndexOf(list, "ID Process");
    if (!processIndex.empty() && !idIndex.empty()) {
        return {"counter names", true,
                "\"Process\" is " + processIndex + ", \"ID Process\" " + idIndex, ""};
    }
    size_t entries = 0;
    for (size_t at = 0; at < list.size() && list[at]; at += strlen(list.c_str() + at) + 1)
        ++entries;
    // Wine answers every read of this list from a fixed one of its own.
    const bool wine = vek::UnderWine();
    return {"counter names", false,
            std::string("the English counter-name list (") + std::to_string(entries / 2) +
                " names) lacks " +
                (processIndex.empty()
                     ? (idIndex.empty() ? "\"Process\" and \"ID Process\"" : "\"Process\"")
                     : "\"ID Process\"") +
                ", so tListProc gives 213" +
                (wine ? "; under Wine the list is fixed and cannot be mended" : ""),
            wine ? std::string(kUnderWine98) + " On Windows, r" + (kRebuild + 1) : kRebuild};
}

Check PerformanceData(Extender& ext, bool nineX, const std::string& processIndex) {
    if (processIndex.empty() && !nineX) {
        return {"performance data", false, "not checked: the \"Process\" index is unknown",
                "Mend the counter names first (above)."};
    }
    std::string answer;
    if (Ask(ext, {vek::keyword_name::tListProc}, answer)) {
        const size_t processes = answer.empty() ? 0 : SplitText(answer, '\t').size();
        const std::string lists = " lists " + std::to_string(processes) + " processes";
        return {"performance data", true,
                nineX ? std::string("Toolhelp") + lists
                      : "the Process object (" + processIndex + ")" + lists,
                ""};
    }
    return {"performance data", false, std::string(vek::keyword_name::tListProc) + ": " + answer,
            nineX ? kRepair
                  : "Check that the process provider is enabled (below); otherwise " +
                        std::string(kRebuild)};
}

// The process provider's switch, Windows' "Disable Performance Counters".
Check Provider(bool nineX) {
    if (nineX) return {"process provider", true, kNotNeeded, ""};
    DWORD disabled = 0, size = sizeof disabled;
    const LSTATUS status = RegGetValueA(
        HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\PerfProc\\Performance",
        "Disable Performance Counters", RRF_RT_REG_DWORD, nullptr, &disabled, &size);
    if (status != ERROR_SUCCESS || disabled == 0)
        return {"process provider", true, "not disabled", ""};
    return {"process provider", false,
            "PerfProc's \"Disable Performance Counters\" is " + std::to_string(disabled),
            "Enable it with 'lodctr /E:PerfProc' from an elevated prompt."};
}

// "tBrowseCntrs, tGetData, ... and tParseCntrPath", as the registry's rows
// say which keywords need PDH.
std::string KeywordsNeedingPdh() {
    std::vector<std::string> needing;
#define VEK_NEEDS_PDH(id, function, args, check, ...) \
    if (strcmp(#check, "CheckPdh") == 0) needing.push_back(#function);
    VEK_KEYWORDS(VEK_NEEDS_PDH, VEK_NO_CONSTANT)
#undef VEK_NEEDS_PDH
    std::string named = needing.back();
    for (size_t i = needing.size() - 1; i-- > 0;)
        named = needing[i] + (i + 2 == needing.size() ? " and " : ", ") + named;
    return named;
}

// The up time read as a decimal and then whole (truncated, and read later,
// so within a second of the first): a PDH that stores the integer's bits
// where the double goes, as Wine's does, gives a denormal near 0.
Check Pdh(Extender& ext, bool nineX) {
    if (nineX) {
        return {"pdh", false, "this platform has no PDH, so " + KeywordsNeedingPdh() + " give 209",
                "None here: counters need Windows of the NT family."};
    }
    const char* const path = "\\System\\System Up Time";
    std::string decimal, whole;
    if (Ask(ext, {vek::keyword_name::tGetData, path, "1"}, decimal) &&
        Ask(ext, {vek::keyword_name::tGetData, path, "0"}, whole)) {
        const double apart = atof(whole.c_str()) - atof(decimal.c_str());
        if (apart <= 1 && apart >= -1) {
            return {
                "pdh", true,
                std::string("a query reads ") + path + ": " + decimal + " s, whole " + whole + " s",
                ""};
        }
        return {"pdh", false,
                std::string(path) + " reads " + whole + " s as a whole number but " + decimal +
                    " as a decimal: this PDH stores whole numbers where decimals go, as Wine's "
                    "does, so decimal reads (format 1 of tGetData and tBrowseCntrs) are wrong on "
                    "this machine",
                "Read counters as whole numbers (format 0) here."};
    }
    const std::string& answer = whole.empty() ? decimal : whole;
    const int id = atoi(answer.c_str());
    return {"pdh", false, std::string(vek::keyword_name::tGetData) + " " + path + ": " + answer,
            id == vek::kMsgNoPdh || id == vek::kMsgOldPdh ? kRepair : kRebuild};
}

// The file the extender writes, found as the extender finds it (the Windows
// folder where there is no application-data folder); its folders are
// created as the extender's first logged failure would create them.
Check Settings() {
    char path[MAX_PATH] = "";
    if (!vek::SettingsFilePath(path, MAX_PATH)) {
        return {"settings file", false,
                "its folders cannot be created below the application-data folder or the Windows "
                "folder",
                "Log on with a user profile whose application-data folder can be written."};
    }
    char line[256] = "";
    GetPrivateProfileStringA(vek::kSettingsSection, vek::kLastErrorKey, "", line, sizeof line,
                             path);
    return {"settings file", true,
            path + (line[0] ? ", LastError=" + std::string(line) : ", no LastError line"), ""};
}

}  // namespace

int Doctor(Extender& ext, const Options& options) {
    std::string processIndex;
    const bool nineX = NineX();
    const Check checks[] = {Platform(ext),
                            Libraries(nineX),
                            CounterNames(nineX, processIndex),
                            PerformanceData(ext, nineX, processIndex),
                            Provider(nineX),
                            Pdh(ext, nineX),
                            Settings()};
    bool allOk = true;
    std::vector<std::string> found;
    for (const Check& check : checks) {
        allOk &= check.ok;
        if (options.json) {
            json::Object object;
            object.Add("check", json::Quote(check.name)).Add("ok", check.ok ? "true" : "false");
            object.Add("detail", json::Quote(check.detail));
            if (!check.ok) object.Add("remedy", json::Quote(check.remedy));
            found.push_back(object.Text());
            continue;
        }
        // The checks' names in a column of 16, as "performance data" needs.
        // A detail that is a message of the extender's may end in its own full stop.
        const bool stopped = !check.detail.empty() && check.detail.back() == '.';
        const std::string said =
            check.ok ? "ok: " + check.detail
                     : "PROBLEM: " + check.detail + (stopped ? " " : ". ") + check.remedy;
        Print(stdout, "%s\n", table::Row({check.name, said}, {16}).c_str());
    }
    if (options.json) {
        Print(stdout, "%s\n",
              json::Object()
                  .Add("checks", json::Array(found))
                  .Add("ok", allOk ? "true" : "false")
                  .Text()
                  .c_str());
    }
    return allOk ? kExitOk : kExitCallFailed;
}

}  // namespace vekrun
