// Cleaning runs where C:\ refuses new files, as it does for a user who is not elevated:
// C: is a read-only mount (see fixtures/c-drive-mounts.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "main_window.h"
#include "test_support.h"

using namespace test_support;

namespace {

// "清理失败，请以管理员身份运行！"
const std::string needs_admin_text =
    "\xC7\xE5\xC0\xED\xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xD2\xD4\xB9\xDC\xC0\xED\xD4\xB1\xC9\xED"
    "\xB7\xDD\xD4\xCB\xD0\xD0\xA3\xA1";

bool on_readonly_c() {
    const char* drive = std::getenv("RAMCLEAN_TEST_C_DRIVE");
    return drive != nullptr && std::string(drive) == "readonly";
}

std::string label_text(HWND window) {
    char text[256] = {};
    GetWindowTextA(GetDlgItem(window, ramclean::status_label_id), text, sizeof text);
    return text;
}

}  // namespace

TEST(CleaningOnReadOnlyC, AutomaticProgramEndsAtOnceWithExitCodeOne) {
    if (!on_readonly_c()) GTEST_SKIP() << "C: is not the read-only mount (mount refused?)";
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(run("\"" + bin_path("ramclean-auto.exe") + "\""), 1u);
    EXPECT_LT(GetTickCount64() - started, 5000u) << "no settle time without a tool run";
    EXPECT_FALSE(exists("C:\\RAMMap.exe"));
    EXPECT_FALSE(exists("C:\\QOLMEDR.bat"));
}

TEST(CleaningOnReadOnlyC, InteractiveProgramAsksToBeRunAsAdministrator) {
    if (!on_readonly_c()) GTEST_SKIP() << "C: is not the read-only mount (mount refused?)";
    started_process p = start_process("\"" + bin_path("ramclean.exe") + "\"");
    HWND window = nullptr;
    ASSERT_TRUE(wait_until([&] {
        for (HWND w : top_level_windows(p.id, true)) window = w;
        return window != nullptr;
    }));
    PostMessageA(GetDlgItem(window, ramclean::clean_button_id), BM_CLICK, 0, 0);
    EXPECT_TRUE(wait_until([&] { return label_text(window) == needs_admin_text; },
                           std::chrono::seconds(3)));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(wait_exit(p), 0u);
}
