#pragma once
// Starts a command line as a process of its own with its window hidden.
#include <windows.h>

namespace ramclean {

// Creates the process (no application name, the command line passed unchanged, the
// caller's environment) in `current_folder` (null: the caller's current directory), gives
// it up to a second to become idle and lets it go. True when the process was created;
// when not, GetLastError() still tells why.
[[nodiscard]] bool hidden_launch(const char* command_line, const char* current_folder = nullptr);

}  // namespace ramclean
