#pragma once
// Helpers for tests that run on the Win32 API under Wine.
#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "handles.h"
#include "staging.h"

namespace test_support {

// Folder of the running test executable (the build's bin folder), without a trailing slash.
std::string executable_folder();
// Path of a program in the bin folder, e.g. bin_path("ramclean.exe").
std::string bin_path(const std::string& name);
// A command line that starts `program` (a path, quoted here) with `arguments`.
std::string command_line(const std::string& program, const std::string& arguments = "");

struct started_process {
    ramclean::handle process;
    DWORD id = 0;
};
// Starts a command line; `folder` is its current directory (null: ours).
started_process start_process(const std::string& command_line, const char* folder = nullptr);
// Calls `start` (a process start that sets the last error when it fails) again when it failed
// with ERROR_INTERNAL_ERROR, up to three times in all. Wine, with several programs starting at
// once, now and then reports that for a new process that ended before it was set up (seen
// about once in a few thousand starts); a second start succeeds. Other failures are final.
bool retrying_wine_start_failures(const std::function<bool()>& start);
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
// A file's lines without their line ends (CR LF or LF); none when it cannot be read.
std::vector<std::string> file_lines(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);
// Removes what a test left at a path: a file of any attributes, or an empty directory.
void remove_entry(const std::string& path);
// Names of the entries in a folder, "." and ".." left out, sorted.
std::vector<std::string> folder_entries(const std::string& folder);

// A fresh, empty folder under the Windows temp folder; removed with everything in it on scope
// exit. Never one that was there before.
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;
    const std::string& path() const { return path_; }
    // Path of an entry inside, e.g. file("journal.txt") or file("work\\cwd.txt").
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    std::vector<std::string> entries() const { return folder_entries(path_); }

private:
    std::string path_;
};

// Sets an environment variable for the processes this test starts, restoring it at the end.
class environment_setting {
public:
    environment_setting(const char* name, const std::string& value);
    ~environment_setting();
    environment_setting(const environment_setting&) = delete;
    environment_setting& operator=(const environment_setting&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The build under test: what its programs' headers, manifests and tool journal say.
inline constexpr int build_bits = sizeof(void*) * 8;
inline constexpr const char* build_manifest_arch = build_bits == 32 ? "x86" : "amd64";

// The form of a PE image: machine, optional header magic (PE32 or PE32+), subsystem.
struct pe_form {
    WORD machine = 0;
    WORD magic = 0;
    WORD subsystem = 0;
    bool operator==(const pe_form&) const = default;
};
std::ostream& operator<<(std::ostream& out, const pe_form& form);
// A GUI program of the build's architecture.
inline constexpr pe_form build_gui_program{
    build_bits == 32 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64,
    build_bits == 32 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC,
    IMAGE_SUBSYSTEM_WINDOWS_GUI};

// What the tests read of a PE image: its form and the DLLs it imports.
struct pe_facts {
    pe_form form;
    std::vector<std::string> imported_dlls;  // lower case
};
// nullopt when the bytes are not a well-formed PE image.
std::optional<pe_facts> read_pe(const std::string& image);
// The same for an image file; nullopt also when it cannot be read.
std::optional<pe_facts> read_pe_file(const std::string& path);

// An executable loaded as data, to read its resources; empty when it cannot be loaded.
ramclean::module_handle load_as_data(const std::string& path);
// A resource's bytes; nullopt when the module has no resource of that type and name, in
// `language` when one is given (else in any, as FindResource picks).
std::optional<std::string> resource_bytes(HMODULE module, LPCSTR type, LPCSTR name,
                                          std::optional<WORD> language = std::nullopt);
// A resource's bytes, read out of an executable file.
std::optional<std::string> resource_of(const std::string& path, LPCSTR type, LPCSTR name);

// A string of a file's version block, table "080404B0" (Chinese, Unicode); nullopt if none.
std::optional<std::string> version_string(const std::string& path, const std::string& key);

// The cleaning script as the programs must write it, byte for byte. Spelt out here rather
// than taken from the code under test, which the tests check against it.
inline const std::string cleaning_script =
    "cd C:\\\r\nRammap -ew\r\nRammap -es\r\nRammap -em\r\nRammap -et\r\nRammap -e0\r\nexit";
// The bytes of a block as a string.
std::string bytes_of(const ramclean::byte_block& block);

// Open handles of a process, counted through the system handle table.
int count_handles(DWORD process_id);
// Processor time (kernel and user) a thread has used so far, in milliseconds. Under Wine it
// advances in 10 ms steps.
double processor_ms(HANDLE thread = GetCurrentThread());

// The main window's title, "Tovrel-深度清理运存", in code page 936.
inline const std::string main_window_title =
    "Tovrel-\xC9\xEE\xB6\xC8\xC7\xE5\xC0\xED\xD4\xCB\xB4\xE6";
// What the status label says, in code page 936.
inline const std::string running_text =  // 清理中。。。
    "\xC7\xE5\xC0\xED\xD6\xD0\xA1\xA3\xA1\xA3\xA1\xA3";
inline const std::string finished_text =  // 清理已完成！
    "\xC7\xE5\xC0\xED\xD2\xD1\xCD\xEA\xB3\xC9\xA3\xA1";
inline const std::string failed_text = "\xC7\xE5\xC0\xED\xCA\xA7\xB0\xDC\xA3\xA1";  // 清理失败！
inline const std::string needs_admin_text =  // 清理失败，请以管理员身份运行！
    "\xC7\xE5\xC0\xED\xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xD2\xD4\xB9\xDC\xC0\xED\xD4\xB1\xC9\xED"
    "\xB7\xDD\xD4\xCB\xD0\xD0\xA3\xA1";

// The text of a window or control, of this process or another (code page 936 bytes).
std::string window_text(HWND window);
// The status label's text of a main window.
std::string status_text(HWND main_window);
// Waits until a main window's status label says `text`.
bool wait_for_status_text(HWND main_window, const std::string& text,
                          std::chrono::milliseconds timeout);

// Top-level windows of a process; with `visible_only`, only the visible ones.
std::vector<HWND> top_level_windows(DWORD process_id, bool visible_only = false);
// The process's top-level window whose title is `title` (code page 936 bytes), or null.
HWND find_window(DWORD process_id, const std::string& title);
// Waits until the process shows its main window; the window, or null after the time-out.
HWND wait_for_main_window(DWORD process_id);

// Ids of the running processes whose image name is `name` (case-insensitive), in the
// order a process snapshot lists them; with a `parent_id`, only those that process started.
std::vector<DWORD> processes_named(const std::string& name, DWORD parent_id = 0);
// Ends every process of that image name (test clean-up).
void end_processes_named(const std::string& name);

// Whether the tree's runner gave this test a C: drive of that kind ("readonly", "full"):
// a mount that refuses new files or fills up (see fixtures/c-drive-mounts.sh).
bool c_drive_is(const char* kind);

// Free slots of the process's GDI handle table: a count that drops shows a GDI leak
// (Wine has no GetGuiResources). Fills the table with pens, counts, frees them again.
int free_gdi_slots();

// Polls `condition` until it holds or the time-out passes.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Handles every message waiting for this thread (for tests that drive windows themselves).
void pump_messages();

}  // namespace test_support
