// A child process for the tests: tells its parent it is up (by setting the
// event named on its command line), then sleeps until it is ended, ending
// itself after five minutes so that no test run can leave it behind.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc > 1) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    Sleep(5 * 60 * 1000);
    return 0;
}
