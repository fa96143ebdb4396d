#include "hidden_launch.h"

#include <string>

#include "handles.h"

namespace ramclean {

bool hidden_launch(const char* command_line, const char* current_folder) {
    STARTUPINFOA startup{};
    static_assert(sizeof startup == (sizeof(void*) == 4 ? 68 : 104),
                  "the start-up record of the ANSI interface");
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    PROCESS_INFORMATION info{};
    BOOL created = FALSE;
    DWORD error = 0;
    {
        // CreateProcessA may write into the command line, so it gets a copy.
        std::string line = command_line != nullptr ? command_line : "";
        created = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 current_folder, &startup, &info);
        if (!created) error = GetLastError();
    }
    if (!created) {
        // Freeing the copy may have touched the last error; the caller reads it.
        SetLastError(error);
        return false;
    }
    handle process(info.hProcess);
    handle thread(info.hThread);  // closed first, as it was declared last
    WaitForInputIdle(process.get(), 1000);
    return true;
}

}  // namespace ramclean
