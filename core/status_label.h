#pragma once
// The one-line status label: a window class of our own that paints its window text.
#include <windows.h>

namespace ramclean {

[[nodiscard]] bool register_status_label_class(HINSTANCE instance);

// Creates the label hidden, as a child of `parent`, at the given client position.
HWND create_status_label(HWND parent, HINSTANCE instance, const char* text, int left, int top,
                         int width, int height, int id);

// Paints the label into `dc`: button face over `area`, then the text, if any, in bold
// black, centred on one line at the top and clipped at the label's edges.
void paint_status_label(HWND label, HDC dc, const RECT& area) noexcept;

}  // namespace ramclean
