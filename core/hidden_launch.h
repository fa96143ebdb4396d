#pragma once
// Starts a command line as a process of its own with its window hidden.
#include <windows.h>

#include "handles.h"

namespace ramclean {

// Creates the process (no application name, the command line passed unchanged, the
// caller's environment) in `current_folder` (null: the caller's current directory), gives
// it up to a second to become idle and lets it go. True when the process was created;
// when not, GetLastError() still tells why.
[[nodiscard]] bool hidden_launch(const char* command_line, const char* current_folder = nullptr);

// A process started by hidden_launch_in_job and the job that holds it and every process it
// starts. Closing the job ends them all, so nothing of a launch outlives its owner.
class launched_job {
public:
    launched_job() noexcept = default;  // no process
    // A created process, in `job` or (null) in none.
    explicit launched_job(handle job) noexcept : job_(std::move(job)), created_(true) {}

    // The process was created (in a job or not).
    [[nodiscard]] explicit operator bool() const noexcept { return created_; }
    // The process sits in a job of ours; false where the system refused one.
    [[nodiscard]] bool in_job() const noexcept { return static_cast<bool>(job_); }

    // Ends every process of the job and waits up to `timeout_ms` for them to be gone. True
    // when none is left; false when some still run or there is no job to end.
    bool end_all(DWORD timeout_ms);

private:
    handle job_;
    bool created_ = false;
};

// hidden_launch, but the process is created suspended, put into a new job and only then
// resumed, so that whatever it starts belongs to the job as well. Where no job can be had
// (we sit in a job that allows no breakaway and the system does not nest jobs), the process
// runs without one. Converts to false when the process could not be created; GetLastError()
// then tells why.
[[nodiscard]] launched_job hidden_launch_in_job(const char* command_line,
                                                const char* current_folder = nullptr);

}  // namespace ramclean
