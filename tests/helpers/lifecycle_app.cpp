// A program built on the main window like ramclean, with handlers that record what
// happens to a log file. Usage: lifecycle_app <log-file> <mode>
//   normal              visible; Exit makes one destroy request
//   double-request      visible; Exit makes two destroy requests at once
//   request-in-created  visible; the created handler makes the destroy request
//   hidden              not visible; ends by itself after 1.5 s
//   fail-main           creating the main window fails
//   fail-control        creating the status label fails
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "main_window.h"
#include "test_support.h"

namespace {

std::string log_path;
std::string mode;

void log_line(const std::string& line) {
    if (FILE* f = std::fopen(log_path.c_str(), "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string visible_state() {
    return IsWindowVisible(ramclean::main_window()) ? "visible" : "hidden";
}

std::string label_text() { return test_support::status_text(ramclean::main_window()); }

void CALLBACK end_hidden_run(HWND, UINT, UINT_PTR, DWORD) noexcept { ramclean::destroy_request(); }

void on_created() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    log_line("created " + visible_state() + " label=" + label_text() + " folder=" + folder);
    ramclean::set_status_text("");
    if (mode == "request-in-created") ramclean::destroy_request();
    if (mode == "hidden") SetTimer(ramclean::main_window(), 1, 1500, end_hidden_run);
}

void on_exit_clicked() {
    log_line("exit");
    ramclean::destroy_request();
    if (mode == "double-request") ramclean::destroy_request();
}

void on_will_be_destroyed() { log_line("will-be-destroyed"); }

// Cancels the creation of one window class, so that start-up meets a failed CreateWindowEx.
std::string failing_class;
HHOOK hook;
LRESULT CALLBACK refuse_creation(int code, WPARAM wparam, LPARAM lparam) noexcept {
    if (code == HCBT_CREATEWND) {
        auto* create = reinterpret_cast<CBT_CREATEWNDA*>(lparam)->lpcs;
        if (!IS_INTRESOURCE(create->lpszClass) && failing_class == create->lpszClass) return 1;
    }
    return CallNextHookEx(hook, code, wparam, lparam);
}

// Records the moment the main window is shown.
HHOOK show_hook;
LRESULT CALLBACK watch_showing(int code, WPARAM wparam, LPARAM lparam) noexcept {
    const auto* message = reinterpret_cast<CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && message->message == WM_SHOWWINDOW && message->wParam &&
        message->hwnd == ramclean::main_window())
        log_line("shown label=" + label_text());
    return CallNextHookEx(show_hook, code, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    log_path = argv[1];
    mode = argv[2];
    if (mode == "fail-main") failing_class = "RamCleanMainWindow";
    if (mode == "fail-control") failing_class = "RamCleanStatusLabel";
    if (!failing_class.empty())
        hook = SetWindowsHookExA(WH_CBT, refuse_creation, nullptr, GetCurrentThreadId());
    show_hook = SetWindowsHookExA(WH_CALLWNDPROC, watch_showing, nullptr, GetCurrentThreadId());
    const int code = ramclean::run_program({.visible = mode != "hidden",
                                            .events = {.created = on_created,
                                                       .exit_clicked = on_exit_clicked,
                                                       .will_be_destroyed = on_will_be_destroyed}});
    log_line("exit-code " + std::to_string(code));
    return code;
}
