#pragma once
// GetLastError() of a failed step, kept for the caller who asks why.
#include <windows.h>

namespace ramclean {

// Keeps GetLastError() of a failed step while the cleanup after it makes calls of its own.
class last_error_keeper {
public:
    last_error_keeper() noexcept : error_(GetLastError()) {}
    last_error_keeper(const last_error_keeper&) = delete;
    last_error_keeper& operator=(const last_error_keeper&) = delete;
    ~last_error_keeper() { SetLastError(error_); }

private:
    DWORD error_;
};

// The last error, or `fallback` when a failing call did not set one.
[[nodiscard]] inline DWORD last_error_or(DWORD fallback) noexcept {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace ramclean
