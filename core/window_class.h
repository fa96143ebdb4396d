#pragma once
#include <windows.h>

namespace ramclean {

// Registers a class of ours once per process: double clicks, redraw on resize, the arrow
// cursor, no icon and no background brush (its window procedure paints the background).
inline bool register_self_painting_class(HINSTANCE instance, const char* name, WNDPROC proc) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExA(instance, name, &wc)) return true;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}

}  // namespace ramclean
