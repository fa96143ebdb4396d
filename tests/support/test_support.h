#pragma once
// Helpers for tests that run on the Win32 API under Wine.
#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "handles.h"

namespace test_support {

// Folder of the running test executable (the build's bin folder), without a trailing slash.
std::string executable_folder();
// Path of a program in the bin folder, e.g. bin_path("ramclean.exe").
std::string bin_path(const std::string& name);

struct started_process {
    ramclean::handle process;
    DWORD id = 0;
};
// Starts a command line; `folder` is its current directory (null: ours).
started_process start_process(const std::string& command_line, const char* folder = nullptr);
// Starts a command line with a duplicate of our token that lacks `privilege` (e.g.
// "SeProfileSingleProcessPrivilege"), as a user who does not hold it; the processes it starts
// inherit that token. An empty result when the token or the process cannot be made.
started_process start_process_without_privilege(const char* privilege,
                                                const std::string& command_line,
                                                const char* folder = nullptr);
// Waits for the process to end; its exit code, or nullopt on timeout.
std::optional<DWORD> wait_exit(const started_process& p, DWORD timeout_ms = 30000);
// Starts, waits and returns the exit code (nullopt on timeout, after killing it).
std::optional<DWORD> run(const std::string& command_line, DWORD timeout_ms = 30000,
                         const char* folder = nullptr);

std::optional<std::string> read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);
// Names of the entries in a folder, "." and ".." left out, sorted.
std::vector<std::string> folder_entries(const std::string& folder);

// The build under test: what its programs' headers, manifests and tool journal say.
inline constexpr int build_bits = sizeof(void*) * 8;
inline constexpr WORD build_machine =
    build_bits == 32 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
inline constexpr WORD build_pe_magic =
    build_bits == 32 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC;
inline constexpr const char* build_manifest_arch = build_bits == 32 ? "x86" : "amd64";

// What the tests read of a PE image (PE32 or PE32+): its headers and the DLLs it imports.
struct pe_facts {
    WORD machine = 0;
    WORD magic = 0;
    WORD subsystem = 0;
    std::vector<std::string> imported_dlls;  // lower case
};
// nullopt when the bytes are not a well-formed PE image.
std::optional<pe_facts> read_pe(const std::string& image);

// A string of a file's version block, table "080404B0" (Chinese, Unicode); nullopt if none.
std::optional<std::string> version_string(const std::string& path, const std::string& key);

// Open handles of a process, counted through the system handle table.
int count_handles(DWORD process_id);

// The main window's title, "Tovrel-深度清理运存", in code page 936.
inline const std::string main_window_title =
    "Tovrel-\xC9\xEE\xB6\xC8\xC7\xE5\xC0\xED\xD4\xCB\xB4\xE6";

// Top-level windows of a process; with `visible_only`, only the visible ones.
std::vector<HWND> top_level_windows(DWORD process_id, bool visible_only = false);
// The process's top-level window whose title is `title` (code page 936 bytes), or null.
HWND find_window(DWORD process_id, const std::string& title);
// Waits until the process shows its main window; the window, or null after the time-out.
HWND wait_for_main_window(DWORD process_id);

// A fresh, empty folder under the Windows temp folder; removed with its files on scope exit.
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Ids of the running processes whose image name is `name` (case-insensitive), in the
// order a process snapshot lists them; with a `parent_id`, only those that process started.
std::vector<DWORD> processes_named(const std::string& name, DWORD parent_id = 0);
// Ends every process of that image name (test clean-up).
void end_processes_named(const std::string& name);

// Free slots of the process's GDI handle table: a count that drops shows a GDI leak
// (Wine has no GetGuiResources). Fills the table with pens, counts, frees them again.
int free_gdi_slots();

// Polls `condition` until it holds or the time-out passes.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Handles every message waiting for this thread (for tests that drive windows themselves).
void pump_messages();

}  // namespace test_support
