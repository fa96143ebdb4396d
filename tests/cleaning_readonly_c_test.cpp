// Cleaning runs where C:\ refuses new files, as it does for a user who is not elevated:
// C: is a read-only mount (see fixtures/c-drive-mounts.sh).
#include <gtest/gtest.h>

#include "main_window.h"
#include "test_support.h"

using namespace test_support;

namespace {

class CleaningOnReadOnlyC : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test_support::c_drive_is("readonly"))
            GTEST_SKIP() << "C: is not the read-only mount (mount refused?)";
    }
};

}  // namespace

TEST_F(CleaningOnReadOnlyC, AutomaticProgramEndsAtOnceWithExitCodeOne) {
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(run(command_line(bin_path("ramclean-auto.exe"))), 1u);
    EXPECT_LT(GetTickCount64() - started, 5000u) << "no settle time without a tool run";
    EXPECT_FALSE(exists(ramclean::tool_image_path));
    EXPECT_FALSE(exists(ramclean::cleaning_script_path));
}

TEST_F(CleaningOnReadOnlyC, InteractiveProgramAsksToBeRunAsAdministrator) {
    started_process p = start_process(command_line(bin_path("ramclean.exe")));
    HWND window = nullptr;
    ASSERT_TRUE(wait_until([&] {
        for (HWND w : top_level_windows(p.id, true)) window = w;
        return window != nullptr;
    }));
    PostMessageA(GetDlgItem(window, ramclean::clean_button_id), BM_CLICK, 0, 0);
    EXPECT_TRUE(wait_for_status_text(window, needs_admin_text, std::chrono::seconds(3)));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(wait_exit(p), 0u);
}
