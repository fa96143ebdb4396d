#include "staging.h"

#include <windows.h>

#include "handles.h"

namespace ramclean {

namespace {

// "cd C:\", the tool's five options, "exit". The command name must find C:\RAMMap.exe once
// the script has changed to C:\; the last option ends in the digit zero.
constexpr unsigned char cleaning_script[] = {
    'c', 'd', ' ', 'C', ':', '\\', '\r', '\n',                        //
    'R', 'a', 'm', 'm', 'a', 'p',  ' ',  '-',  'e', 'w', '\r', '\n',  //
    'R', 'a', 'm', 'm', 'a', 'p',  ' ',  '-',  'e', 's', '\r', '\n',  //
    'R', 'a', 'm', 'm', 'a', 'p',  ' ',  '-',  'e', 'm', '\r', '\n',  //
    'R', 'a', 'm', 'm', 'a', 'p',  ' ',  '-',  'e', 't', '\r', '\n',  //
    'R', 'a', 'm', 'm', 'a', 'p',  ' ',  '-',  'e', '0', '\r', '\n',  //
    'e', 'x', 'i', 't'};
static_assert(sizeof cleaning_script == 72, "the cleaning script is 72 bytes");

// Keeps GetLastError() of a failed step while the cleanup after it makes calls of its own.
class last_error_keeper {
public:
    last_error_keeper() noexcept : error_(GetLastError()) {}
    last_error_keeper(const last_error_keeper&) = delete;
    last_error_keeper& operator=(const last_error_keeper&) = delete;
    ~last_error_keeper() { SetLastError(error_); }

private:
    DWORD error_;
};

// Closes (if still open) and deletes a file that a failed write left behind.
void discard(file_handle& file, const char* path) {
    last_error_keeper keep;
    file.reset();
    DeleteFileA(path);
}

}  // namespace

byte_block cleaning_script_block() {
    return {static_cast<std::int32_t>(sizeof cleaning_script), cleaning_script};
}

byte_block tool_image_block() {
    HRSRC info = FindResourceA(nullptr, tool_image_resource, RT_RCDATA);
    if (info == nullptr) return {0, nullptr};
    HGLOBAL loaded = LoadResource(nullptr, info);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(nullptr, info);
    if (bytes == nullptr || size == 0 || size > 0x7FFFFFFF) return {0, nullptr};
    return {static_cast<std::int32_t>(size), static_cast<const unsigned char*>(bytes)};
}

bool file_exists(const char* path) {
    WIN32_FIND_DATAA entry;
    find_handle search(FindFirstFileA(path, &entry));
    return static_cast<bool>(search);
}

bool write_whole_file(const char* path, byte_block block) {
    if (path == nullptr || path[0] == '\0') return false;
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    file_handle file(CreateFileA(path, GENERIC_WRITE, 0, &security, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (block.count > 0) {
        DWORD written = 0;
        const DWORD count = static_cast<DWORD>(block.count);
        if (!WriteFile(file.get(), block.bytes, count, &written, nullptr)) {
            discard(file, path);
            return false;
        }
        if (written != count) {
            // A short write that reports success: the volume had no room for the rest.
            SetLastError(ERROR_DISK_FULL);
            discard(file, path);
            return false;
        }
    }
    if (!file.reset()) {
        // Whatever reached the disk may not be all of it.
        discard(file, path);
        return false;
    }
    return true;
}

bool delete_file(const char* path) { return DeleteFileA(path) != 0; }

void stage_tools() {
    if (!file_exists(tool_image_path)) {
        // A build without the tool image must not leave an empty C:\RAMMap.exe that no later
        // start would ever replace.
        if (const byte_block image = tool_image_block(); image.count > 0)
            write_whole_file(tool_image_path, image);
    }
    if (!file_exists(cleaning_script_path))
        write_whole_file(cleaning_script_path, cleaning_script_block());
}

}  // namespace ramclean
