// Keeps trying to put other bytes into every RAMMap64.exe it finds in a folder or in the
// folders inside it: by writing over the file, and by moving a copy over its name, again and
// again for as long as the file is there. Runs until the named event is set (a minute at most).
// Usage: twin_rewriter <folder> <file with the other bytes> <event name>
// Exit code: 1 when it found such a file at least once, plus 2 when a rewrite succeeded.
#include <stdlib.h>  // __argc, __argv
#include <windows.h>

#include <string>
#include <vector>

#include "handles.h"

namespace {

using ramclean::file_handle;

constexpr char target_name[] = "RAMMap64.exe";

std::string read_all(const std::string& path) {
    file_handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

// The target files now present: in the folder itself and one level down.
std::vector<std::string> targets(const std::string& folder) {
    std::vector<std::string> found;
    const auto consider = [&](const std::string& path) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) found.push_back(path);
    };
    consider(folder + "\\" + target_name);
    WIN32_FIND_DATAA entry;
    ramclean::find_handle search(FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (!search) return found;
    do {
        const std::string name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..")
            consider(folder + "\\" + name + "\\" + target_name);
    } while (FindNextFileA(search.get(), &entry));
    return found;
}

bool write_over(const std::string& path, const std::string& bytes) {
    file_handle file(CreateFileA(path.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size() && SetEndOfFile(file.get());
}

bool move_over(const std::string& path, const std::string& source) {
    const std::string copy = source + ".move";
    if (!CopyFileA(source.c_str(), copy.c_str(), FALSE)) return false;
    if (MoveFileExA(copy.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileA(copy.c_str());
    return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 4) return 99;
    const std::string folder = __argv[1], source = __argv[2];
    const std::string bytes = read_all(source);
    ramclean::handle stop(OpenEventA(SYNCHRONIZE, FALSE, __argv[3]));
    if (bytes.empty() || !stop) return 99;
    bool found = false, rewritten = false;
    const ULONGLONG end = GetTickCount64() + 60000;
    const auto stopped = [&] {
        return WaitForSingleObject(stop.get(), 0) != WAIT_TIMEOUT || GetTickCount64() >= end;
    };
    while (!stopped()) {
        // Once found, a file is tried again and again for as long as it is there.
        for (const std::string& target : targets(folder)) {
            found = true;
            while (!stopped() && GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES)
                if (write_over(target, bytes) || move_over(target, source)) rewritten = true;
        }
        Sleep(0);
    }
    return (found ? 1 : 0) | (rewritten ? 2 : 0);
}
