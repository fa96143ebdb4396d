// Looks at a program's main window from outside, for shell scripts.
// Windows are named by their window class, since a shell hands Wine its arguments as UTF-8.
// Usage: probe wait-visible <class> <timeout-ms>   exit 0 once a window of the class is visible
//        probe close <class>                       posts WM_CLOSE to it
//        probe click <class> <control-id>          posts BM_CLICK to the control
//        probe text <class> <control-id>           prints the control's text, hex-coded bytes
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const char* command = argv[1];
    const char* window_class = argv[2];
    if (std::strcmp(command, "wait-visible") == 0) {
        const DWORD deadline = GetTickCount() + (argc > 3 ? std::atoi(argv[3]) : 10000);
        while (GetTickCount() < deadline) {
            HWND w = FindWindowA(window_class, nullptr);
            if (w != nullptr && IsWindowVisible(w)) return 0;
            Sleep(50);
        }
        return 1;
    }
    HWND w = FindWindowA(window_class, nullptr);
    if (w == nullptr) return 1;
    if (std::strcmp(command, "close") == 0) return PostMessageA(w, WM_CLOSE, 0, 0) ? 0 : 1;
    if (argc < 4) return 2;
    HWND control = GetDlgItem(w, std::atoi(argv[3]));
    if (control == nullptr) return 1;
    if (std::strcmp(command, "click") == 0) return PostMessageA(control, BM_CLICK, 0, 0) ? 0 : 1;
    if (std::strcmp(command, "text") == 0) {
        char text[256] = {};
        GetWindowTextA(control, text, sizeof text);
        for (const char* c = text; *c != '\0'; ++c)
            std::printf("%02X", static_cast<unsigned char>(*c));
        std::printf("\n");
        return 0;
    }
    return 2;
}
