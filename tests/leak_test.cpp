// Long use leaves nothing behind: the operations a cleaning run makes, repeated many times,
// and many cleaning runs nested in one another, end with as many open handles as they began.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cleaning_run.h"
#include "hidden_launch.h"
#include "main_window.h"
#include "staging.h"
#include "terminate_by_name.h"
#include "test_support.h"

using namespace ramclean;
using test_support::bin_path;

namespace {

constexpr int repetitions = 200;

int own_handles() { return test_support::count_handles(GetCurrentProcessId()); }

// Runs `step` a few times first, so that what the system sets up once per process (loaded
// libraries, caches) is not counted, then `repetitions` times; the handles gained meanwhile.
int handles_gained(const std::function<void()>& step) {
    for (int i = 0; i < 3; ++i) step();
    const int before = own_handles();
    for (int i = 0; i < repetitions; ++i) step();
    return own_handles() - before;
}

struct repeated_operation {
    const char* name;
    std::function<void()> step;
};

}  // namespace

TEST(HandleLeaks, RepeatedOperationsKeepTheHandleCount) {
    test_support::temp_folder folder;
    const std::string file = folder.file("leak.bin");
    const std::string missing = folder.file("no-such-folder\\leak.bin");
    const byte_block script = cleaning_script_block();
    // A console program that ends at once (no arguments: usage); launched hidden.
    const std::string quick_program = test_support::command_line(bin_path("probe.exe"));
    // A program of a name of its own, which only terminate by name ends.
    const std::string name = "RcLeak_" + std::to_string(GetCurrentProcessId()) + ".exe";
    ASSERT_TRUE(CopyFileA(bin_path("sleeper.exe").c_str(), folder.file(name).c_str(), FALSE));
    ASSERT_TRUE(test_support::write_file(file, "x"));

    int failures = 0;
    DWORD first_error = ERROR_SUCCESS;  // why the first unexpected result came
    const auto expect = [&](bool result) {
        if (!result && failures++ == 0) first_error = GetLastError();
    };
    const std::vector<repeated_operation> operations = {
        {"existence test",
         [&] {
             expect(file_exists(file.c_str()));
             expect(!file_exists(missing.c_str()));
         }},
        {"placing a file",
         [&] {
             expect(place_file(file.c_str(), script, true));
             expect(!place_file(missing.c_str(), script, true));  // fails at the open
         }},
        {"holding a file",
         [&] {
             held_file held(file.c_str());
             expect(held.holds_exactly(script));
             expect(!file_writable_by_others(held.get()));
             expect(!held_file(missing.c_str()));
         }},
        {"file delete",
         [&] {
             expect(test_support::write_file(file, "x"));
             expect(delete_file(file.c_str()));
             expect(!delete_file(file.c_str()));  // nothing there any more
         }},
        {"hidden launch",
         [&] {
             expect(test_support::retrying_wine_start_failures(
                 [&] { return hidden_launch(quick_program.c_str(), folder.path().c_str()); }));
             expect(!hidden_launch(missing.c_str()));
         }},
        {"terminate by name",
         [&] {
             test_support::started_process p =
                 test_support::start_process(test_support::command_line(folder.file(name)));
             expect(terminate_by_name(name.c_str()));
             expect(test_support::wait_exit(p, 5000) == 0u);
         }},
    };
    for (const repeated_operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        failures = 0;
        EXPECT_EQ(handles_gained(operation.step), 0);
        EXPECT_EQ(failures, 0) << "the repetitions took the paths they were meant to; the first "
                                  "that did not left error "
                               << first_error;
    }
    EXPECT_FALSE(terminate_by_name(name.c_str())) << "every copy was ended";
}

namespace {

constexpr int nested_runs = 50;
constexpr int short_settle_time_ms = 50;
int runs_to_nest = 0;  // further runs still to be asked for
int runs_finished = 0;
int depth = 0, deepest = 0;

// Asks for the next run before it starts its own, so that the next one runs inside its wait.
void on_clean_clicked() {
    deepest = std::max(deepest, ++depth);
    if (runs_to_nest > 0) {
        --runs_to_nest;
        PostMessageA(main_window(), WM_COMMAND, MAKEWPARAM(clean_button_id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(main_window(), clean_button_id)));
    }
    cleaning_run(short_settle_time_ms, false);
    ++runs_finished;
    --depth;
}

}  // namespace

TEST(HandleLeaks, NestedCleaningRunsKeepTheHandleCount) {
    // The real tool, so that each run starts the script and the tool as the programs do.
    ASSERT_TRUE(CopyFileA(bin_path("memtool.exe").c_str(), tool_image_path, FALSE));
    test_support::temp_folder folder;
    const std::string journal = folder.file("journal.txt");
    const test_support::environment_setting journal_variable{"RAMCLEAN_TOOL_JOURNAL", journal};
    program_settings settings;
    settings.visible = false;
    settings.events.clean_clicked = on_clean_clicked;
    ASSERT_TRUE(create_main_window(settings));

    on_clean_clicked();  // the first launch and wait set up what the process keeps
    test_support::pump_messages();
    const int before = own_handles();
    runs_to_nest = nested_runs - 1;
    runs_finished = deepest = 0;
    on_clean_clicked();
    test_support::pump_messages();
    EXPECT_EQ(own_handles(), before);
    EXPECT_EQ(runs_finished, nested_runs);
    EXPECT_EQ(deepest, nested_runs) << "each run ran inside the one before";
    EXPECT_TRUE(test_support::wait_until([&] { return test_support::exists(journal); }))
        << "the tool ran";

    // The scripts started last may still be running: let them end before C:\ is cleared.
    DestroyWindow(main_window());
    test_support::wait_until(
        [] {
            return DeleteFileA(cleaning_script_path) || !test_support::exists(cleaning_script_path);
        },
        std::chrono::seconds(60));
    test_support::wait_until([] { return test_support::processes_named("RAMMap.exe").empty(); },
                             std::chrono::seconds(30));
    test_support::end_processes_named("RAMMap.exe");
    DeleteFileA(tool_image_path);
}
