// Waits to be ended from outside, so that tests can find it by its image name (copies of
// it run under many names). Gives up after a minute: nothing outlives a failed test.
// With --end-self it asks terminate_by_name to end the process of its own image name.
#include <stdlib.h>  // __argc, __argv
#include <windows.h>

#include <cstring>

#include "terminate_by_name.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc > 1 && std::strcmp(__argv[1], "--end-self") == 0) {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        const char* name = std::strrchr(path, '\\');
        // Reaching the return means we were not ended: 3 after a claimed success, else 4.
        return ramclean::terminate_by_name(name != nullptr ? name + 1 : path) ? 3 : 4;
    }
    Sleep(60000);
    return 42;
}
