// Looks at a program's main window from outside, for shell scripts. The window is named
// by the image name of the program that owns it, since a shell hands Wine its arguments as
// UTF-8 and the window's title is code page 936.
// Usage: probe wait-visible <image> <timeout-ms>   exit 0 once its main window is visible
//        probe close <image>                       posts WM_CLOSE to it
//        probe click <image> <control-id>          posts BM_CLICK to the control
//        probe text <image> <control-id>           prints the control's text as hex bytes
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_support.h"

namespace {

// The main window of a process of that image name, or null.
HWND main_window_of(const char* image) {
    for (DWORD id : test_support::processes_named(image))
        for (HWND window : test_support::top_level_windows(id)) {
            char window_class[64] = {};
            GetClassNameA(window, window_class, sizeof window_class);
            if (std::strcmp(window_class, "RamCleanMainWindow") == 0) return window;
        }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const char* command = argv[1];
    const char* image = argv[2];
    if (std::strcmp(command, "wait-visible") == 0) {
        const DWORD deadline = GetTickCount() + (argc > 3 ? std::atoi(argv[3]) : 10000);
        while (GetTickCount() < deadline) {
            HWND w = main_window_of(image);
            if (w != nullptr && IsWindowVisible(w)) return 0;
            Sleep(50);
        }
        return 1;
    }
    HWND w = main_window_of(image);
    if (w == nullptr) return 1;
    if (std::strcmp(command, "close") == 0) return PostMessageA(w, WM_CLOSE, 0, 0) ? 0 : 1;
    if (argc < 4) return 2;
    HWND control = GetDlgItem(w, std::atoi(argv[3]));
    if (control == nullptr) return 1;
    if (std::strcmp(command, "click") == 0) return PostMessageA(control, BM_CLICK, 0, 0) ? 0 : 1;
    if (std::strcmp(command, "text") == 0) {
        for (const char c : test_support::window_text(control))
            std::printf("%02X", static_cast<unsigned char>(c));
        std::printf("\n");
        return 0;
    }
    return 2;
}
