#include "files.h"

#include <windows.h>
// Needs the types of windows.h.
#include <ntsecapi.h>

#include <cstring>
#include <vector>

namespace ramclean {

bool file_holds_exactly(HANDLE file, const void* bytes, std::size_t count) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) != count || count > MAXDWORD)
        return false;
    std::vector<unsigned char> content(count);
    DWORD done = 0;
    while (done < count) {
        OVERLAPPED at{};  // from the start, wherever the file pointer is
        at.Offset = done;
        DWORD read = 0;
        if (!ReadFile(file, content.data() + done, static_cast<DWORD>(count) - done, &read, &at) ||
            read == 0)
            return false;
        done += read;
    }
    return count == 0 || std::memcmp(content.data(), bytes, count) == 0;
}

std::optional<std::string> random_hex(std::size_t byte_count) {
    std::vector<unsigned char> random(byte_count);
    if (!RtlGenRandom(random.data(), static_cast<ULONG>(random.size()))) return std::nullopt;
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : random) {
        text += hex[byte >> 4];
        text += hex[byte & 0xF];
    }
    return text;
}

}  // namespace ramclean
