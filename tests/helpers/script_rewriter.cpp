// Keeps rewriting a file in place with planted commands, sharing everything, as a program of
// another user could while a cleaning run checks and starts the script.
// Usage: script_rewriter <path> <milliseconds>
// Exit code: how many of its opens were refused in that time.
#include <stdlib.h>  // __argc, __argv
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 3) return -1;
    const char* path = __argv[1];
    const DWORD duration = static_cast<DWORD>(atoi(__argv[2]));
    // Many short lines: wherever the interpreter goes on reading, a whole planted line follows.
    std::string planted;
    while (planted.size() < 600) planted += "echo planted>>C:\\ramclean-planted.txt\r\n";

    const DWORD started = GetTickCount();
    DWORD refused = 0;
    while (GetTickCount() - started < duration) {
        HANDLE file =
            CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            ++refused;
            Sleep(1);
            continue;
        }
        DWORD written = 0;
        WriteFile(file, planted.data(), static_cast<DWORD>(planted.size()), &written, nullptr);
        SetEndOfFile(file);
        CloseHandle(file);
        Sleep(1);  // a few hundred rewrites a second
    }
    return static_cast<int>(refused);
}
