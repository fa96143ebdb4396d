#include "status_label.h"

#include "handles.h"
#include "window_class.h"

namespace ramclean {
namespace {

constexpr char status_label_class[] = "RamCleanStatusLabel";

// Made anew for every painting and deleted after it; the face is left to the font mapper.
LOGFONTA label_font() {
    LOGFONTA font{};
    font.lfHeight = -14;
    font.lfWeight = FW_BOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = PROOF_QUALITY;
    return font;
}

// Painting allocates nothing: the text is read into a buffer on the stack. One line of 280
// pixels shows a few dozen characters; our texts are far shorter than the buffer.
constexpr int text_buffer_size = 512;

// Nothing thrown may unwind through the system's message dispatch.
LRESULT CALLBACK status_label_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    switch (message) {
        case WM_PAINT: {
            paint_guard paint(hwnd);
            paint_status_label(hwnd, paint.dc(), paint.area());
            return 0;
        }
        case WM_PRINTCLIENT: {
            RECT client{};
            GetClientRect(hwnd, &client);
            paint_status_label(hwnd, reinterpret_cast<HDC>(wparam), client);
            return 0;
        }
        case WM_ERASEBKGND: return 1;  // WM_PAINT fills the background
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

}  // namespace

bool register_status_label_class(HINSTANCE instance) {
    return register_self_painting_class(instance, status_label_class, status_label_proc);
}

HWND create_status_label(HWND parent, HINSTANCE instance, const char* text, int left, int top,
                         int width, int height, int id) {
    return CreateWindowExA(0, status_label_class, text, WS_CHILD | WS_CLIPSIBLINGS, left, top,
                           width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           instance, nullptr);
}

void paint_status_label(HWND label, HDC dc, const RECT& area) noexcept {
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
    char text[text_buffer_size];
    const int length = GetWindowTextA(label, text, text_buffer_size);
    if (length <= 0) return;

    const LOGFONTA font_spec = label_font();
    gdi_object font(CreateFontIndirectA(&font_spec));
    HGDIOBJ chosen = font ? font.get() : GetStockObject(DEFAULT_GUI_FONT);
    selected_object selection(dc, chosen);  // released before the font is deleted
    const int old_mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF old_colour = SetTextColor(dc, RGB(0, 0, 0));
    RECT client{};
    GetClientRect(label, &client);
    DrawTextA(dc, text, length, &client, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetTextColor(dc, old_colour);
    SetBkMode(dc, old_mode);
}

}  // namespace ramclean
