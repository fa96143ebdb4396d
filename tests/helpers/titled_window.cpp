// Holds a top-level window titled with its first argument until it is ended (at most a
// minute). The window stays hidden unless --show asks for the show command that the
// process was started with. With --end-self it asks terminate_by_name to end the owner of
// that title, which is itself.
#include <stdlib.h>  // __argc, __argv
#include <windows.h>

#include <cstring>

#include "terminate_by_name.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
    if (__argc < 2) return 2;
    const char* option = __argc > 2 ? __argv[2] : "";
    HWND window = CreateWindowExA(0, "STATIC", __argv[1], WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) return 2;
    if (std::strcmp(option, "--end-self") == 0)
        return ramclean::terminate_by_name(__argv[1]) ? 3 : 4;  // 3 or 4: still alive
    if (std::strcmp(option, "--show") == 0) ShowWindow(window, show_command);
    SetTimer(nullptr, 0, 60000, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) return 42;
        DispatchMessageA(&msg);
    }
    return 42;
}
