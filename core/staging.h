#pragma once
// The two files a cleaning run needs in C:\ (the memory tool and the cleaning script), the
// constant blocks they are written from, and the file operations that stage and remove them.
#include <windows.h>

#include <cstdint>

#include "file_security.h"
#include "handles.h"

namespace ramclean {

// A count and that many bytes of constant data; a file written from it holds the bytes alone.
struct byte_block {
    std::int32_t count;
    const unsigned char* bytes;
};

inline constexpr char tool_image_path[] = "C:\\RAMMap.exe";
inline constexpr char cleaning_script_path[] = "C:\\QOLMEDR.bat";
// Name of the RCDATA resource that carries the tool image in both programs.
inline constexpr char tool_image_resource[] = "TOOL_IMAGE";

// The cleaning script: seven lines, CR LF between them, none after the last.
byte_block cleaning_script_block();
// The tool image from the running executable's resources; {0, nullptr} when it has none.
byte_block tool_image_block();

// True when a directory entry of that name exists, of any kind; any error reads as absent.
[[nodiscard]] bool file_exists(const char* path);
// Writes the block to a new file under an unpredictable temporary name next to `path`, with
// the protected descriptor of file_security.h, and then moves it to `path`. Without
// `replace_existing`, whatever appeared at `path` meanwhile stays and the move fails with
// ERROR_ALREADY_EXISTS. On any failure the temporary file is gone again and `path` is as it
// was; GetLastError() tells why the failing step failed. An empty block writes nothing and
// fails with ERROR_NO_DATA: an empty file would pass for the real one.
bool place_file(const char* path, byte_block block, bool replace_existing);
// DeleteFileA, nothing more: no attribute is cleared and nothing is retried.
bool delete_file(const char* path);

// A file held open for reading while others may only read it too: until it is released,
// nobody can write, truncate, rename or delete the file, so what was checked through the
// holder is what a reader of the file gets.
class held_file {
public:
    held_file() = default;
    // Opens an existing file; an empty holder (GetLastError() tells why) when it cannot.
    explicit held_file(const char* path);

    [[nodiscard]] explicit operator bool() const noexcept { return static_cast<bool>(file_); }
    [[nodiscard]] HANDLE get() const noexcept { return file_.get(); }
    // True when the file holds exactly the bytes of `block`, read through this holder.
    [[nodiscard]] bool holds_exactly(byte_block block) const;
    // Closes the file: from here on others may change it again.
    void release() noexcept { file_.reset(); }

private:
    file_handle file_;
};

// Tells whether other users may change an open file (file_writable_by_others); tests give
// another judge, as the file system under test may not keep security descriptors.
using security_judge = bool (*)(HANDLE file);

// Puts the tool image in place and holds it. A file already at its path is used as it is,
// unless other users may change it: then it is re-created protected when its bytes are exactly
// ours, and refused (ERROR_INVALID_SECURITY_DESCR) when they are not. ERROR_SUCCESS, or the
// error that stopped it.
DWORD hold_tool_image(held_file& held, security_judge judge = file_writable_by_others);
// Puts the cleaning script in place, re-written protected unless it is our exact script in a
// file others cannot change, and holds it with its bytes checked through the holder.
// ERROR_SUCCESS, or the error that stopped it.
DWORD hold_cleaning_script(held_file& held, security_judge judge = file_writable_by_others);

// At start-up: the tool image as hold_tool_image places it, and the cleaning script when
// nothing of its name exists. Results are not looked at; each run checks again.
void stage_tools();

}  // namespace ramclean
