// memtool: frees the memory lists its options name; staged as C:\RAMMap.exe, where the
// cleaning script runs it once per option. Never shows a window; see README for its exit codes.
#include <windows.h>
// Needs the types of windows.h.
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files.h"
#include "handles.h"
#include "memtool.h"
#include "process.h"
#include "resources.h"
#include "token.h"

namespace {

using ramclean::file_handle;
using ramclean::handle;
using ramclean::local_memory;
using ramclean::resource_data;

static_assert(sizeof("内存") == 5, "texts must be compiled to code page 936");

constexpr int bits = sizeof(void*) * 8;
constexpr char journal_variable[] = "RAMCLEAN_TOOL_JOURNAL";
constexpr char twin_resource[] = "TWIN_IMAGE";
constexpr char twin_name[] = "RAMMap64.exe";

const char* description(memtool::operation op) {
    switch (op) {
        case memtool::operation::empty_working_sets: return "清空所有进程的工作集";
        case memtool::operation::empty_system_working_set: return "清空系统工作集";
        case memtool::operation::flush_modified_list: return "写出已修改页面列表";
        case memtool::operation::purge_standby_list: return "清空备用页面列表";
        case memtool::operation::purge_low_priority_standby_list:
            return "清空优先级 0 备用页面列表";
    }
    return "";
}

unsigned long long available_megabytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullAvailPhys / (1024 * 1024) : 0;
}

void write_text(HANDLE file, const std::string& text) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Appends one line; append-only access keeps lines whole when several tools write at once.
void append_to_journal(const std::string& line) {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(journal_variable, path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    file_handle journal(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (journal) write_text(journal.get(), line);
}

// Where the report lines go: the console of the process that started us, if it has one.
struct console_output {
    file_handle opened;          // CONOUT$ after attaching to the parent's console
    HANDLE inherited = nullptr;  // our standard output, when we already had a console
    [[nodiscard]] HANDLE get() const { return opened ? opened.get() : inherited; }
};

console_output open_parent_console() {
    console_output out;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        out.opened.reset(CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    } else if (GetLastError() == ERROR_ACCESS_DENIED) {
        // Already attached (Wine hands a console to GUI programs that a console program starts).
        const HANDLE standard = GetStdHandle(STD_OUTPUT_HANDLE);
        if (standard != INVALID_HANDLE_VALUE) out.inherited = standard;
    }
    return out;
}

// True when every privilege the operations need is now enabled in our token.
bool enable_privileges(const std::vector<memtool::operation>& operations) {
    handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return false;
    for (memtool::operation op : operations) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueA(nullptr, memtool::required_privilege(op),
                                   &privileges.Privileges[0].Luid))
            return false;
        // Success with ERROR_NOT_ALL_ASSIGNED means the token does not hold the privilege.
        if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) ||
            GetLastError() == ERROR_NOT_ALL_ASSIGNED)
            return false;
    }
    return true;
}

bool running_under_wow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The twin's place in %TEMP%: a new folder of a random name that only SYSTEM, Administrators
// and we may use, the file in it, and a handle that keeps the file exactly as checked (others
// may only read it; no writing, renaming or deleting) until the twin has run. Removes both at
// the end.
class twin_place {
public:
    twin_place() = default;
    twin_place(const twin_place&) = delete;
    twin_place& operator=(const twin_place&) = delete;
    ~twin_place() {
        if (folder_.empty()) return;
        held_.reset();
        // The system may let go of the twin's image a moment after the twin has ended.
        for (int attempt = 0;
             attempt < 20 && !DeleteFileA(file_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND;
             ++attempt)
            Sleep(50);
        RemoveDirectoryA(folder_.c_str());
    }

    // Writes the twin, then checks it through the handle that holds it. False when any of it
    // failed.
    bool prepare(const std::string& temp_folder, resource_data twin) {
        // 128 random bits: a folder name nobody can prepare beforehand.
        const std::string sid = ramclean::token_user_sid_text();
        const auto name = ramclean::random_hex(16);
        if (sid.empty() || !name) return false;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
                memtool::private_folder_sddl(sid).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            return false;
        const local_memory owned(descriptor);
        SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
        const std::string folder = temp_folder + *name;
        if (!CreateDirectoryA(folder.c_str(), &security)) return false;
        folder_ = folder;
        file_ = folder + "\\" + twin_name;
        return write(twin) && hold_and_check(twin);
    }
    [[nodiscard]] const std::string& file() const { return file_; }

private:
    bool write(resource_data twin) const {
        // CREATE_NEW: nothing that appeared meanwhile is taken over.
        file_handle file(CreateFileA(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD count = 0;
        const auto size = static_cast<DWORD>(twin.size);
        return file && WriteFile(file.get(), twin.bytes, size, &count, nullptr) && count == size &&
               file.reset();
    }
    // The loader opens the file again to start it: only a handle without write access and
    // sharing reading alone lets it do so while keeping every writer out. Deleting on close
    // leaves no moment between letting go and deleting, and takes the file away also when we
    // are ended before we could clean up.
    bool hold_and_check(resource_data twin) {
        held_.reset(CreateFileA(file_.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return held_ && ramclean::file_holds_exactly(held_.get(), twin.bytes, twin.size);
    }

    std::string folder_, file_;
    file_handle held_;
};

// Under WoW64 the memory list calls cannot be relied on from 32 bits: the 64-bit build of
// these sources, carried as a resource, does the work with the same arguments.
int run_twin(int argc, char** argv) {
    const resource_data twin = ramclean::rcdata_resource(twin_resource);
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (twin.size == 0 || length == 0 || length >= sizeof folder) return memtool::no_twin;
    twin_place place;
    if (!place.prepare(folder, twin)) return memtool::no_twin;

    std::string command_line = "\"" + place.file() + "\"";
    for (int i = 1; i < argc; ++i) command_line += std::string(" ") + argv[i];
    ramclean::process_information started;
    if (!ramclean::create_hidden_process(place.file().c_str(), command_line.c_str(), nullptr, 0,
                                         started))
        return memtool::no_twin;
    DWORD code = memtool::no_twin;
    if (WaitForSingleObject(started.process(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(started.process(), &code))
        return memtool::no_twin;
    return static_cast<int>(code);
}

int run(int argc, char** argv) {
    const auto operations = memtool::parse_arguments(argc, argv);
    if (!operations) return memtool::usage;
    // Attached before the twin starts, so that the twin finds the same console as its parent's.
    const console_output console = open_parent_console();
    if (running_under_wow64()) return run_twin(argc, argv);
    if (!enable_privileges(*operations)) return memtool::not_elevated;

    // Through void*: FARPROC has no parameters, and the cast would warn.
    const auto set_information =
        reinterpret_cast<memtool::set_information_function>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetSystemInformation")));
    if (set_information == nullptr) return memtool::refused;

    unsigned long long before = available_megabytes();
    return memtool::perform_all(
        *operations, set_information, [&](memtool::operation op, LONG status) {
            append_to_journal(memtool::journal_line(op, bits, status));
            const unsigned long long after = available_megabytes();
            if (console.get() != nullptr) {
                char line[256];
                std::snprintf(line, sizeof line,
                              "%s（%s）：%s（0x%08lX）。可用物理内存：%llu MB -> %llu MB\r\n",
                              description(op), memtool::option_name(op),
                              status >= 0 ? "完成" : "失败", static_cast<unsigned long>(status),
                              before, after);
                write_text(console.get(), line);
            }
            before = after;
        });
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return run(__argc, __argv); }
