// Looks at a program's main window from outside, for shell scripts. The window is named
// by the image name of the program that owns it, since a shell hands Wine its arguments as
// UTF-8 and the window's title is code page 936.
// Usage: probe wait-visible <image> <timeout-ms>   exit 0 once its main window is visible
//        probe close <image>                       posts WM_CLOSE to it
//        probe click <image> <control-id>          posts BM_CLICK to the control
//        probe text <image> <control-id>           prints the control's text as hex bytes
#include <windows.h>
// Needs the types of windows.h.
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct search {
    const char* image;
    HWND found;
};

bool owned_by(HWND hwnd, const char* image) {
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool match = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !match;
         more = Process32Next(snapshot, &entry))
        match = entry.th32ProcessID == owner && lstrcmpiA(entry.szExeFile, image) == 0;
    CloseHandle(snapshot);
    return match;
}

BOOL CALLBACK check_window(HWND hwnd, LPARAM data) noexcept {
    auto* s = reinterpret_cast<search*>(data);
    char window_class[64] = {};
    GetClassNameA(hwnd, window_class, sizeof window_class);
    if (std::strcmp(window_class, "RamCleanMainWindow") != 0 || !owned_by(hwnd, s->image))
        return TRUE;
    s->found = hwnd;
    return FALSE;
}

HWND main_window_of(const char* image) {
    search s{image, nullptr};
    EnumWindows(check_window, reinterpret_cast<LPARAM>(&s));
    return s.found;
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
        char text[256] = {};
        GetWindowTextA(control, text, sizeof text);
        for (const char* c = text; *c != '\0'; ++c)
            std::printf("%02X", static_cast<unsigned char>(*c));
        std::printf("\n");
        return 0;
    }
    return 2;
}
