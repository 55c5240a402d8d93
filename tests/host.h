// Drives the built extender the way the interpreter does: LoadLibrary, the
// two exports, the host's records and a callback that copies the result.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "keyword_registry.h"
#include "vek_host.h"
#include "wine_only.h"

namespace test {

// What one keyword call delivered.
struct Outcome {
    int32_t returned = 0;  // what VEKExtender2 returned
    int calls = 0;         // how often the callback ran
    int32_t status = 0;
    int32_t type = 0;
    int32_t value = 0;
    std::string text;
    uint32_t hostTag = 0;  // as the callback received it
    uint32_t sentTag = 0;  // as the call passed it
    vek::HostContext* context = nullptr;
    vek::ResultSlot* result = nullptr;
};

class Host {
public:
    // Loads the extender beside the running test program (or `path`).
    // Unless `accounting` is false (the benchmark), every keyword call fails
    // the running test when it leaves a block, handle, key, library or PDH
    // query behind.
    explicit Host(const std::string& path = std::string(), bool accounting = true);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }
    DWORD LoadError() const { return loadError_; }

    int32_t Initialise(uint32_t hostVersion = vek::kMinimumHostVersion, char* refusal = nullptr);
    int32_t Enumerate(uint32_t index, vek::KeywordEntry* entry);
    int32_t Terminate();
    int32_t Query(int32_t code, void* buffer, int32_t length);

    // A keyword call with the given argument texts, one slot each.
    Outcome Call(int32_t callCode, const std::vector<std::string>& args = {},
                 void* hostWindow = nullptr);

    // The call's message or result text, status checked by the caller.
    std::string Text(int32_t callCode, const std::vector<std::string>& args = {}) {
        return Call(callCode, args).text;
    }
    uint32_t LastError() { return static_cast<uint32_t>(Call(14).value); }

    vek::ResultSlot slot;  // the record a keyword call writes to
    vek::HostContext context;

private:
    HMODULE module_ = nullptr;
    DWORD loadError_ = 0;
    bool accounting_;
    vek::VEKExtender2Proc call_ = nullptr;
    vek::VEKExtenderQueryProc query_ = nullptr;
};

// Keyword ids by the keyword's name, from the registry: tGetData is 22.
using namespace vek::keyword_id;

int32_t LastCallbackReturn();  // what the callback returned last
std::string Directory();  // of the running test program, with a trailing backslash
std::vector<std::string> Split(const std::string& text, char separator);
bool IsUnsignedNumber(const std::string& text);

// What a run is expected to show on stdout or stderr: the whole text, a part
// of it (Has), each of its lines (HasLines), or a text it must not hold (Lacks).
struct Shown {
    enum Kind { kIs, kHas, kHasLines, kLacks, kMatches } kind = kIs;
    std::string text;
    Shown(const char* whole) : text(whole) {}
    Shown(std::string whole) : text(std::move(whole)) {}
    Shown(Kind how, std::string part) : kind(how), text(std::move(part)) {}
};
inline Shown Has(std::string part) { return {Shown::kHas, std::move(part)}; }
inline Shown HasLines(std::string lines) { return {Shown::kHasLines, std::move(lines)}; }
inline Shown Lacks(std::string text) { return {Shown::kLacks, std::move(text)}; }
inline Shown Matches(std::string regex) { return {Shown::kMatches, std::move(regex)}; }  // ECMAScript, anywhere
bool Shows(const std::string& text, const Shown& expected);

bool Save(const std::string& path, const std::string& text);  // a file of these bytes
// A copy of vekrun that loads the PDH double beside it for PDH.DLL: its manifest (with `settings`)
// lists pdh.dll as the application's, which the loader takes before any search, the system folder's too.
bool CopyBesideDouble(const std::string& copy, const std::string& settings = std::string());
void RemoveCopy(const std::string& copy);

// Starts a command line that inherits handles: with `out`, its standard handles are these three
// (a null one: none), else the console's.
bool Start(std::string commandLine, PROCESS_INFORMATION* child, HANDLE in = nullptr, HANDLE out = nullptr,
           HANDLE err = nullptr);
bool ReadWaiting(HANDLE pipe, std::string* into);  // what a pipe holds now; false when it holds nothing
// Runs a command line, returns its exit code, with stdout and stderr; stdin is `in` when given.
DWORD Run(const std::string& commandLine, std::string* out = nullptr, std::string* err = nullptr,
          const std::string* in = nullptr);

// The host's settings file and its "LastError" line.
std::string SettingsFolder();  // ...\Dravolin\Settings under the application-data folder
std::string LastErrorLine();
void ClearLastErrorLine();

// Wine's per-program Windows version, set for one program name and removed
// when the scope ends.
class WineVersion {
public:
    WineVersion(const std::string& program, const std::string& version);
    ~WineVersion();

private:
    std::string key_;
};

// The most of its caller's stack that `call` takes, in bytes: run on a
// thread of its own whose stack is painted first, down to the deepest byte
// the call changed.
size_t StackTaken(const std::function<void()>& call);

// A child program of the tests (tests/sleeper.cpp), started as `how` says (blank: it sleeps until
// it is ended) from `program`, a copy of sleeper.exe beside the tests; it is always terminated
// when the scope ends, and its descendants with it.
class Sleeper {
public:
    explicit Sleeper(const std::string& how = std::string(), const std::string& program = "sleeper.exe");
    ~Sleeper();
    DWORD Id() const { return info_.dwProcessId; }
    bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    void End() const { TerminateProcess(info_.hProcess, 0), WaitForSingleObject(info_.hProcess, 5000); }
    DWORD ExitCode() const;

private:
    PROCESS_INFORMATION info_ = {};
    HANDLE job_ = nullptr;
};

}  // namespace test
