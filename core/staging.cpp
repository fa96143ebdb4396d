#include "staging.h"

#include <windows.h>

#include <string>
#include <vector>

#include "file_security.h"
#include "files.h"
#include "handles.h"
#include "last_error.h"
#include "resources.h"

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

// "C:\RAMMap.exe" -> "C:\RAMMap.exe.<16 random hex digits>.tmp": nobody can prepare a file of
// that name in advance.
bool temporary_name(const char* path, std::string& name) {
    const auto random = random_hex(8);
    if (!random) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    name = std::string(path) + "." + *random + ".tmp";
    return true;
}

// One WriteFile for the whole block, then to the disk: the name the file is moved to next must
// never stand for fewer bytes, not even after a power cut.
bool write_block(HANDLE file, byte_block block) {
    DWORD written = 0;
    const DWORD count = static_cast<DWORD>(block.count);
    if (!WriteFile(file, block.bytes, count, &written, nullptr)) return false;
    if (written != count) {
        // A short write that reports success: the volume had no room for the rest.
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return FlushFileBuffers(file) != 0;
}

bool is_directory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

byte_block cleaning_script_block() {
    return {static_cast<std::int32_t>(sizeof cleaning_script), cleaning_script};
}

byte_block tool_image_block() {
    const resource_data image = rcdata_resource(tool_image_resource);
    if (image.size == 0 || image.size > 0x7FFFFFFF) return {0, nullptr};
    return {static_cast<std::int32_t>(image.size), image.bytes};
}

bool file_exists(const char* path) {
    WIN32_FIND_DATAA entry;
    find_handle search(FindFirstFileA(path, &entry));
    return static_cast<bool>(search);
}

bool place_file(const char* path, byte_block block, bool replace_existing) {
    if (path == nullptr || path[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (block.count <= 0 || block.bytes == nullptr) {
        SetLastError(ERROR_NO_DATA);
        return false;
    }
    std::vector<unsigned char> security = protected_file_security();
    if (security.empty()) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.data(), FALSE};
    std::string temporary;
    file_handle file;
    for (int attempt = 0; attempt < 3 && !file; ++attempt) {
        if (!temporary_name(path, temporary)) return false;
        file.reset(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (!file) return false;
    if (!write_block(file.get(), block) || !file.reset() ||
        !MoveFileExA(temporary.c_str(), path, replace_existing ? MOVEFILE_REPLACE_EXISTING : 0)) {
        last_error_keeper keep;
        file.reset();
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

bool delete_file(const char* path) { return DeleteFileA(path) != 0; }

held_file::held_file(const char* path)
    : file_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr)) {}

bool held_file::holds_exactly(byte_block block) const {
    return file_ && block.count >= 0 &&
           file_holds_exactly(file_.get(), block.bytes, static_cast<size_t>(block.count));
}

DWORD hold_tool_image(held_file& held, security_judge judge) {
    held.release();
    const byte_block image = tool_image_block();
    if (!file_exists(tool_image_path)) {
        // An empty file would count as the tool ever after.
        if (image.count <= 0) return ERROR_RESOURCE_DATA_NOT_FOUND;
        // Something that appeared meanwhile wins, and is judged like any file found there.
        if (!place_file(tool_image_path, image, false) && GetLastError() != ERROR_ALREADY_EXISTS &&
            GetLastError() != ERROR_FILE_EXISTS)
            return last_error_or(ERROR_GEN_FAILURE);
    }
    if (is_directory(tool_image_path)) return ERROR_DIRECTORY;
    held = held_file(tool_image_path);
    if (!held) return last_error_or(ERROR_GEN_FAILURE);
    if (!judge(held.get())) return ERROR_SUCCESS;

    // Other users may change it: only our own bytes are kept, and in a file of our own.
    const bool ours = image.count > 0 && held.holds_exactly(image);
    held.release();
    if (!ours) return ERROR_INVALID_SECURITY_DESCR;
    if (!place_file(tool_image_path, image, true)) return last_error_or(ERROR_GEN_FAILURE);
    held = held_file(tool_image_path);
    if (!held) return last_error_or(ERROR_GEN_FAILURE);
    if (held.holds_exactly(image)) return ERROR_SUCCESS;
    held.release();
    return ERROR_INVALID_DATA;
}

DWORD hold_cleaning_script(held_file& held, security_judge judge) {
    const byte_block script = cleaning_script_block();
    DWORD error = ERROR_GEN_FAILURE;
    // A program that keeps rewriting the script can win a round, rarely ten in a row.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt > 0) Sleep(20);
        held = held_file(cleaning_script_path);
        if (held && held.holds_exactly(script) && !judge(held.get())) return ERROR_SUCCESS;
        held.release();
        if (is_directory(cleaning_script_path)) return ERROR_DIRECTORY;
        // Whatever else is there is replaced: a run starts our script only, from our own file.
        if (!place_file(cleaning_script_path, script, true)) {
            error = last_error_or(ERROR_GEN_FAILURE);
            continue;
        }
        held = held_file(cleaning_script_path);
        if (held && held.holds_exactly(script)) return ERROR_SUCCESS;
        error = held ? ERROR_INVALID_DATA : last_error_or(ERROR_GEN_FAILURE);
        held.release();
    }
    return error;
}

void stage_tools() {
    held_file image;
    hold_tool_image(image);
    if (!file_exists(cleaning_script_path))
        place_file(cleaning_script_path, cleaning_script_block(), false);
}

}  // namespace ramclean
