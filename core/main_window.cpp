#include "main_window.h"

#include <string>

#include "handles.h"
#include "process.h"
#include "status_label.h"
#include "window_class.h"

namespace ramclean {
namespace {

constexpr char main_window_class[] = "RamCleanMainWindow";
constexpr char main_window_title[] = "Tovrel-深度清理运存";
static_assert(sizeof(main_window_title) == 20, "texts must be compiled to code page 936");
constexpr char clean_button_text[] = "清理内存";
constexpr char exit_button_text[] = "退出程序";
// A placeholder that every created handler replaces before the window can be seen: should it
// ever show, a handler forgot to set the label.
constexpr char status_label_creation_text[] = "11111111111";
constexpr char start_failed_text[] = "启动窗口加载失败，程序无法运行。";
constexpr char icon_group_name[] = "DEFAULT_ICON";

constexpr DWORD main_window_style =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD button_style =
    WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE;

struct main_window_state {
    HWND hwnd = nullptr;
    program_settings settings;
    bool events_enabled = false;  // no handler runs before the created event
    bool destroy_requested = false;
    HWND last_focus = nullptr;  // control to give the focus back to on activation
    icon_handle big_icon, small_icon;
};

main_window_state window_state;
bool loop_entered = false;  // one per process

void raise(event_handler handler) {
    if (window_state.events_enabled && handler != nullptr) handler();
}

void on_command(WPARAM wparam) {
    if (HIWORD(wparam) != BN_CLICKED) return;
    switch (LOWORD(wparam)) {
        case clean_button_id: raise(window_state.settings.events.clean_clicked); break;
        case exit_button_id: raise(window_state.settings.events.exit_clicked); break;
    }
}

void on_activate(HWND hwnd, WPARAM wparam) {
    if (LOWORD(wparam) != WA_INACTIVE) return;
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(hwnd, focus)) window_state.last_focus = focus;
}

void on_set_focus(HWND hwnd) {
    HWND target = window_state.last_focus;
    if (target == nullptr || !IsWindow(target) || !IsChild(hwnd, target))
        target = GetDlgItem(hwnd, clean_button_id);
    if (target != nullptr) SetFocus(target);
}

void paint_background(HWND hwnd) {
    paint_guard paint(hwnd);
    FillRect(paint.dc(), &paint.area(), GetSysColorBrush(COLOR_BTNFACE));
}

void on_destroy_request(HWND hwnd) {
    if (!window_state.destroy_requested) return;
    window_state.destroy_requested = false;
    DestroyWindow(hwnd);
}

void on_nc_destroy() {
    window_state.hwnd = nullptr;
    window_state.events_enabled = false;
    window_state.destroy_requested = false;
    window_state.last_focus = nullptr;
    window_state.big_icon.reset();
    window_state.small_icon.reset();
    if (loop_entered) PostQuitMessage(0);
}

// Nothing thrown may unwind through the system's message dispatch: an exception that escapes
// a handler ends the program here rather than somewhere inside user32.
LRESULT CALLBACK main_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    switch (message) {
        case WM_NCCREATE: window_state.hwnd = hwnd; break;
        case WM_COMMAND: on_command(wparam); return 0;
        case WM_ACTIVATE: on_activate(hwnd, wparam); break;
        case WM_SETFOCUS: on_set_focus(hwnd); return 0;
        case WM_PAINT: paint_background(hwnd); return 0;
        case destroy_request_message: on_destroy_request(hwnd); return 0;
        case WM_DESTROY: raise(window_state.settings.events.will_be_destroyed); return 0;
        case WM_NCDESTROY: on_nc_destroy(); break;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

bool register_main_window_class(HINSTANCE instance) {
    return register_self_painting_class(instance, main_window_class, main_window_proc);
}

void set_default_gui_font(HWND hwnd) {
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 TRUE);
}

void load_window_icons(HWND hwnd, HINSTANCE instance) {
    auto load = [instance](int size) {
        return icon_handle(static_cast<HICON>(
            LoadImageA(instance, icon_group_name, IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    };
    window_state.big_icon = load(32);
    window_state.small_icon = load(16);
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(window_state.big_icon.get()));
    SendMessageA(hwnd, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(window_state.small_icon.get()));
}

HWND create_button(HWND parent, HINSTANCE instance, const char* text, int left, int id) {
    HWND button =
        CreateWindowExA(0, "BUTTON", text, button_style, left, 24, 80, 32, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (button != nullptr) set_default_gui_font(button);
    return button;
}

// Creates the three controls hidden, orders them (label on top) and shows them.
bool create_controls(HWND hwnd, HINSTANCE instance) {
    HWND clean = create_button(hwnd, instance, clean_button_text, 32, clean_button_id);
    if (clean == nullptr) return false;
    HWND exit = create_button(hwnd, instance, exit_button_text, 160, exit_button_id);
    if (exit == nullptr) return false;
    HWND label = create_status_label(hwnd, instance, status_label_creation_text, 0, 64, 280, 24,
                                     status_label_id);
    if (label == nullptr) return false;

    constexpr UINT order_flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    SetWindowPos(label, HWND_TOP, 0, 0, 0, 0, order_flags);
    SetWindowPos(exit, label, 0, 0, 0, 0, order_flags);
    SetWindowPos(clean, exit, 0, 0, 0, 0, order_flags);
    for (HWND control : {clean, exit, label}) ShowWindow(control, SW_SHOWNA);
    return true;
}

// Tab and Shift+Tab cycle between the buttons; Enter, Esc, F1 and the arrows do nothing.
bool pre_translate(const MSG& msg) {
    HWND main = window_state.hwnd;
    if (main == nullptr || (msg.hwnd != main && !IsChild(main, msg.hwnd))) return false;
    if (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP) return false;
    switch (msg.wParam) {
        case VK_TAB:
            if (msg.message == WM_KEYDOWN) {
                HWND focus = GetFocus();
                if (focus != nullptr && !IsChild(main, focus)) focus = nullptr;
                HWND next = GetNextDlgTabItem(main, focus, GetKeyState(VK_SHIFT) < 0);
                if (next != nullptr) SetFocus(next);
            }
            return true;
        case VK_RETURN:
        case VK_ESCAPE:
        case VK_F1:
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN: return true;
    }
    return false;
}

}  // namespace

HWND main_window() noexcept { return window_state.hwnd; }

void enter_executable_folder() {
    if (const auto folder = executable_folder()) SetCurrentDirectoryA(folder->c_str());
}

bool create_main_window(const program_settings& settings) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!register_main_window_class(instance) || !register_status_label_class(instance))
        return false;
    window_state.settings = settings;
    window_state.events_enabled = false;
    window_state.destroy_requested = false;
    window_state.last_focus = nullptr;

    const int left = (GetSystemMetrics(SM_CXSCREEN) - main_window_width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - main_window_height) / 2;
    HWND hwnd =
        CreateWindowExA(0, main_window_class, main_window_title, main_window_style, left, top,
                        main_window_width, main_window_height, nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) return false;

    // The system may have adjusted the size asked for (a minimum tracking size, a shell's
    // scaling): put back the outer size that the controls' layout is drawn for.
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    if (rect.right - rect.left != main_window_width || rect.bottom - rect.top != main_window_height)
        MoveWindow(hwnd, left, top, main_window_width, main_window_height, TRUE);
    load_window_icons(hwnd, instance);
    set_default_gui_font(hwnd);
    if (!create_controls(hwnd, instance)) {
        DestroyWindow(hwnd);
        return false;
    }

    window_state.events_enabled = true;
    raise(settings.events.created);
    // A handler may have destroyed the window already (a nested pump can dispatch a
    // destroy request); then there is nothing left to show.
    if (window_state.hwnd != hwnd) return true;
    if (settings.visible) ShowWindow(hwnd, SW_SHOW);
    return true;
}

bool handle_one_message(int* quit_code) {
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
        if (quit_code != nullptr) *quit_code = got == 0 ? static_cast<int>(msg.wParam) : -1;
        return false;
    }
    if (!pre_translate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

int run_message_loop() {
    loop_entered = true;
    if (window_state.hwnd == nullptr) return 0;
    int quit_code = 0;
    for (;;) {
        MSG peeked;
        if (!PeekMessageA(&peeked, nullptr, 0, 0, PM_NOREMOVE))
            raise(window_state.settings.events.idle);
        if (!handle_one_message(&quit_code)) return quit_code;
    }
}

void set_status_text(const char* text) {
    if (window_state.hwnd == nullptr) return;
    HWND label = GetDlgItem(window_state.hwnd, status_label_id);
    if (label == nullptr) return;
    SetWindowTextA(label, text);
    InvalidateRect(label, nullptr, FALSE);
}

void destroy_request() {
    if (window_state.hwnd == nullptr) return;
    window_state.destroy_requested = true;
    PostMessageA(window_state.hwnd, destroy_request_message, 0, 0);
}

int run_program(const program_settings& settings) {
    enter_executable_folder();
    if (!create_main_window(settings)) {
        MessageBoxA(nullptr, start_failed_text, main_window_title, MB_ICONERROR);
        return -1;
    }
    return run_message_loop();
}

}  // namespace ramclean
