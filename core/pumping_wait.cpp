#include "pumping_wait.h"

#include <windows.h>

#include "main_window.h"

namespace ramclean {
namespace {

bool quit_is_next() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message == WM_QUIT;
}

// Sleeps until a message arrives or `timeout_ms` has passed. While WM_QUIT is next the
// message wait would return at once, again and again, and nothing behind the quit may be
// handled anyway: then only a message sent from another thread ends the sleep early.
void sleep_until_message(DWORD timeout_ms) {
    if (quit_is_next())
        MsgWaitForMultipleObjectsEx(0, nullptr, timeout_ms, QS_SENDMESSAGE, 0);
    else
        MsgWaitForMultipleObjectsEx(0, nullptr, timeout_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace

void pumping_pass() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
        int quit_code = 0;
        if (!handle_one_message(&quit_code)) {
            // A quit got ahead of the peeked message: put it back for the main loop.
            PostQuitMessage(quit_code);
            return;
        }
    }
}

void pumping_wait(int duration_ms) {
    if (duration_ms <= 0) return;
    // 64 bits: the deadline never wraps, so the wait always ends.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(duration_ms);
    for (;;) {
        // Two passes before each look at the clock: the second handles what the first one's
        // handlers posted (a repaint after a status text, a destroy request), so that it runs
        // before the wait can end rather than after it.
        pumping_pass();
        pumping_pass();
        const ULONGLONG now = GetTickCount64();
        if (now > deadline) return;
        sleep_until_message(static_cast<DWORD>(deadline - now + 1));
    }
}

}  // namespace ramclean
