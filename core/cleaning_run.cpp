#include "cleaning_run.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "handles.h"
#include "hidden_launch.h"
#include "main_window.h"
#include "pumping_wait.h"
#include "staging.h"
#include "terminate_by_name.h"

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

// True when `path` is a file holding exactly the bytes of `block`.
bool holds_exactly(const char* path, byte_block block) {
    // Shares everything: a comparison must not fail because the running script is open.
    file_handle file(CreateFileA(path, GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart != block.count) return false;
    std::string content(static_cast<size_t>(block.count), '\0');
    DWORD read = 0;
    return ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read,
                    nullptr) &&
           read == content.size() && std::memcmp(content.data(), block.bytes, read) == 0;
}

DWORD last_error_or_general_failure() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// Puts the tool image and the exact script in place and starts the script in `script`'s job.
// ERROR_SUCCESS, or the error that stopped it.
DWORD stage_and_launch(launched_job& script) {
    if (!file_exists(tool_image_path) && !write_whole_file(tool_image_path, tool_image_block()))
        return last_error_or_general_failure();
    // Whatever else sits at the script's path is replaced: the run starts our script only.
    if (!holds_exactly(cleaning_script_path, cleaning_script_block())) {
        const DWORD attributes = GetFileAttributesA(cleaning_script_path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return ERROR_DIRECTORY;
        if (!write_whole_file(cleaning_script_path, cleaning_script_block()))
            return last_error_or_general_failure();
    }
    script = hidden_launch_in_job(cleaning_script_path, script_folder);
    if (!script) return last_error_or_general_failure();
    return ERROR_SUCCESS;
}

const char* failure_text(DWORD error) {
    const bool refused = error == ERROR_ACCESS_DENIED || error == ERROR_ELEVATION_REQUIRED;
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

}  // namespace

void stop_tool_processes() {
    terminate_by_name("RAMMap.exe");
    terminate_by_name("RAMMap64.exe");
}

bool cleaning_run(int settle_time_ms, bool close_after_run) {
    set_status_text(running_text);
    launched_job script;  // this run's own: a nested run ends only what it started
    DWORD failure = stage_and_launch(script);
    if (failure == ERROR_SUCCESS) {
        pumping_wait(settle_time_ms);
        set_status_text(finished_text);
    } else {
        set_status_text(failure_text(failure));
    }
    stop_tool_processes();
    // The interpreter would go on to the script's next line and start the tool again, and
    // holds the script open while it runs: end it and all it started.
    script.end_all(script_end_timeout_ms);
    // A script left in C:\ means the run did not clean up after itself: it says so.
    if (!remove_script() && failure == ERROR_SUCCESS) {
        failure = ERROR_GEN_FAILURE;
        set_status_text(failed_text);
    }
    if (close_after_run) destroy_request();
    return failure == ERROR_SUCCESS;
}

}  // namespace ramclean
