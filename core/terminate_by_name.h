#pragma once
// Ends one running process that a name points at.

namespace ramclean {

// The owner of a top-level window titled `name`, or else the first process in the
// process list whose image file name matches `name` (same_image_name), is ended with
// exit code 0. At most one process is ended. True when TerminateProcess succeeded.
bool terminate_by_name(const char* name);

// Whole names, regardless of the case of ASCII letters and, on a double-byte ANSI code
// page, of double-byte characters; every other byte must be equal.
[[nodiscard]] bool same_image_name(const char* name, const char* image_name);

}  // namespace ramclean
