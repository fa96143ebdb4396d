#pragma once
// Starting processes with their window hidden, and where the running program lives.
#include <windows.h>

#include <optional>
#include <string>

#include "handles.h"

namespace ramclean {

// CreateProcessA with STARTF_USESHOWWINDOW and SW_HIDE and nothing else in the start-up record,
// no inheritance and the caller's environment; `application` may be null (the command line
// names the program), `folder` null (the caller's current directory). The command line is
// passed unchanged. On failure GetLastError() tells why.
bool create_hidden_process(const char* application, const char* command_line, const char* folder,
                           DWORD flags, process_information& started);

// The folder of the running executable, without a trailing backslash but for a drive root,
// which keeps it ("C:" alone would mean drive C's remembered folder). nullopt when the path
// does not fit a MAX_PATH buffer (a cut path would name the wrong folder).
[[nodiscard]] std::optional<std::string> executable_folder();

}  // namespace ramclean
