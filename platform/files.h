#pragma once
// Checking what a file holds through a handle we keep, and names nobody can guess.
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace ramclean {

// True when the open file (read access) holds exactly `count` bytes equal to `bytes`. Reads
// from the start through the handle whatever its file pointer, so that what is compared is
// what a holder of that handle keeps others from changing.
[[nodiscard]] bool file_holds_exactly(HANDLE file, const void* bytes, std::size_t count);

// `byte_count` bytes from the system's random generator as lower-case hex digits: a name
// nobody can prepare a file or folder under beforehand. nullopt when the generator fails.
[[nodiscard]] std::optional<std::string> random_hex(std::size_t byte_count);

}  // namespace ramclean
