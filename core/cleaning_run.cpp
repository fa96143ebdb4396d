#include "cleaning_run.h"

#include <windows.h>

#include "handles.h"
#include "hidden_launch.h"
#include "last_error.h"
#include "main_window.h"
#include "pumping_wait.h"
#include "staging.h"
#include "terminate_by_name.h"
#include "token.h"

namespace ramclean {
namespace {

constexpr char running_text[] = "清理中。。。";
constexpr char finished_text[] = "清理已完成！";
constexpr char failed_text[] = "清理失败！";
constexpr char needs_admin_text[] = "清理失败，请以管理员身份运行！";
static_assert(sizeof(running_text) == 13, "texts must be compiled to code page 936");

#ifndef ERROR_ELEVATION_REQUIRED  // missing from older mingw-w64 headers
#define ERROR_ELEVATION_REQUIRED 740L
#endif

// The script changes to C:\ itself, but "cd" does not switch drives: start it there.
constexpr char script_folder[] = "C:\\";

// The privilege the tool's memory list options need: without it a run would do nothing.
constexpr char tool_privilege[] = "SeProfileSingleProcessPrivilege";

// Puts the tool image and the exact script in place, holding both so that nobody can change
// them until the holders are released, and starts the script in `job`, a job of the run's own.
// ERROR_SUCCESS, or the error that stopped it.
DWORD stage_and_launch(held_file& tool_image, held_file& script, launched_job& job) {
    if (!token_holds_privilege(tool_privilege)) return ERROR_PRIVILEGE_NOT_HELD;
    if (const DWORD error = hold_tool_image(tool_image); error != ERROR_SUCCESS) return error;
    if (const DWORD error = hold_cleaning_script(script); error != ERROR_SUCCESS) return error;
    job = hidden_launch_in_job(cleaning_script_path, script_folder);
    if (!job) return last_error_or(ERROR_GEN_FAILURE);
    return ERROR_SUCCESS;
}

const char* failure_text(DWORD error) {
    const bool refused = error == ERROR_ACCESS_DENIED || error == ERROR_ELEVATION_REQUIRED ||
                         error == ERROR_PRIVILEGE_NOT_HELD;
    return refused ? needs_admin_text : failed_text;
}

// How long the end of a run waits for the script's processes to be gone once ended.
constexpr DWORD script_end_timeout_ms = 2000;

// Deletes the script and looks whether its name is gone; a nested run may have deleted it
// already. A delete only marks a file that someone still holds open, and the name stays
// until that handle is closed: then the script is still there.
bool remove_script() {
    delete_file(cleaning_script_path);
    if (GetFileAttributesA(cleaning_script_path) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Counts the runs on the stack: a Clean click during a run's wait starts a nested run.
class run_in_progress {
public:
    run_in_progress() noexcept { ++depth_; }
    ~run_in_progress() { --depth_; }
    run_in_progress(const run_in_progress&) = delete;
    run_in_progress& operator=(const run_in_progress&) = delete;
    [[nodiscard]] bool outermost() const noexcept { return depth_ == 1; }

private:
    static inline int depth_ = 0;
};

}  // namespace

void stop_tool_processes() {
    terminate_by_name("RAMMap.exe");
    terminate_by_name("RAMMap64.exe");
}

void stage_tools_and_clear_status() {
    stage_tools();
    set_status_text("");
}

void stop_tool_and_request_destroy() {
    stop_tool_processes();
    destroy_request();
}

bool cleaning_run(int settle_time_ms, bool close_after_run) {
    set_status_text(running_text);
    // Held from the checks until the end of the run (the tool image to its very end).
    held_file tool_image;
    held_file script;
    launched_job job;  // this run's own: a nested run ends only what it started
    const run_in_progress this_run;
    DWORD failure = stage_and_launch(tool_image, script, job);
    if (failure == ERROR_SUCCESS) {
        pumping_wait(settle_time_ms);
        set_status_text(finished_text);
    } else {
        set_status_text(failure_text(failure));
    }
    stop_tool_processes();
    // The interpreter would go on to the script's next line and start the tool again, and
    // holds the script open while it runs: end it and all it started.
    job.end_all(script_end_timeout_ms);
    script.release();
    // A script left in C:\ means the run did not clean up after itself: it says so. A nested
    // run cannot remove it while the run around it still holds it; that run removes it.
    if (!remove_script() && failure == ERROR_SUCCESS && this_run.outermost()) {
        failure = ERROR_GEN_FAILURE;
        set_status_text(failed_text);
    }
    if (close_after_run) destroy_request();
    return failure == ERROR_SUCCESS;
}

}  // namespace ramclean
