#include "host.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <regex>

#include "rig.h"
#include "settings_file.h"

using namespace vek;

namespace test {

namespace {

Outcome* receiving = nullptr;
int32_t callbackReturn = 0x5151;

int32_t Copy(int32_t status, uint32_t hostTag, HostContext* context, ResultSlot* result) {
    Outcome& o = *receiving;
    ++o.calls;
    o.status = status;
    o.type = result->type;
    o.value = result->value;
    o.text = (result->type == kResultString && result->text) ? result->text : "";
    o.hostTag = hostTag;
    o.context = context;
    o.result = result;
    return ++callbackReturn;
}

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

Host::Host(const std::string& path, bool accounting) : accounting_(accounting) {
    memset(&slot, 0, sizeof slot);
    memset(&context, 0, sizeof context);
    module_ = LoadLibraryA((path.empty() ? Directory() + "vekproc.dll" : path).c_str());
    loadError_ = module_ ? 0 : GetLastError();
    if (module_) {
        if (accounting_) rig::Install(module_);
        call_ = Export<VEKExtender2Proc>(module_, "VEKExtender2");
        query_ = Export<VEKExtenderQueryProc>(module_, "VEKExtenderQuery");
    }
}

Host::~Host() {
    if (module_) FreeLibrary(module_);
}

int32_t Host::Initialise(uint32_t hostVersion, char* refusal) {
    char buffer[64] = "";
    context.hostVersion = hostVersion;
    return call_(nullptr, 0, 0, kCallInitialise, Copy, &context, 0, refusal ? refusal : buffer, 0,
                 nullptr);
}

int32_t Host::Enumerate(uint32_t index, KeywordEntry* entry) {
    return call_(nullptr, 0, 0, kCallEnumerate, Copy, &context, 0, entry, index, nullptr);
}

int32_t Host::Terminate() {
    return call_(nullptr, 0, 0, kCallTerminate, Copy, &context, 0, nullptr, 0, nullptr);
}

int32_t Host::Query(int32_t code, void* buffer, int32_t length) {
    return query_(code, buffer, length);
}

Outcome Host::Call(int32_t callCode, const std::vector<std::string>& args, void* hostWindow) {
    std::vector<ArgSlot> slots(args.size() ? args.size() : 1);
    for (size_t i = 0; i < slots.size(); ++i) {
        memset(&slots[i], 0xA5, sizeof slots[i]);
        slots[i].text = i < args.size() ? args[i].c_str() : nullptr;
    }
    Outcome outcome;
    receiving = &outcome;
    static uint32_t tag = 0x7A600000;
    const uint32_t thisTag = ++tag;
    if (accounting_) rig::OpenBooks();
    outcome.returned = call_(hostWindow, 0x1111, thisTag, callCode, Copy, &context, 0x2222,
                             args.empty() ? nullptr : slots.data(), 0, &slot);
    // The handle tOpenProc hands out belongs to the script.
    const bool handsOut = static_cast<int16_t>(callCode) == tOpenProc && outcome.status == 0 &&
                          outcome.calls == 1;
    const std::string left = accounting_ ? rig::CloseBooks(handsOut ? reinterpret_cast<HANDLE>(
                                                     static_cast<intptr_t>(outcome.value))
                                                                   : nullptr)
                                         : std::string();
    if (!left.empty()) ADD_FAILURE() << "keyword " << static_cast<int16_t>(callCode) << " left " << left;
    receiving = nullptr;
    outcome.sentTag = thisTag;
    return outcome;
}

int32_t LastCallbackReturn() { return callbackReturn; }

std::string Directory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, length);
    return self.substr(0, self.find_last_of('\\') + 1);
}

bool Shows(const std::string& text, const Shown& expected) {
    switch (expected.kind) {
        case Shown::kIs: return text == expected.text;
        case Shown::kHas: return text.find(expected.text) != std::string::npos;
        case Shown::kLacks: return text.find(expected.text) == std::string::npos;
        case Shown::kMatches: return std::regex_search(text, std::regex(expected.text));
        case Shown::kHasLines: break;
    }
    for (const std::string& line : Split(expected.text, '\n')) {
        if (text.find(line) == std::string::npos) return false;
    }
    return true;
}

bool Save(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    const bool written = file && fwrite(text.data(), 1, text.size(), file) == text.size();
    return file && fclose(file) == 0 && written;
}

bool CopyBesideDouble(const std::string& copy, const std::string& settings) {
    return Save(copy + ".manifest", "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><assemblyIdentity type="
                "\"win32\" name=\"vekrun.double\" version=\"1.0.0.0\"/><file name=\"pdh.dll\"/>" + settings + "</assembly>") &&
           CopyFileA((Directory() + "vekrun.exe").c_str(), copy.c_str(), FALSE);
}
void RemoveCopy(const std::string& copy) { DeleteFileA(copy.c_str()), DeleteFileA((copy + ".manifest").c_str()); }

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

bool IsUnsignedNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && (text.size() == 1 || text[0] != '0');
}

bool Start(std::string commandLine, PROCESS_INFORMATION* child, HANDLE in, HANDLE out, HANDLE err) {
    STARTUPINFOA startup = {sizeof startup};
    startup.dwFlags = out ? STARTF_USESTDHANDLES : 0;
    startup.hStdInput = in, startup.hStdOutput = out, startup.hStdError = err;
    // Marked with UTF-8's byte-order mark: typed in UTF-16, as a shell passes what is typed.
    if (commandLine.compare(0, 3, "\xEF\xBB\xBF") != 0)
        return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, child);
    std::wstring wide(commandLine.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, &commandLine[3], static_cast<int>(commandLine.size()) - 3, &wide[0], static_cast<int>(wide.size())));
    STARTUPINFOW typed = {sizeof typed, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0, startup.dwFlags, 0, 0, nullptr, in, out, err};
    return CreateProcessW(nullptr, &wide[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &typed, child);
}

bool ReadWaiting(HANDLE pipe, std::string* into) {
    char buffer[4096];
    DWORD got = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &got, nullptr) || got == 0) return false;
    if (!ReadFile(pipe, buffer, std::min<DWORD>(got, sizeof buffer), &got, nullptr)) return false;
    if (into) into->append(buffer, got);
    return true;
}

DWORD Run(const std::string& commandLine, std::string* out, std::string* err, const std::string* in) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite, inRead = GetStdHandle(STD_INPUT_HANDLE), inWrite = nullptr;
    DWORD written;  // a short input fits the pipe's buffer, and its end is seen once the pipe closes
    if (in && CreatePipe(&inRead, &inWrite, &inherit, 0)) {
        WriteFile(inWrite, in->data(), static_cast<DWORD>(in->size()), &written, nullptr);
        CloseHandle(inWrite);
    }
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION info = {};
    const bool started = Start(commandLine, &info, inRead, outWrite, errWrite);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (inWrite) CloseHandle(inRead);
    DWORD code = 0xFFFFFFFF;
    if (started) {
        // Until the child has ended and its pipes are empty, never until the pipes' end: a process
        // the child starts (Wine's explorer.exe, which a first window-station call starts) may
        // hold them open as long as it runs.
        for (bool ended = false;;) {
            const bool read = ReadWaiting(outRead, out) | ReadWaiting(errRead, err);
            if (!read && ended) break;
            if (!read) ended = WaitForSingleObject(info.hProcess, 5) == WAIT_OBJECT_0;
        }
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return code;
}

std::string SettingsFolder() {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return std::string(path) + "\\" + kSettingsFolders;
}

std::string LastErrorLine() {
    char value[512] = "";
    GetPrivateProfileStringA(kSettingsSection, kLastErrorKey, "", value, sizeof value, (SettingsFolder() + kSettingsFileName).c_str());
    return value;
}

void ClearLastErrorLine() {
    WritePrivateProfileStringA(kSettingsSection, kLastErrorKey, nullptr, (SettingsFolder() + kSettingsFileName).c_str());
}

WineVersion::WineVersion(const std::string& program, const std::string& version)
    : key_("Software\\Wine\\AppDefaults\\" + program) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       static_cast<DWORD>(version.size() + 1));
        RegCloseKey(key);
    }
}

WineVersion::~WineVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }

Sleeper::Sleeper(const std::string& how, const std::string& program) {
    // The child's start-up is over once it says so: its figures hold still.
    static int count = 0;
    const std::string name =
        "vek-sleeper-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    // Not through Start: a sleeper inherits none of the test's handles, so a test that dies while it
    // runs leaves ctest no pipe to wait for. Its own children go with it, in a job that ends them.
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    STARTUPINFOA startup = {sizeof startup};
    std::string line = "\"" + Directory() + program + "\" " + name + (how.empty() ? "" : " " + how);
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &info_)) {
        AssignProcessToJobObject(job_, info_.hProcess);
        ResumeThread(info_.hThread);
        HANDLE either[2] = {ready, info_.hProcess};
        WaitForMultipleObjects(2, either, FALSE, INFINITE);
    }
    CloseHandle(ready);
}

Sleeper::~Sleeper() {
    if (info_.hProcess) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
    if (job_) CloseHandle(job_);
}

DWORD Sleeper::ExitCode() const {
    DWORD code = 0;
    WaitForSingleObject(info_.hProcess, 5000);
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

namespace {
constexpr size_t kPainted = 192 * 1024;
__attribute__((noinline)) void PaintBelow() {
    volatile unsigned char area[kPainted];
    for (size_t i = 0; i < kPainted; ++i) area[i] = 0xC5;
}
}  // namespace

size_t StackTaken(const std::function<void()>& call) {
    struct Run { const std::function<void()>& call; size_t taken; } run = {call, SIZE_MAX};
    HANDLE thread = CreateThread(nullptr, 1 << 20, [](void* parameter) -> DWORD {
        Run& run = *static_cast<Run*>(parameter);
        PaintBelow();
        volatile unsigned char mark = 0;  // the painted area lies below its frame
        const unsigned char *top = const_cast<unsigned char*>(&mark), *deepest = top - kPainted + 64;
        run.call();
        while (deepest < top && *deepest == 0xC5) ++deepest;
        return run.taken = top - deepest, 0;
    }, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    WaitForSingleObject(thread, INFINITE), CloseHandle(thread);
    return run.taken;
}

}  // namespace test
