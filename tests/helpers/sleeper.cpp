// Waits to be ended from outside, so that tests can find it by its image name (copies of
// it run under many names). Gives up after a minute: nothing outlives a failed test.
// With --end-self it asks terminate_by_name to end the process of its own image name.
// When RAMCLEAN_SLEEPER_JOURNAL names a file, each start appends its arguments there as a
// line, so that a test can count how often it was started.
#include <stdlib.h>  // __argc, __argv
#include <windows.h>

#include <cstring>
#include <string>

#include "handles.h"
#include "terminate_by_name.h"

namespace {

void record_start() {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("RAMCLEAN_SLEEPER_JOURNAL", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    std::string line;
    for (int i = 1; i < __argc; ++i) line += (i > 1 ? " " : "") + std::string(__argv[i]);
    line += "\r\n";
    // Append-only access keeps lines whole when several copies start at once.
    ramclean::file_handle journal(CreateFileA(path, FILE_APPEND_DATA,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (journal)
        WriteFile(journal.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    record_start();
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
