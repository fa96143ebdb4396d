#include "hidden_launch.h"

#include <string>

namespace ramclean {
namespace {

// CreateProcessA with the window hidden; on failure GetLastError() tells why.
bool create_hidden(const char* command_line, const char* current_folder, DWORD flags,
                   PROCESS_INFORMATION& info) {
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
        created = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                 current_folder, &startup, &info);
        if (!created) error = GetLastError();
    }
    // Freeing the copy may have touched the last error; the caller reads it.
    if (!created) SetLastError(error);
    return created != FALSE;
}

// A new job whose processes end when its last handle is closed, so that they cannot outlive
// us if we are ended before we end them; null when the system refuses one.
handle new_job() {
    handle job(CreateJobObjectA(nullptr, nullptr));
    if (!job) return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    // Without the limit the job is still ours to end.
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

}  // namespace

bool hidden_launch(const char* command_line, const char* current_folder) {
    PROCESS_INFORMATION info{};
    if (!create_hidden(command_line, current_folder, 0, info)) return false;
    handle process(info.hProcess);
    handle thread(info.hThread);  // closed first, as it was declared last
    WaitForInputIdle(process.get(), 1000);
    return true;
}

bool launched_job::end_all(DWORD timeout_ms) {
    if (!job_) return false;
    TerminateJobObject(job_.get(), 0);
    const DWORD start = GetTickCount();
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (!QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                       sizeof accounting, nullptr))
            return false;
        if (accounting.ActiveProcesses == 0) return true;
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(10);
    }
}

launched_job hidden_launch_in_job(const char* command_line, const char* current_folder) {
    PROCESS_INFORMATION info{};
    // Breaking away from a job we may sit in keeps ours the process's only job, which systems
    // without nested jobs require; a job that allows no breakaway refuses it with access denied.
    if (!create_hidden(command_line, current_folder, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB,
                       info) &&
        (GetLastError() != ERROR_ACCESS_DENIED ||
         !create_hidden(command_line, current_folder, CREATE_SUSPENDED, info)))
        return {};
    handle process(info.hProcess);
    handle thread(info.hThread);
    handle job = new_job();
    if (job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();
    // With or without a job, the process must not stay suspended.
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        TerminateProcess(process.get(), 1);
        SetLastError(error);
        return {};
    }
    WaitForInputIdle(process.get(), 1000);
    return launched_job(std::move(job));
}

}  // namespace ramclean
