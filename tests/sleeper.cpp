// A child process for the tests: tells its parent it is up (by setting the
// event named on its command line), then sleeps until it is ended, ending
// itself after five minutes so that no test run can leave it behind.
//   sleeper NAME                 sleeps
//   sleeper NAME spin            keeps a processor busy
//   sleeper NAME exit CODE MS    exits with CODE after MS milliseconds
//   sleeper NAME tree DEPTH      starts a child "tree DEPTH-1" (none at 0) and
//                                says it is up once the child has, then sleeps
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

void SayReady(const char* name) {
    if (HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name)) {
        SetEvent(ready);
        CloseHandle(ready);
    }
}

// The child of a tree, started from this program's own file.
void StartChild(const std::string& name, int depth) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string childName = name + "c";
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, childName.c_str());
    std::string line = "\"" + std::string(self) + "\" " + childName + " tree " + std::to_string(depth - 1);
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION child = {};
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        HANDLE either[2] = {ready, child.hProcess};
        WaitForMultipleObjects(2, either, FALSE, 60000);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    CloseHandle(ready);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[2] : "";
    if (mode == "tree" && argc > 3 && atoi(argv[3]) > 0) StartChild(argv[1], atoi(argv[3]));
    if (argc > 1) SayReady(argv[1]);
    if (mode == "exit" && argc > 4) {
        Sleep(static_cast<DWORD>(atoi(argv[4])));
        return atoi(argv[3]);
    }
    const ULONGLONG end = GetTickCount64() + 5 * 60 * 1000;
    if (mode == "spin") {
        for (volatile unsigned long long turns = 0; GetTickCount64() < end;) ++turns;
        return 0;
    }
    Sleep(5 * 60 * 1000);
    return 0;
}
