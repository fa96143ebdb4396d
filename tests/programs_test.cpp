// The shipped programs, started as a user would start them and watched from outside.
#include <gtest/gtest.h>

#include <string>

#include "main_window.h"
#include "test_support.h"

using namespace test_support;

namespace {

HWND focus_of(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

}  // namespace

TEST(InteractiveProgram, ShowsCentredWithAnEmptyLabelAndCleanFocusedAndExitEndsIt) {
    started_process p = start_process(command_line(bin_path("ramclean.exe")));
    HWND window = wait_for_main_window(p.id);
    ASSERT_NE(window, nullptr);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - 289) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - 126) / 2);
    EXPECT_EQ(rect.right - rect.left, 289);
    EXPECT_EQ(rect.bottom - rect.top, 126);
    EXPECT_EQ(status_text(window), "");
    EXPECT_TRUE(wait_until(
        [&] { return focus_of(window) == GetDlgItem(window, ramclean::clean_button_id); }));

    PostMessageA(GetDlgItem(window, ramclean::exit_button_id), BM_CLICK, 0, 0);
    EXPECT_EQ(wait_exit(p), 0u);
}
