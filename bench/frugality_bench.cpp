// How much processor time and memory a cleaning costs: the pumping wait on its own (with
// and without a pending WM_QUIT), and a whole ramclean-auto run started as a user would.
// Prints one line per measurement; run with `scripts/test.sh --bench`.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "handles.h"
#include "main_window.h"
#include "pumping_wait.h"

namespace {

double cpu_ms(HANDLE process) {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(process, &created, &ended, &kernel, &user);
    auto ms = [](FILETIME t) {
        return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

void measure_wait(const char* what, int duration_ms, bool quit_pending) {
    if (quit_pending) PostQuitMessage(0);
    const double cpu_before = cpu_ms(GetCurrentProcess());
    const ULONGLONG started = GetTickCount64();
    ramclean::pumping_wait(duration_ms);
    const double wall = static_cast<double>(GetTickCount64() - started);
    const double cpu = cpu_ms(GetCurrentProcess()) - cpu_before;
    std::printf("bench: pumping_wait %d ms%s: wall %.0f ms, processor %.1f ms (%.2f%%)\n",
                duration_ms, what, wall, cpu, 100.0 * cpu / wall);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

std::string program_path(const char* name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

bool measure_automatic_run() {
    std::string line = "\"" + program_path("ramclean-auto.exe") + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const ULONGLONG started = GetTickCount64();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    ramclean::handle process(info.hProcess), thread(info.hThread);
    WaitForSingleObject(process.get(), 60000);
    const double wall = static_cast<double>(GetTickCount64() - started);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(process.get(), &memory, sizeof memory);
    std::printf(
        "bench: ramclean-auto run: exit code %lu, wall %.0f ms, processor %.1f ms (%.2f%%), "
        "peak working set %.1f MiB\n",
        code, wall, cpu_ms(process.get()), 100.0 * cpu_ms(process.get()) / wall,
        memory.PeakWorkingSetSize / 1048576.0);
    return code == 0;
}

}  // namespace

int main() {
    ramclean::program_settings settings;
    settings.visible = false;
    if (!ramclean::create_main_window(settings)) return 1;
    measure_wait("", 3000, false);
    measure_wait(" with WM_QUIT pending", 3000, true);
    return measure_automatic_run() ? 0 : 1;
}
