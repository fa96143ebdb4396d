// memtool: frees the memory lists its options name; staged as C:\RAMMap.exe, where the
// cleaning script runs it once per option. Never shows a window; see README for its exit codes.
#include <windows.h>
// Need the types of windows.h.
#include <ntsecapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "handles.h"
#include "memtool.h"

namespace {

using ramclean::file_handle;
using ramclean::handle;

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
    {
        HANDLE opened = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened))
            return false;
        token.reset(opened);
    }
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

struct resource_bytes {
    const unsigned char* bytes = nullptr;
    DWORD size = 0;
};

resource_bytes find_twin() {
    HRSRC info = FindResourceA(nullptr, twin_resource, RT_RCDATA);
    if (info == nullptr) return {};
    HGLOBAL loaded = LoadResource(nullptr, info);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return {};
    return {static_cast<const unsigned char*>(bytes), SizeofResource(nullptr, info)};
}

// LocalAlloc'd memory from the security functions.
struct local_free {
    void operator()(void* memory) const { LocalFree(memory); }
};
using local_memory = std::unique_ptr<void, local_free>;

// Our user's SID as text ("S-1-5-..."); empty when it cannot be read.
std::string user_sid() {
    handle token;
    {
        HANDLE opened = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return {};
        token.reset(opened);
    }
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    char* text = nullptr;
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    const local_memory owned(text);
    return text;
}

// 32 hex digits from the system's random generator: a name nobody can guess beforehand.
std::string random_name() {
    unsigned char bits[16];
    if (!RtlGenRandom(bits, sizeof bits)) return {};
    std::string name;
    for (unsigned char b : bits) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        name += digits;
    }
    return name;
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
    bool prepare(const std::string& temp_folder, resource_bytes twin) {
        const std::string sid = user_sid(), name = random_name();
        if (sid.empty() || name.empty()) return false;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
                memtool::private_folder_sddl(sid).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            return false;
        const local_memory owned(descriptor);
        SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
        const std::string folder = temp_folder + name;
        if (!CreateDirectoryA(folder.c_str(), &security)) return false;
        folder_ = folder;
        file_ = folder + "\\" + twin_name;
        return write(twin) && hold_and_check(twin);
    }
    [[nodiscard]] const std::string& file() const { return file_; }

private:
    bool write(resource_bytes twin) const {
        // CREATE_NEW: nothing that appeared meanwhile is taken over.
        file_handle file(CreateFileA(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD count = 0;
        return file && WriteFile(file.get(), twin.bytes, twin.size, &count, nullptr) &&
               count == twin.size && file.reset();
    }
    // The loader opens the file again to start it: only a handle without write access and
    // sharing reading alone lets it do so while keeping every writer out. Deleting on close
    // leaves no moment between letting go and deleting, and takes the file away also when we
    // are ended before we could clean up.
    bool hold_and_check(resource_bytes twin) {
        held_.reset(CreateFileA(file_.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        LARGE_INTEGER size{};
        if (!held_ || !GetFileSizeEx(held_.get(), &size) || size.QuadPart != twin.size)
            return false;
        std::vector<unsigned char> content(twin.size);
        DWORD read = 0;
        return ReadFile(held_.get(), content.data(), twin.size, &read, nullptr) &&
               read == twin.size && std::equal(content.begin(), content.end(), twin.bytes);
    }

    std::string folder_, file_;
    file_handle held_;
};

// Under WoW64 the memory list calls cannot be relied on from 32 bits: the 64-bit build of
// these sources, carried as a resource, does the work with the same arguments.
int run_twin(int argc, char** argv) {
    const resource_bytes twin = find_twin();
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (twin.size == 0 || length == 0 || length >= sizeof folder) return memtool::no_twin;
    twin_place place;
    if (!place.prepare(folder, twin)) return memtool::no_twin;

    std::string command_line = "\"" + place.file() + "\"";
    for (int i = 1; i < argc; ++i) command_line += std::string(" ") + argv[i];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(place.file().c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started))
        return memtool::no_twin;
    handle process(started.hProcess);
    handle thread(started.hThread);
    DWORD code = memtool::no_twin;
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &code))
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
