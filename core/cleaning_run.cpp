#include "cleaning_run.h"

#include <windows.h>

#include "handles.h"
#include "hidden_launch.h"
#include "main_window.h"
#include "pumping_wait.h"
#include "staging.h"
#include "terminate_by_name.h"
#include "token_privilege.h"

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

DWORD last_error_or_general_failure() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// The privilege the tool's memory list options need: without it a run would do nothing.
constexpr char tool_privilege[] = "SeProfileSingleProcessPrivilege";

// Puts the tool image and the exact script in place, holding both so that nobody can change
// them until the holders are released, and starts the script.
// ERROR_SUCCESS, or the error that stopped it.
DWORD stage_and_launch(held_file& tool_image, held_file& script) {
    if (!token_holds_privilege(tool_privilege)) return ERROR_PRIVILEGE_NOT_HELD;
    if (const DWORD error = hold_tool_image(tool_image); error != ERROR_SUCCESS) return error;
    if (const DWORD error = hold_cleaning_script(script); error != ERROR_SUCCESS) return error;
    if (!hidden_launch(cleaning_script_path, script_folder)) return last_error_or_general_failure();
    return ERROR_SUCCESS;
}

const char* failure_text(DWORD error) {
    const bool refused = error == ERROR_ACCESS_DENIED || error == ERROR_ELEVATION_REQUIRED ||
                         error == ERROR_PRIVILEGE_NOT_HELD;
    return refused ? needs_admin_text : failed_text;
}

}  // namespace

void stop_tool_processes() {
    terminate_by_name("RAMMap.exe");
    terminate_by_name("RAMMap64.exe");
}

bool cleaning_run(int settle_time_ms, bool close_after_run) {
    set_status_text(running_text);
    // Held from the checks until the end of the run (the tool image to its very end).
    held_file tool_image;
    held_file script;
    const DWORD failure = stage_and_launch(tool_image, script);
    if (failure == ERROR_SUCCESS) {
        pumping_wait(settle_time_ms);
        set_status_text(finished_text);
    } else {
        set_status_text(failure_text(failure));
    }
    stop_tool_processes();
    script.release();
    delete_file(cleaning_script_path);
    if (close_after_run) destroy_request();
    return failure == ERROR_SUCCESS;
}

}  // namespace ramclean
