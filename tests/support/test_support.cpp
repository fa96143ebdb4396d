#include "test_support.h"

#include <tlhelp32.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

namespace test_support {

std::string executable_folder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string bin_path(const std::string& name) { return executable_folder() + "\\" + name; }

started_process start_process(const std::string& command_line, const char* folder) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = command_line;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                        &info))
        return {};
    ramclean::handle thread(info.hThread);
    return {ramclean::handle(info.hProcess), info.dwProcessId};
}

std::optional<DWORD> wait_exit(const started_process& p, DWORD timeout_ms) {
    if (!p.process || WaitForSingleObject(p.process.get(), timeout_ms) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(p.process.get(), &code);
    return code;
}

std::optional<DWORD> run(const std::string& command_line, DWORD timeout_ms, const char* folder) {
    started_process p = start_process(command_line, folder);
    auto code = wait_exit(p, timeout_ms);
    if (!code && p.process) TerminateProcess(p.process.get(), 99);
    return code;
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {
// The system handle table (information class 16), as ntdll returns it.
struct handle_entry {
    ULONG process_id;
    UCHAR object_type;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct handle_table {
    ULONG count;
    handle_entry entries[1];
};
using query_function = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
}  // namespace

int count_handles(DWORD process_id) {
    static const auto query = reinterpret_cast<query_function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status < 0) return -1;
        break;
    }
    const auto* table = reinterpret_cast<const handle_table*>(buffer.data());
    int count = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].process_id == process_id) ++count;
    return count;
}

namespace {
struct window_search {
    DWORD process_id;
    bool visible_only;
    std::vector<HWND> found;
};
BOOL CALLBACK collect_window(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<window_search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->process_id && (!search->visible_only || IsWindowVisible(hwnd)))
        search->found.push_back(hwnd);
    return TRUE;
}
}  // namespace

std::vector<HWND> top_level_windows(DWORD process_id, bool visible_only) {
    window_search search{process_id, visible_only, {}};
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND find_window(DWORD process_id, const std::string& title) {
    for (HWND hwnd : top_level_windows(process_id)) {
        char text[256] = {};
        GetWindowTextA(hwnd, text, sizeof text);
        if (title == text) return hwnd;
    }
    return nullptr;
}

HWND wait_for_main_window(DWORD process_id) {
    HWND found = nullptr;
    wait_until([&] {
        found = find_window(process_id, main_window_title);
        return found != nullptr && IsWindowVisible(found);
    });
    return found != nullptr && IsWindowVisible(found) ? found : nullptr;
}

temp_folder::temp_folder() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    static int serial = 0;
    for (;;) {
        path_ = std::string(base) + "ramclean-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial);
        if (CreateDirectoryA(path_.c_str(), nullptr)) return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
}

temp_folder::~temp_folder() {
    WIN32_FIND_DATAA entry;
    ramclean::find_handle search(FindFirstFileA((path_ + "\\*").c_str(), &entry));
    if (search) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            SetFileAttributesA(file(name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file(name).c_str());
        } while (FindNextFileA(search.get(), &entry));
    }
    search.reset();
    RemoveDirectoryA(path_.c_str());
}

std::vector<DWORD> processes_named(const std::string& name, DWORD parent_id) {
    std::vector<DWORD> ids;
    ramclean::file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry))
        if (lstrcmpiA(entry.szExeFile, name.c_str()) == 0 &&
            (parent_id == 0 || entry.th32ParentProcessID == parent_id))
            ids.push_back(entry.th32ProcessID);
    return ids;
}

void end_processes_named(const std::string& name) {
    for (DWORD id : processes_named(name)) {
        ramclean::handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process) continue;
        TerminateProcess(process.get(), 99);
        WaitForSingleObject(process.get(), 5000);
    }
}

int free_gdi_slots() {
    std::vector<ramclean::gdi_object> pens;
    for (;;) {
        ramclean::gdi_object pen(CreatePen(PS_SOLID, 1, RGB(1, 2, 3)));
        if (!pen) break;
        pens.push_back(std::move(pen));
    }
    return static_cast<int>(pens.size());
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pump_messages();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(20);
    }
}

void pump_messages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace test_support
