// Cleaning runs of the shipped programs, end to end: the script, the memory tool (its
// journal tells what it did), the files in C:\ and the window, watched from outside.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "main_window.h"
#include "staging.h"
#include "test_support.h"

using namespace test_support;

namespace {

using ramclean::cleaning_script_path;
using ramclean::tool_image_path;

// What the tool needs to empty the memory lists.
const char tool_privilege[] = "SeProfileSingleProcessPrivilege";
const std::vector<std::string> all_options = {"-ew", "-es", "-em", "-et", "-e0"};

// The tool image a program carries, read from its resources.
std::optional<std::string> tool_image_of(const std::string& program) {
    return resource_of(program, RT_RCDATA, ramclean::tool_image_resource);
}

// A program that showed its main window (null when it did not).
struct shown_program {
    started_process process;
    HWND window = nullptr;
};

class CleaningTest : public ::testing::Test {
protected:
    void SetUp() override {
        end_processes_named("RAMMap.exe");
        remove_entry(tool_image_path);
        remove_entry(cleaning_script_path);
    }
    void TearDown() override {
        end_processes_named("RAMMap.exe");
        remove_entry(cleaning_script_path);
        remove_entry(tool_image_path);
    }

    // The options the tool performed, in order; each done by this build's own memtool.
    std::vector<std::string> journal_options() const {
        std::vector<std::string> options;
        std::istringstream in(read_file(journal).value_or(""));
        for (std::string option, bits, status; in >> option >> bits >> status;) {
            EXPECT_EQ(bits, std::to_string(test_support::build_bits)) << option;
            options.push_back(option);
        }
        return options;
    }
    static std::vector<std::string> runs(int count) {
        std::vector<std::string> options;
        for (int i = 0; i < count; ++i)
            options.insert(options.end(), all_options.begin(), all_options.end());
        return options;
    }

    static started_process start(const std::string& program, const char* folder = nullptr) {
        return start_process(command_line(program), folder);
    }
    // Waits for a started ramclean to show its main window.
    static shown_program wait_shown(started_process p) {
        HWND window = wait_for_main_window(p.id);
        return {std::move(p), window};
    }
    // Closes the main window; the program's exit code.
    static std::optional<DWORD> close(const shown_program& program) {
        PostMessageA(program.window, WM_CLOSE, 0, 0);
        return wait_exit(program.process);
    }
    static void click(HWND window, int id) { PostMessageA(GetDlgItem(window, id), BM_CLICK, 0, 0); }
    // Clicks Clean and, `delay_ms` into the run that starts, the button `then_id`; the tick
    // count at the first click.
    static ULONGLONG click_clean_then(HWND window, DWORD delay_ms, int then_id) {
        const ULONGLONG clicked = GetTickCount64();
        click(window, ramclean::clean_button_id);
        Sleep(delay_ms);
        click(window, then_id);
        return clicked;
    }

    temp_folder folder;
    std::string journal = folder.file("journal.txt");
    environment_setting journal_variable{"RAMCLEAN_TOOL_JOURNAL", journal};
};

}  // namespace

TEST_F(CleaningTest, AutomaticProgramCleansOnceInvisiblyAndLeavesOnlyTheTool) {
    const ULONGLONG started = GetTickCount64();
    started_process p = start(bin_path("ramclean-auto.exe"));
    bool shown = false;
    while (WaitForSingleObject(p.process.get(), 10) == WAIT_TIMEOUT)
        shown = shown || !top_level_windows(p.id, true).empty();
    const ULONGLONG elapsed = GetTickCount64() - started;
    EXPECT_FALSE(shown) << "no window at any moment";
    EXPECT_EQ(wait_exit(p), 0u);
    EXPECT_GE(elapsed, 6000u);
    EXPECT_LT(elapsed, 20000u);
    const auto tool_image = tool_image_of(bin_path("ramclean-auto.exe"));
    ASSERT_TRUE(tool_image);
    EXPECT_EQ(read_file(tool_image_path), *tool_image);
    EXPECT_FALSE(exists(cleaning_script_path));
    EXPECT_EQ(journal_options(), all_options);
}

TEST_F(CleaningTest, InteractiveProgramCleansOnEachClickAndStaysLive) {
    const shown_program program = wait_shown(start(bin_path("ramclean.exe")));
    const HWND window = program.window;
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(exists(cleaning_script_path)) << "staged at start";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const ULONGLONG clicked = GetTickCount64();
        click(window, ramclean::clean_button_id);
        EXPECT_TRUE(wait_for_status_text(window, running_text, std::chrono::seconds(3)));
        // The window answers while the run waits.
        DWORD_PTR answer = 0;
        EXPECT_TRUE(SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer));
        ASSERT_TRUE(wait_for_status_text(window, finished_text, std::chrono::seconds(15)));
        EXPECT_GE(GetTickCount64() - clicked, 5000u);
        EXPECT_TRUE(wait_until([&] { return !exists(cleaning_script_path); }));
        EXPECT_TRUE(wait_until([&] { return journal_options().size() == 5u * run; }));
    }
    EXPECT_EQ(journal_options(), runs(2)) << "the second click ran the tool again";
    EXPECT_EQ(close(program), 0u);
}

TEST_F(CleaningTest, HangingToolIsEndedAndNothingOfTheScriptOutlivesTheRun) {
    // A tool that never finishes, on any option; staging leaves an existing C:\RAMMap.exe
    // alone. It records each start.
    ASSERT_TRUE(CopyFileA(bin_path("sleeper.exe").c_str(), tool_image_path, FALSE));
    const std::string starts = folder.file("starts.txt");
    const environment_setting starts_variable{"RAMCLEAN_SLEEPER_JOURNAL", starts};
    started_process p = start(bin_path("ramclean-auto.exe"));
    ramclean::handle tool;
    ASSERT_TRUE(wait_until([&] {
        for (DWORD id : processes_named("RAMMap.exe"))
            tool.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id));
        return static_cast<bool>(tool);
    }));
    EXPECT_EQ(WaitForSingleObject(tool.get(), 4000), static_cast<DWORD>(WAIT_TIMEOUT))
        << "still running inside the settle time";
    EXPECT_EQ(wait_exit(p), 0u);
    DWORD code = 99;
    EXPECT_EQ(WaitForSingleObject(tool.get(), 0), WAIT_OBJECT_0);
    GetExitCodeProcess(tool.get(), &code);
    EXPECT_EQ(code, 0u) << "ended with exit code 0";
    // Time for the interpreter to start the tool again, had it been left running.
    Sleep(3000);
    EXPECT_TRUE(processes_named("RAMMap.exe").empty());
    EXPECT_TRUE(processes_named("cmd.exe", p.id).empty()) << "the script's interpreter is gone";
    EXPECT_FALSE(exists(cleaning_script_path));
    EXPECT_EQ(read_file(starts), "-ew\r\n") << "the tool started once";
}

TEST_F(CleaningTest, ScriptStillThereAfterTheRunFailsIt) {
    // Our exact script, held open by someone else: without delete sharing the delete fails;
    // with it the delete only marks the file, whose name stays until the holder lets go.
    for (const DWORD sharing : {FILE_SHARE_READ | FILE_SHARE_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}) {
        SCOPED_TRACE(sharing);
        DeleteFileA(journal.c_str());
        ASSERT_TRUE(write_file(cleaning_script_path, cleaning_script));
        ramclean::file_handle holder(CreateFileA(cleaning_script_path, GENERIC_READ, sharing,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                 nullptr));
        ASSERT_TRUE(holder);
        started_process p = start(bin_path("ramclean-auto.exe"));
        EXPECT_EQ(wait_exit(p), 1u);
        EXPECT_EQ(journal_options(), all_options) << "the cleaning itself ran";
        holder.reset();
        remove_entry(cleaning_script_path);
    }
}

TEST_F(CleaningTest, ToolStartedBySomethingElseIsEndedWhenTheWindowCloses) {
    ASSERT_TRUE(
        CopyFileA(bin_path("sleeper.exe").c_str(), folder.file("RAMMap.exe").c_str(), FALSE));
    started_process tool = start(folder.file("RAMMap.exe"));
    const shown_program program = wait_shown(start(bin_path("ramclean.exe")));
    ASSERT_NE(program.window, nullptr);
    EXPECT_EQ(close(program), 0u);
    EXPECT_EQ(wait_exit(tool, 5000), 0u);
}

TEST_F(CleaningTest, CleanClickedDuringTheWaitRunsANestedRunToItsEndFirst) {
    const shown_program program = wait_shown(start(bin_path("ramclean.exe")));
    const HWND window = program.window;
    ASSERT_NE(window, nullptr);
    const ULONGLONG first = click_clean_then(window, 2000, ramclean::clean_button_id);
    // The outer run's deadline (5 s) passes while the nested run (until 7 s) holds it.
    while (GetTickCount64() - first < 5800) Sleep(50);
    EXPECT_EQ(status_text(window), running_text);
    ASSERT_TRUE(wait_for_status_text(window, finished_text, std::chrono::seconds(15)));
    EXPECT_GE(GetTickCount64() - first, 7000u);
    EXPECT_TRUE(wait_until([&] { return journal_options().size() == 10u; }));
    EXPECT_EQ(journal_options(), runs(2));
    // The finished text comes before the script is deleted: give the run its last steps.
    EXPECT_TRUE(wait_until([&] { return !exists(cleaning_script_path); }));
    EXPECT_EQ(close(program), 0u);
}

TEST_F(CleaningTest, ExitDuringTheWaitClosesAtOnceAndTheRunStillCleansUp) {
    const shown_program program = wait_shown(start(bin_path("ramclean.exe")));
    const HWND window = program.window;
    ASSERT_NE(window, nullptr);
    const ULONGLONG clicked = click_clean_then(window, 1000, ramclean::exit_button_id);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(window); }, std::chrono::seconds(2)))
        << "the window goes at once";
    EXPECT_EQ(wait_exit(program.process), 0u);
    EXPECT_GE(GetTickCount64() - clicked, 5000u) << "the interrupted run waited out its time";
    EXPECT_FALSE(exists(cleaning_script_path)) << "and then deleted the script";
}

TEST_F(CleaningTest, PlantedScriptIsReplacedBeforeItCouldRun) {
    ASSERT_TRUE(write_file(cleaning_script_path, "echo planted> C:\\planted.txt\r\n"));
    started_process p = start(bin_path("ramclean-auto.exe"));
    EXPECT_EQ(wait_exit(p), 0u);
    EXPECT_FALSE(exists("C:\\planted.txt"));
    remove_entry("C:\\planted.txt");
    EXPECT_EQ(journal_options(), all_options);
    EXPECT_FALSE(exists(cleaning_script_path));
}

TEST_F(CleaningTest, ScriptThatCannotBeWrittenFailsTheRunWithoutWaiting) {
    ASSERT_TRUE(CreateDirectoryA(cleaning_script_path, nullptr));
    // ramclean-auto reports it through its exit code...
    const ULONGLONG started = GetTickCount64();
    started_process automatic = start(bin_path("ramclean-auto.exe"));
    EXPECT_EQ(wait_exit(automatic), 1u);
    EXPECT_LT(GetTickCount64() - started, 5000u) << "no settle time without a tool run";
    // ...ramclean in its label.
    const shown_program interactive = wait_shown(start(bin_path("ramclean.exe")));
    ASSERT_NE(interactive.window, nullptr);
    click(interactive.window, ramclean::clean_button_id);
    EXPECT_TRUE(wait_for_status_text(interactive.window, failed_text, std::chrono::seconds(3)));
    EXPECT_EQ(close(interactive), 0u);
    EXPECT_TRUE(journal_options().empty());
    EXPECT_EQ(GetFileAttributesA(cleaning_script_path) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY))
        << "what was in the way is left as found";
}

TEST_F(CleaningTest, ProgramOnAnotherDriveStillFindsTheToolInC) {
    const std::string program_folder = "D:\\ramclean-drive-test";
    CreateDirectoryA(program_folder.c_str(), nullptr);
    const std::string program = program_folder + "\\ramclean-auto.exe";
    ASSERT_TRUE(CopyFileA(bin_path("ramclean-auto.exe").c_str(), program.c_str(), FALSE))
        << "drive D: must be mapped in the prefix";
    started_process p = start(program);
    EXPECT_EQ(wait_exit(p), 0u);
    EXPECT_EQ(journal_options(), all_options);
    DeleteFileA(program.c_str());
    RemoveDirectoryA(program_folder.c_str());
}

TEST_F(CleaningTest, WithoutTheToolsPrivilegeNeitherProgramStartsTheTool) {
    // Everything else is in place, as an earlier run leaves it.
    const auto tool_image = tool_image_of(bin_path("ramclean-auto.exe"));
    ASSERT_TRUE(tool_image);
    ASSERT_TRUE(write_file(tool_image_path, *tool_image));
    ASSERT_TRUE(write_file(cleaning_script_path, cleaning_script));

    const ULONGLONG started = GetTickCount64();
    started_process automatic = start_process_without_privilege(
        tool_privilege, command_line(bin_path("ramclean-auto.exe")));
    ASSERT_TRUE(automatic.process);
    EXPECT_EQ(wait_exit(automatic), 1u);
    EXPECT_LT(GetTickCount64() - started, 5000u) << "no settle time without a tool run";

    const shown_program interactive = wait_shown(
        start_process_without_privilege(tool_privilege, command_line(bin_path("ramclean.exe"))));
    ASSERT_TRUE(interactive.process.process);
    ASSERT_NE(interactive.window, nullptr);
    click(interactive.window, ramclean::clean_button_id);
    EXPECT_TRUE(
        wait_for_status_text(interactive.window, needs_admin_text, std::chrono::seconds(3)));
    EXPECT_EQ(close(interactive), 0u);
    EXPECT_TRUE(journal_options().empty()) << "the tool never started";
}

TEST_F(CleaningTest, ScriptRewrittenAllTheTimeNeverRunsThePlantedCommands) {
    const char planted_marker[] = "C:\\ramclean-planted.txt";
    remove_entry(planted_marker);
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        started_process rewriter = start_process(command_line(
            bin_path("script_rewriter.exe"), std::string(cleaning_script_path) + " 9000"));
        ASSERT_TRUE(rewriter.process);
        ASSERT_TRUE(wait_until([&] {
            return read_file(cleaning_script_path).value_or("").starts_with("echo");
        })) << "the rewriter is at work";
        const size_t journal_before = journal_options().size();
        started_process p = start(bin_path("ramclean-auto.exe"));
        const auto code = wait_exit(p);
        const auto refused = wait_exit(rewriter, 15000);
        ASSERT_TRUE(code && (*code == 0 || *code == 1)) << "ended on its own, 0 or 1";
        if (*code == 0) {
            // A run that says it cleaned ran the tool, and held the script against the rewriter.
            const std::vector<std::string> options = journal_options();
            EXPECT_EQ(options.size(), journal_before + all_options.size());
            if (options.size() >= all_options.size()) {
                EXPECT_EQ(
                    std::vector<std::string>(options.end() - all_options.size(), options.end()),
                    all_options);
            }
            EXPECT_GT(refused.value_or(0), 0u);
        }
        EXPECT_FALSE(exists(planted_marker)) << "the planted commands ran";
    }
    remove_entry(planted_marker);
}
