#include "test_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "main_window.h"
#include "process.h"

namespace test_support {

namespace {

// The headers as `Headers` (IMAGE_NT_HEADERS32 or 64), each read checked against the image.
template <typename Headers>
std::optional<pe_facts> read_pe_as(const std::string& image, size_t nt_offset) {
    if (nt_offset + sizeof(Headers) > image.size()) return std::nullopt;
    Headers nt;
    std::memcpy(&nt, image.data() + nt_offset, sizeof nt);
    pe_facts facts{{nt.FileHeader.Machine, nt.OptionalHeader.Magic, nt.OptionalHeader.Subsystem},
                   {}};
    const size_t sections_offset =
        nt_offset + offsetof(Headers, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    const size_t section_count = nt.FileHeader.NumberOfSections;
    if (sections_offset + section_count * sizeof(IMAGE_SECTION_HEADER) > image.size())
        return std::nullopt;
    std::vector<IMAGE_SECTION_HEADER> sections(section_count);
    std::memcpy(sections.data(), image.data() + sections_offset,
                section_count * sizeof(IMAGE_SECTION_HEADER));
    auto offset_of = [&](DWORD rva) -> std::optional<size_t> {
        for (const auto& s : sections)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize)
                return size_t{rva - s.VirtualAddress + s.PointerToRawData};
        return std::nullopt;
    };
    if (nt.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) return facts;
    const auto& directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return facts;
    auto entry_offset = offset_of(directory.VirtualAddress);
    for (; entry_offset; *entry_offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        if (*entry_offset + sizeof(IMAGE_IMPORT_DESCRIPTOR) > image.size()) return std::nullopt;
        IMAGE_IMPORT_DESCRIPTOR entry;
        std::memcpy(&entry, image.data() + *entry_offset, sizeof entry);
        if (entry.Name == 0) return facts;
        const auto name_offset = offset_of(entry.Name);
        if (!name_offset || *name_offset >= image.size()) return std::nullopt;
        std::string name(image.c_str() + *name_offset);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        facts.imported_dlls.push_back(name);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> version_string(const std::string& path, const std::string& key) {
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    if (block.empty() ||
        !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
        return std::nullopt;
    char* value = nullptr;
    UINT length = 0;
    const std::string query = "\\StringFileInfo\\080404B0\\" + key;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return std::nullopt;
    return std::string(value);
}

std::optional<pe_facts> read_pe(const std::string& image) {
    IMAGE_DOS_HEADER dos;
    if (image.size() < sizeof dos) return std::nullopt;
    std::memcpy(&dos, image.data(), sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return std::nullopt;
    const size_t nt_offset = static_cast<size_t>(dos.e_lfanew);
    // The optional header's magic tells the two forms apart; it follows the file header.
    const size_t magic_offset = nt_offset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader);
    WORD magic = 0;
    if (magic_offset + sizeof magic > image.size()) return std::nullopt;
    std::memcpy(&magic, image.data() + magic_offset, sizeof magic);
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return read_pe_as<IMAGE_NT_HEADERS64>(image, nt_offset);
    return read_pe_as<IMAGE_NT_HEADERS32>(image, nt_offset);
}

std::string executable_folder() { return ramclean::executable_folder().value_or(""); }
std::optional<pe_facts> read_pe_file(const std::string& path) {
    const auto image = read_file(path);
    return image ? read_pe(*image) : std::nullopt;
}

std::ostream& operator<<(std::ostream& out, const pe_form& form) {
    return out << std::hex << "machine 0x" << form.machine << ", magic 0x" << form.magic << std::dec
               << ", subsystem " << form.subsystem;
}

ramclean::module_handle load_as_data(const std::string& path) {
    return ramclean::module_handle(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

std::optional<std::string> resource_bytes(HMODULE module, LPCSTR type, LPCSTR name,
                                          std::optional<WORD> language) {
    HRSRC found = language ? FindResourceExA(module, type, name, *language)
                           : FindResourceA(module, name, type);
    if (found == nullptr) return std::nullopt;
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    if (bytes == nullptr) return std::nullopt;
    return std::string(bytes, SizeofResource(module, found));
}

std::optional<std::string> resource_of(const std::string& path, LPCSTR type, LPCSTR name) {
    const ramclean::module_handle module = load_as_data(path);
    if (!module) return std::nullopt;
    return resource_bytes(module.get(), type, name);
}

std::string bytes_of(const ramclean::byte_block& block) {
    if (block.bytes == nullptr || block.count <= 0) return {};
    return std::string(reinterpret_cast<const char*>(block.bytes),
                       static_cast<size_t>(block.count));
}

std::string bin_path(const std::string& name) { return executable_folder() + "\\" + name; }

std::string command_line(const std::string& program, const std::string& arguments) {
    return "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
}

namespace {

// Starts a command line, with `token` when there is one (else with ours).
started_process start_with(HANDLE token, const std::string& command_line, const char* folder) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ramclean::process_information info;
    const bool started = retrying_wine_start_failures([&] {
        std::string line = command_line;
        return token != nullptr
                   ? CreateProcessAsUserA(token, nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, folder, &startup, info.put()) != 0
                   : CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                    folder, &startup, info.put()) != 0;
    });
    if (!started) return {};
    const DWORD id = info.process_id();
    return {info.take_process(), id};
}

}  // namespace

bool retrying_wine_start_failures(const std::function<bool()>& start) {
    for (int attempt = 1;; ++attempt) {
        if (start()) return true;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3) return false;
        Sleep(50);
    }
}

started_process start_process(const std::string& command_line, const char* folder) {
    return start_with(nullptr, command_line, folder);
}

started_process start_process_without_privilege(const char* privilege,
                                                const std::string& command_line,
                                                const char* folder) {
    ramclean::handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, token.put())) return {};
    ramclean::handle primary;
    if (!DuplicateTokenEx(token.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, primary.put()))
        return {};
    TOKEN_PRIVILEGES removal{};
    removal.PrivilegeCount = 1;
    removal.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
    if (!LookupPrivilegeValueA(nullptr, privilege, &removal.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(primary.get(), FALSE, &removal, 0, nullptr, nullptr))
        return {};
    return start_with(primary.get(), command_line, folder);
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

std::vector<std::string> file_lines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = read_file(path).value_or("");
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void remove_entry(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryA(path.c_str());
    else
        DeleteFileA(path.c_str());
}

namespace {

// The entries of a folder as a search lists them, "." and ".." left out.
std::vector<WIN32_FIND_DATAA> listing(const std::string& folder) {
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA found;
    ramclean::find_handle search(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!search) return entries;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") entries.push_back(found);
    } while (FindNextFileA(search.get(), &found));
    return entries;
}

// Removes a folder and what is in it. A link to a folder (a reparse point) is removed as a
// link: what it points at is not ours to empty.
void remove_tree(const std::string& folder) {
    for (const WIN32_FIND_DATAA& entry : listing(folder)) {
        const std::string path = folder + "\\" + entry.cFileName;
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            remove_tree(path);
        else
            remove_entry(path);
    }
    RemoveDirectoryA(folder.c_str());
}

}  // namespace

std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const WIN32_FIND_DATAA& entry : listing(folder)) names.push_back(entry.cFileName);
    std::sort(names.begin(), names.end());
    return names;
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

temp_folder::~temp_folder() { remove_tree(path_); }

environment_setting::environment_setting(const char* name, const std::string& value) : name_(name) {
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);  // with the terminating null
    if (size > 0) {
        std::string old(size, '\0');
        const DWORD length = GetEnvironmentVariableA(name, old.data(), size);
        if (length < size) old_ = old.substr(0, length);
    }
    SetEnvironmentVariableA(name, value.c_str());
}

environment_setting::~environment_setting() {
    SetEnvironmentVariableA(name_, old_ ? old_->c_str() : nullptr);
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

double processor_ms(HANDLE thread) {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return -1;
    const auto ms = [](FILETIME t) {
        return static_cast<double>((ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

namespace {
struct window_search {
    DWORD process_id;
    bool visible_only;
    std::vector<HWND> found;
};
BOOL CALLBACK collect_window(HWND hwnd, LPARAM data) noexcept {
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

std::string window_text(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string status_text(HWND main_window) {
    return window_text(GetDlgItem(main_window, ramclean::status_label_id));
}

bool wait_for_status_text(HWND main_window, const std::string& text,
                          std::chrono::milliseconds timeout) {
    return wait_until([&] { return status_text(main_window) == text; }, timeout);
}

HWND find_window(DWORD process_id, const std::string& title) {
    for (HWND hwnd : top_level_windows(process_id))
        if (window_text(hwnd) == title) return hwnd;
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

bool c_drive_is(const char* kind) {
    char drive[16] = {};
    const DWORD length = GetEnvironmentVariableA("RAMCLEAN_TEST_C_DRIVE", drive, sizeof drive);
    return length > 0 && length < sizeof drive && std::strcmp(drive, kind) == 0;
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
