// hidden_launch: a batch file given as the whole command line runs, hidden, in the folder
// asked for, and nothing of the launched process stays open in ours. In a job, ending the
// job ends the batch and everything it started.
#include "hidden_launch.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

using ramclean::hidden_launch;
using ramclean::hidden_launch_in_job;
using ramclean::launched_job;

namespace {

class HiddenLaunchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr)); }

    // A batch file that records its arguments and its current directory, in that order.
    std::string write_recording_batch() {
        const std::string batch = folder.file("record.bat");
        EXPECT_TRUE(test_support::write_file(batch, "@echo off\r\necho %*> " +
                                                        folder.file("args.txt") + "\r\ncd> " +
                                                        folder.file("cwd.txt") + "\r\n"));
        return batch;
    }
    // The first line of a file the batch wrote, once it is complete.
    std::string wait_for_line(const std::string& name) {
        std::string line;
        test_support::wait_until([&] {
            auto text = test_support::read_file(folder.file(name));
            if (!text || text->find("\r\n") == std::string::npos) return false;
            line = text->substr(0, text->find("\r\n"));
            return true;
        });
        return line;
    }

    test_support::temp_folder folder;
    const std::string work = folder.file("work");  // another current folder to start in
};

std::string current_directory() {
    char path[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

void end_process_of(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    ramclean::handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

}  // namespace

TEST_F(HiddenLaunchTest, RunsABatchFileGivenAsTheWholeCommandLineInTheFolderAskedFor) {
    const std::string batch = write_recording_batch();
    struct launch_case {
        const char* current_folder;
        std::string expected_folder;
    };
    for (const launch_case& c :
         {launch_case{nullptr, current_directory()}, launch_case{work.c_str(), work}}) {
        SCOPED_TRACE(c.expected_folder);
        DeleteFileA(folder.file("args.txt").c_str());
        DeleteFileA(folder.file("cwd.txt").c_str());
        ASSERT_TRUE(hidden_launch((batch + " alpha beta").c_str(), c.current_folder));
        EXPECT_EQ(wait_for_line("cwd.txt"), c.expected_folder);
        EXPECT_EQ(wait_for_line("args.txt"), "alpha beta");
    }
}

TEST_F(HiddenLaunchTest, AMissingFileGivesFalseAndKeepsTheReasonInTheLastError) {
    const int handles_before = test_support::count_handles(GetCurrentProcessId());
    SetLastError(0);
    EXPECT_FALSE(hidden_launch(folder.file("absent.bat").c_str()));
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    EXPECT_EQ(test_support::count_handles(GetCurrentProcessId()), handles_before);
}

TEST_F(HiddenLaunchTest, LeavesNoHandleOfTheLaunchedProcessOpen) {
    const std::string batch = write_recording_batch();
    // The first launch may open lasting handles of the system's own (a console, say).
    ASSERT_TRUE(hidden_launch(batch.c_str()));
    wait_for_line("cwd.txt");
    const int handles_before = test_support::count_handles(GetCurrentProcessId());
    for (int i = 0; i < 3; ++i) {
        DeleteFileA(folder.file("cwd.txt").c_str());
        ASSERT_TRUE(hidden_launch(batch.c_str()));
        wait_for_line("cwd.txt");
    }
    EXPECT_EQ(test_support::count_handles(GetCurrentProcessId()), handles_before);
}

// A console under Wine has no window to look at, so a windowed program stands in for the
// batch: it shows its window with the show command it was started with.
TEST_F(HiddenLaunchTest, TheLaunchedProgramStartsHiddenWhereAPlainStartShowsIt) {
    const std::string id = std::to_string(GetCurrentProcessId());
    const std::string hidden_title = "rc_hidden_" + id, shown_title = "rc_shown_" + id;
    const std::string program = test_support::bin_path("titled_window.exe");

    ASSERT_TRUE(hidden_launch((program + " " + hidden_title + " --show").c_str()));
    test_support::started_process shown =
        test_support::start_process(program + " " + shown_title + " --show");
    ASSERT_TRUE(shown.process);

    HWND hidden_window = nullptr, shown_window = nullptr;
    ASSERT_TRUE(test_support::wait_until([&] {
        hidden_window = FindWindowA(nullptr, hidden_title.c_str());
        shown_window = FindWindowA(nullptr, shown_title.c_str());
        return hidden_window != nullptr && shown_window != nullptr;
    }));
    // Both have shown their windows once they wait for messages.
    for (HWND window : {hidden_window, shown_window}) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        ramclean::handle process(OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid));
        EXPECT_EQ(WaitForInputIdle(process.get(), 10000), 0u);
    }
    EXPECT_FALSE(IsWindowVisible(hidden_window));
    EXPECT_TRUE(IsWindowVisible(shown_window));
    end_process_of(hidden_window);
    end_process_of(shown_window);
}

// A batch that starts a program which never ends on its own, then the same program again:
// the interpreter would run the second line as soon as the first program is gone.
TEST_F(HiddenLaunchTest, InAJobTheBatchAndAllItStartedEndWithTheJob) {
    const std::string id = std::to_string(GetCurrentProcessId());
    const std::string tool = "RcJobTool_" + id + ".exe";
    ASSERT_TRUE(
        CopyFileA(test_support::bin_path("sleeper.exe").c_str(), folder.file(tool).c_str(), FALSE));
    const std::string batch = folder.file("job.bat");
    ASSERT_TRUE(test_support::write_file(batch, "@echo off\r\n" + folder.file(tool) + " first\r\n" +
                                                    folder.file(tool) + " second\r\n"));
    const std::string journal = folder.file("journal.txt");
    const test_support::environment_setting journal_variable{"RAMCLEAN_SLEEPER_JOURNAL", journal};
    const auto interpreters = [] {
        return test_support::processes_named("cmd.exe", GetCurrentProcessId());
    };

    // The first launch may open lasting handles of the system's own (a console, say).
    ASSERT_TRUE(hidden_launch(write_recording_batch().c_str()));
    wait_for_line("cwd.txt");
    test_support::wait_until([&] { return interpreters().empty(); });

    struct ending {
        const char* name;
        std::function<void(launched_job&)> end;
    };
    for (const ending& e : {
             ending{"ended", [](launched_job& job) { EXPECT_TRUE(job.end_all(5000)); }},
             // Closing the job ends its processes too, as when we are ended first.
             ending{"closed", [](launched_job& job) { job = launched_job(); }},
         }) {
        SCOPED_TRACE(e.name);
        DeleteFileA(journal.c_str());
        const int handles_before = test_support::count_handles(GetCurrentProcessId());
        {
            launched_job job = hidden_launch_in_job(batch.c_str());
            ASSERT_TRUE(job);
            EXPECT_TRUE(job.in_job());
            ASSERT_TRUE(test_support::wait_until(
                [&] { return test_support::read_file(journal) == "first\r\n"; }));
            EXPECT_EQ(test_support::processes_named(tool).size(), 1u);
            EXPECT_EQ(interpreters().size(), 1u);
            e.end(job);
            EXPECT_TRUE(test_support::wait_until([&] {
                return test_support::processes_named(tool).empty() && interpreters().empty();
            }));
        }
        EXPECT_EQ(test_support::count_handles(GetCurrentProcessId()), handles_before);
        Sleep(500);  // time for a second start, had the interpreter gone on
        EXPECT_EQ(test_support::read_file(journal), "first\r\n");
    }
}

// Task Scheduler may run us in a job that allows no breakaway, which refuses the first,
// breaking-away attempt (Wine too); the batch then runs in a nested job, or without one where
// the system cannot nest jobs. Either way it runs: never left suspended.
TEST_F(HiddenLaunchTest, InsideAJobThatAllowsNoBreakawayTheBatchStillRuns) {
    ramclean::handle outer(CreateJobObjectA(nullptr, nullptr));
    ASSERT_TRUE(outer);
    ASSERT_TRUE(AssignProcessToJobObject(outer.get(), GetCurrentProcess()));
    const std::string batch = write_recording_batch();
    launched_job job = hidden_launch_in_job(batch.c_str());
    ASSERT_TRUE(job);
    EXPECT_EQ(wait_for_line("cwd.txt"), current_directory());
}
