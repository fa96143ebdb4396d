// Start-up, showing, closing and exit codes, seen from outside a program built on the
// main window (tests/helpers/lifecycle_app) and recorded in its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_window.h"
#include "test_support.h"

using namespace test_support;

namespace {

class LifecycleTest : public ::testing::Test {
protected:
    started_process start(const std::string& mode, const char* working_folder = nullptr,
                          const std::string& program = bin_path("lifecycle_app.exe")) {
        return start_process(command_line(program, "\"" + log + "\" " + mode), working_folder);
    }
    temp_folder folder;
    std::string log = folder.file("events.log");
};

}  // namespace

TEST_F(LifecycleTest, EachWayOfClosingRaisesWillBeDestroyedOnceAndExitsWithZero) {
    const struct {
        const char* name;
        void (*close)(HWND window);
        std::vector<std::string> expected_tail;
    } ways[] = {
        {"Exit button",
         [](HWND w) { PostMessageA(GetDlgItem(w, ramclean::exit_button_id), BM_CLICK, 0, 0); },
         {"shown label=", "exit", "will-be-destroyed", "exit-code 0"}},
        {"WM_CLOSE",
         [](HWND w) { PostMessageA(w, WM_CLOSE, 0, 0); },
         {"shown label=", "will-be-destroyed", "exit-code 0"}},
        {"Alt+F4",
         [](HWND w) {
             // Alt held: bit 29 of the key data. The key goes to the focused button.
             PostMessageA(GetDlgItem(w, ramclean::clean_button_id), WM_SYSKEYDOWN, VK_F4,
                          0x20000001 | (0x3E << 16));
         },
         {"shown label=", "will-be-destroyed", "exit-code 0"}},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        DeleteFileA(log.c_str());
        started_process p = start("normal");
        HWND window = wait_for_main_window(p.id);
        ASSERT_NE(window, nullptr);
        way.close(window);
        EXPECT_EQ(wait_exit(p), 0u);
        auto events = file_lines(log);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events[0].rfind("created hidden label=11111111111 ", 0), 0u) << events[0];
        events.erase(events.begin());
        EXPECT_EQ(events, way.expected_tail);
    }
}

namespace {

void click_exit_when_shown(const started_process& p) {
    HWND window = wait_for_main_window(p.id);
    ASSERT_NE(window, nullptr);
    PostMessageA(GetDlgItem(window, ramclean::exit_button_id), BM_CLICK, 0, 0);
}

void watch_that_no_window_shows(const started_process& p) {
    int polls = 0;
    bool shown = false;
    while (WaitForSingleObject(p.process.get(), 20) == WAIT_TIMEOUT && polls < 500) {
        ++polls;
        shown = shown || !top_level_windows(p.id, true).empty();
    }
    EXPECT_GT(polls, 20) << "the program lived long enough to be watched";
    EXPECT_FALSE(shown);
}

}  // namespace

// Each course from start to exit code 0, as the program's log records it after its first line.
TEST_F(LifecycleTest, EachCourseRaisesItsEventsInOrderAndExitsWithZero) {
    const struct {
        const char* mode;
        void (*drive)(const started_process&);
        std::vector<std::string> tail;
        const char* why;
    } courses[] = {
        {"double-request",
         click_exit_when_shown,
         {"shown label=", "exit", "will-be-destroyed", "exit-code 0"},
         "two destroy requests made before dispatch destroy the window once"},
        {"request-in-created",
         nullptr,
         {"shown label=", "will-be-destroyed", "exit-code 0"},
         "creation runs on to showing the window; the loop then destroys it"},
        {"hidden",
         watch_that_no_window_shows,
         {"will-be-destroyed", "exit-code 0"},
         "a hidden program never shows a window and ends by itself"},
    };
    for (const auto& course : courses) {
        SCOPED_TRACE(course.mode);
        DeleteFileA(log.c_str());
        started_process p = start(course.mode);
        if (course.drive != nullptr) course.drive(p);
        EXPECT_EQ(wait_exit(p), 0u);
        const auto events = file_lines(log);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(std::vector<std::string>(events.begin() + 1, events.end()), course.tail)
            << course.why;
    }
}

TEST_F(LifecycleTest, WorksInTheFolderOfItsExecutableWhateverItWasStartedIn) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    started_process p = start("request-in-created", windows);
    EXPECT_EQ(wait_exit(p), 0u);
    EXPECT_NE(file_lines(log).at(0).find(" folder=" + executable_folder()), std::string::npos)
        << file_lines(log).at(0);
}

TEST_F(LifecycleTest, ProgramInADriveRootWorksInThatRootNotTheDrivesLastFolder) {
    // "C:" alone would mean drive C's remembered folder; the root must keep its backslash.
    const std::string program = "C:\\lifecycle_app_root_test.exe";
    ASSERT_TRUE(CopyFileA(bin_path("lifecycle_app.exe").c_str(), program.c_str(), FALSE));
    SetCurrentDirectoryA("C:\\windows");  // drive C's remembered folder is no longer the root
    started_process p = start("request-in-created", nullptr, program);
    EXPECT_EQ(wait_exit(p), 0u);
    SetCurrentDirectoryA(executable_folder().c_str());
    DeleteFileA(program.c_str());
    const auto first = file_lines(log).at(0);
    EXPECT_EQ(first.substr(first.find(" folder=")), " folder=C:\\");
}

TEST_F(LifecycleTest, FailedCreationShowsOneErrorBoxAndExitsWithMinusOne) {
    for (const char* mode : {"fail-main", "fail-control"}) {
        SCOPED_TRACE(mode);
        DeleteFileA(log.c_str());
        started_process p = start(mode);
        HWND box = nullptr;
        ASSERT_TRUE(wait_until([&] {
            for (HWND w : top_level_windows(p.id, true)) {
                char window_class[32] = {};
                GetClassNameA(w, window_class, sizeof window_class);
                if (std::string(window_class) == "#32770") box = w;
            }
            return box != nullptr;
        }));
        EXPECT_EQ(top_level_windows(p.id, true).size(), 1u) << "only the error box is shown";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(wait_exit(p), static_cast<DWORD>(-1));
        EXPECT_EQ(file_lines(log), std::vector<std::string>{"exit-code -1"}) << "no handler ran";
    }
}
