// A child process for the tests: sleeps until it is ended, and ends itself
// after five minutes so that no test run can leave it behind.
#include <windows.h>

int main() {
    Sleep(5 * 60 * 1000);
    return 0;
}
