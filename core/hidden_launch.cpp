#include "hidden_launch.h"

#include "last_error.h"
#include "process.h"

namespace ramclean {
namespace {

// No application name: the command line alone names what to run, as a user would type it.
bool create_hidden(const char* command_line, const char* current_folder, DWORD flags,
                   process_information& started) {
    return create_hidden_process(nullptr, command_line, current_folder, flags, started);
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
    process_information started;
    if (!create_hidden(command_line, current_folder, 0, started)) return false;
    WaitForInputIdle(started.process(), 1000);
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
    process_information started;
    // Breaking away from a job we may sit in keeps ours the process's only job, which systems
    // without nested jobs require; a job that allows no breakaway refuses it with access denied.
    if (!create_hidden(command_line, current_folder, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB,
                       started) &&
        (GetLastError() != ERROR_ACCESS_DENIED ||
         !create_hidden(command_line, current_folder, CREATE_SUSPENDED, started)))
        return {};
    handle job = new_job();
    if (job && !AssignProcessToJobObject(job.get(), started.process())) job.reset();
    // With or without a job, the process must not stay suspended.
    if (ResumeThread(started.thread()) == static_cast<DWORD>(-1)) {
        const last_error_keeper keep;
        TerminateProcess(started.process(), 1);
        return {};
    }
    WaitForInputIdle(started.process(), 1000);
    return launched_job(std::move(job));
}

}  // namespace ramclean
