#pragma once
// The two files a cleaning run needs in C:\ (the memory tool and the cleaning script), the
// constant blocks they are written from, and the file operations that stage and remove them.
#include <cstdint>

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
// Creates or truncates the file and writes the whole block in one call. On failure after the
// file was created or truncated, the file is deleted again so that no partial copy survives;
// GetLastError() then still tells why the failing step failed.
bool write_whole_file(const char* path, byte_block block);
// DeleteFileA, nothing more: no attribute is cleared and nothing is retried.
bool delete_file(const char* path);

// Writes the tool image, then the cleaning script, each only when nothing of its name exists.
void stage_tools();

}  // namespace ramclean
