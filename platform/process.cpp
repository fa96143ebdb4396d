#include "process.h"

namespace ramclean {

bool create_hidden_process(const char* application, const char* command_line, const char* folder,
                           DWORD flags, process_information& started) {
    STARTUPINFOA startup{};
    static_assert(sizeof startup == (sizeof(void*) == 4 ? 68 : 104),
                  "the start-up record of the ANSI interface");
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    BOOL created = FALSE;
    DWORD error = 0;
    {
        // CreateProcessA may write into the command line, so it gets a copy.
        std::string line = command_line != nullptr ? command_line : "";
        created = CreateProcessA(application, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                 folder, &startup, started.put());
        if (!created) error = GetLastError();
    }
    // Freeing the copy may have touched the last error; the caller reads it.
    if (!created) SetLastError(error);
    return created != FALSE;
}

std::optional<std::string> executable_folder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    char* last = nullptr;
    for (char* p = path; *p != '\0'; p = CharNextA(p))
        if (*p == '\\') last = p;
    if (last == nullptr) return std::nullopt;
    if (last == path + 2 && path[1] == ':') ++last;
    *last = '\0';
    return std::string(path);
}

}  // namespace ramclean
