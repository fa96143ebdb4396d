#pragma once
// The program's one top-level window, its events, the message loop and start-up.
#include <windows.h>

namespace ramclean {

using event_handler = void (*)();

// Handlers a program binds to the main window's events; a null handler does nothing.
struct window_events {
    event_handler created = nullptr;            // after the controls exist, before showing
    event_handler clean_clicked = nullptr;      // BN_CLICKED of the Clean button
    event_handler exit_clicked = nullptr;       // BN_CLICKED of the Exit button
    event_handler will_be_destroyed = nullptr;  // WM_DESTROY; window and controls still exist
    event_handler idle = nullptr;               // main loop found its queue empty
};

struct program_settings {
    bool visible = true;  // show the window once the created handler has returned
    window_events events;
};

inline constexpr int clean_button_id = 100;
inline constexpr int exit_button_id = 110;
inline constexpr int status_label_id = 120;
inline constexpr UINT destroy_request_message = WM_APP + 0x65;
inline constexpr int main_window_width = 289;
inline constexpr int main_window_height = 126;

// Start-up: works in the executable's folder, creates the main window and runs the
// message loop. Returns the process exit code (-1 when the window could not be created,
// after an error box).
int run_program(const program_settings& settings);

// Makes the folder of the running executable the current directory.
void enter_executable_folder();

// Creates the main window and its controls, raises the created event and shows the
// window when the settings ask for it. False when the window or a control could not be
// created; nothing is left behind then and no handler has run.
[[nodiscard]] bool create_main_window(const program_settings& settings);

// The main window, or null when there is none (not created yet, or destroyed).
[[nodiscard]] HWND main_window() noexcept;

// Sets the loop-entered flag and, while the main window exists, runs the main message
// loop until WM_QUIT. Returns the code that WM_QUIT carried (0 when the loop did not run).
int run_message_loop();

// Takes the next message with GetMessageA and pre-translates, translates and dispatches
// it. False when the message was WM_QUIT (its exit code goes to *quit_code if given).
bool handle_one_message(int* quit_code = nullptr);

// Replaces the status label's text; it shows at the label's next WM_PAINT.
// Does nothing once the main window is gone.
void set_status_text(const char* text);

// Asks for the main window to be destroyed when the posted request is dispatched.
void destroy_request();

}  // namespace ramclean
